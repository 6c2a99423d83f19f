#include "check/check_rig.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "engine/plugins/plugin_loader.h"

namespace varkel::check {

int BlockPattern::next() {
    if (frames > 0) return frames;
    // Half the blocks under 64 frames, where off-by-one faults show.
    std::uniform_int_distribution<int> coin(0, 1);
    std::uniform_int_distribution<int> small(1, 63);
    std::uniform_int_distribution<int> large(64, kLargestBlock);
    return coin(draw) == 0 ? small(draw) : large(draw);
}

std::string BlockPattern::describe() const {
    return frames > 0 ? "blocks of " + std::to_string(frames)
                      : "random blocks (seed " + std::to_string(seed) + ")";
}

Audio testSignal(int channels, std::size_t frames, double rate) {
    Audio audio(static_cast<std::size_t>(channels), std::vector<float>(frames));
    std::uint32_t hash = 0x9E3779B9u;
    for (std::size_t c = 0; c < audio.size(); ++c) {
        const double omega = 2.0 * std::numbers::pi * (220.0 * static_cast<double>(c + 1)) / rate;
        for (std::size_t n = 0; n < frames; ++n) {
            hash = hash * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(hash >> 8) / 16777216.0 - 0.5) * 0.2;
            audio[c][n] = static_cast<float>(0.4 * std::sin(omega * static_cast<double>(n)) + noise);
        }
    }
    return audio;
}

Audio silence(int channels, std::size_t frames) {
    return Audio(static_cast<std::size_t>(channels), std::vector<float>(frames, 0.0f));
}

std::optional<std::string> firstNonFinite(const Audio& audio) {
    for (std::size_t c = 0; c < audio.size(); ++c)
        for (std::size_t n = 0; n < audio[c].size(); ++n)
            if (!std::isfinite(audio[c][n]))
                return "output " + std::to_string(c + 1) + ", frame " + std::to_string(n) + " is " +
                       (std::isnan(audio[c][n]) ? "NaN" : "infinite");
    return std::nullopt;
}

double peakDbfs(const Audio& audio, std::size_t from, std::size_t to) {
    float peak = 0.0f;
    for (const auto& channel : audio)
        for (std::size_t n = from; n < std::min(to, channel.size()); ++n)
            peak = std::max(peak, std::fabs(channel[n]));
    return peak > 0.0f ? 20.0 * std::log10(static_cast<double>(peak))
                       : -std::numeric_limits<double>::infinity();
}

double differenceDb(const Audio& a, const Audio& b) {
    double largest = 0.0;
    for (std::size_t c = 0; c < std::min(a.size(), b.size()); ++c)
        for (std::size_t n = 0; n < std::min(a[c].size(), b[c].size()); ++n)
            largest = std::max(largest, std::fabs(static_cast<double>(a[c][n]) - b[c][n]));
    return largest > 0.0 ? 20.0 * std::log10(largest) : -std::numeric_limits<double>::infinity();
}

bool sameBits(const Audio& a, const Audio& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t c = 0; c < a.size(); ++c)
        if (a[c].size() != b[c].size() ||
            !std::equal(a[c].begin(), a[c].end(), b[c].begin(), [](float x, float y) {
                return std::memcmp(&x, &y, sizeof x) == 0;
            }))
            return false;
    return true;
}

Rig::Rig(const std::string& plugin, double rate, engine::ProcessMode mode)
    : instance(engine::openPlugin(plugin, rate, kLargestBlock, mode)), sampleRate(rate) {
    inputs = silence(instance->inputs(), kLargestBlock);
    outputs = silence(instance->outputs(), kLargestBlock);
    for (auto& channel : inputs) inputPointers.push_back(channel.data());
    instance->start(engine::Precision::Single);
}

Rig::~Rig() { instance->stop(); }

void Rig::restart() {
    instance->stop();
    instance->start(engine::Precision::Single);
}

Audio Rig::render(const Audio& input, std::size_t frames, BlockPattern pattern, bool inPlace,
                  const BeforeBlock& before) {
    Audio result = silence(instance->outputs(), frames);
    for (std::size_t at = 0; at < frames;) {
        const int block = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(pattern.next()), frames - at));
        for (std::size_t c = 0; c < inputs.size(); ++c)
            std::copy_n(input[c].begin() + static_cast<std::ptrdiff_t>(at), block,
                        inputs[c].begin());
        // In place: each output shares the buffer of the input of its number.
        outputPointers.clear();
        for (std::size_t c = 0; c < outputs.size(); ++c) {
            float* own = outputs[c].data();
            std::fill_n(own, block, 0.0f);
            outputPointers.push_back(inPlace && c < inputs.size() ? inputs[c].data() : own);
        }
        if (before) before(static_cast<std::int64_t>(at), block);
        instance->process(inputPointers.data(), outputPointers.data(), block);
        for (std::size_t c = 0; c < outputs.size(); ++c)
            std::copy_n(outputPointers[c], block,
                        result[c].begin() + static_cast<std::ptrdiff_t>(at));
        at += static_cast<std::size_t>(block);
    }
    return result;
}

}  // namespace varkel::check
