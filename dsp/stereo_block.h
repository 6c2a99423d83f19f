// The block loop a plug-in runs: for each frame, the left sample through
// channel 0 and then the right through channel 1, each output written before
// the next input is read, so in-place buffers work. 64-bit samples are
// rounded to single precision on the way in and widened on the way out.
#pragma once

#include "dsp/denormal_flush.h"
#include "dsp/op_amp_chain.h"
#include "dsp/stereo_frame_sse.h"

namespace varkel {

template <typename Sample>
void processStereoBlockScalar(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                              Sample* const* outputs, int sampleFrames, std::uint32_t& rng,
                              const NoiseTables& tables) {
    ChannelState left = ChannelState::load(state, 0);
    ChannelState right = ChannelState::load(state, 1);
    const Sample* inL = inputs[0];
    const Sample* inR = inputs[1];
    Sample* outL = outputs[0];
    Sample* outR = outputs[1];
    for (int i = 0; i < sampleFrames; ++i) {
        k.update(state);
        outL[i] = static_cast<Sample>(processSample(left, k, static_cast<float>(inL[i]), rng, tables));
        k.update(state);
        outR[i] = static_cast<Sample>(processSample(right, k, static_cast<float>(inR[i]), rng, tables));
    }
    left.store(state, 0);
    right.store(state, 1);
}

template <typename Sample>
void processStereoBlock(VarkelState& state, Sample* const* inputs, Sample* const* outputs,
                        int sampleFrames) {
    if (sampleFrames <= 0) return;
    ScopedDenormalFlush flush;
    const NoiseTables& tables = builtNoiseTables();
    ChainCoefficients k(state);
    k.update(state);
    std::uint32_t rng = randomState;

#if VARKEL_HAVE_SSE2_FRAME
    // Both channels of a frame are read before either is written, which only
    // matters when the left output is the right input itself.
    if (outputs[0] != inputs[1]) {
        const Sample* inL = inputs[0];
        const Sample* inR = inputs[1];
        Sample* outL = outputs[0];
        Sample* outR = outputs[1];
        StereoFrameSse frame(state, k);
        frame.setCoefficients(k);
        for (int i = 0; i < sampleFrames; ++i) {
            if (k.update(state)) frame.setCoefficients(k);
            const __m128 x = _mm_setr_ps(static_cast<float>(inL[i]), static_cast<float>(inR[i]), 0.0f, 0.0f);
            const __m128 y = frame.process(x, rng, tables);
            outL[i] = static_cast<Sample>(_mm_cvtss_f32(y));
            outR[i] = static_cast<Sample>(_mm_cvtss_f32(_mm_shuffle_ps(y, y, _MM_SHUFFLE(1, 1, 1, 1))));
        }
        frame.store(state);
        randomState = rng;
        return;
    }
#endif
    processStereoBlockScalar(state, k, inputs, outputs, sampleFrames, rng, tables);
    randomState = rng;
}

}  // namespace varkel
