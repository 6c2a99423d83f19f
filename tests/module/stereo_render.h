// Stereo signals and renders of them through a loaded instance, for the
// tests that compare one way of driving the module with another.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/plugin_instance.h"

namespace loaded {

struct Stereo {
    std::vector<float> left, right;
};

// Two sines of different pitch, so that swapped channels show.
inline Stereo testSignal(int frames, float leftAmplitude = 0.8f, float rightAmplitude = 0.8f) {
    Stereo s{std::vector<float>(frames), std::vector<float>(frames)};
    for (int i = 0; i < frames; ++i) {
        s.left[i] = leftAmplitude * std::sin(0.031f * static_cast<float>(i));
        s.right[i] = rightAmplitude * std::sin(0.0077f * static_cast<float>(i) + 1.0f);
    }
    return s;
}

// Renders frames [from, from + count) of the input in blocks of blockFrames.
// Each block goes through buffers of exactly its size, so that a read or
// write past the block's end shows under AddressSanitizer.
inline Stereo render(const varkel::host::PluginInstance& fx, const Stereo& in, int from, int count,
                     int blockFrames) {
    Stereo out{std::vector<float>(count), std::vector<float>(count)};
    for (int done = 0; done < count; done += blockFrames) {
        const int n = std::min(blockFrames, count - done);
        std::vector<float> inL(in.left.begin() + from + done, in.left.begin() + from + done + n);
        std::vector<float> inR(in.right.begin() + from + done, in.right.begin() + from + done + n);
        std::vector<float> outL(n), outR(n);
        float* inputs[2] = {inL.data(), inR.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        fx.process(inputs, outputs, n);
        std::copy(outL.begin(), outL.end(), out.left.begin() + done);
        std::copy(outR.begin(), outR.end(), out.right.begin() + done);
    }
    return out;
}

// The whole input, in blocks of blockFrames.
inline Stereo render(const varkel::host::PluginInstance& fx, const Stereo& in, int blockFrames) {
    return render(fx, in, 0, static_cast<int>(in.left.size()), blockFrames);
}

}  // namespace loaded
