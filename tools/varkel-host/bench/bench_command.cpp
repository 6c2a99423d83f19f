#include "tools/varkel-host/bench.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

#include "host/host_callback.h"
#include "tools/varkel-host/plugin_session.h"
#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

constexpr double kBenchRate = 44100.0;

// One second of signal per input, cycled through: two partials and a little
// noise near -6 dBFS, so that a stage that shortcuts silence or steady
// signals does not flatter itself.
template <typename Sample>
std::vector<Sample> benchSignal(int channel, std::size_t frames) {
    std::vector<Sample> signal(frames);
    std::uint32_t noise = 12345u + static_cast<std::uint32_t>(channel);
    const double twoPi = 2.0 * std::numbers::pi;
    for (std::size_t i = 0; i < frames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / kBenchRate;
        const double white = static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
        signal[i] =
            static_cast<Sample>(0.3 * std::sin(twoPi * 110.0 * t) +
                                0.15 * std::sin(twoPi * (1234.0 + channel) * t) + 0.05 * white);
    }
    return signal;
}

template <typename Sample>
double timeProcessing(const PluginSession& plugin, int blockFrames, std::int64_t totalFrames) {
    const auto cycle = static_cast<std::size_t>(kBenchRate);
    // The cycle is a whole number of blocks, so a block never wraps.
    const std::size_t length = cycle - cycle % static_cast<std::size_t>(blockFrames) +
                               static_cast<std::size_t>(blockFrames);
    std::vector<std::vector<Sample>> inputs;
    for (int c = 0; c < plugin.inputs(); ++c) inputs.push_back(benchSignal<Sample>(c, length));
    std::vector<std::vector<Sample>> outputs(
        static_cast<std::size_t>(plugin.outputs()),
        std::vector<Sample>(static_cast<std::size_t>(blockFrames)));
    std::vector<Sample*> in(inputs.size());
    std::vector<Sample*> out(outputs.size());
    for (std::size_t c = 0; c < outputs.size(); ++c) out[c] = outputs[c].data();

    auto run = [&](std::int64_t frames) {
        std::size_t position = 0;
        for (std::int64_t done = 0; done < frames; done += blockFrames) {
            const auto n = static_cast<int>(std::min<std::int64_t>(blockFrames, frames - done));
            for (std::size_t c = 0; c < inputs.size(); ++c) in[c] = inputs[c].data() + position;
            plugin.process(in.data(), out.data(), n);
            position = (position + static_cast<std::size_t>(n)) % length;
        }
    };
    run(static_cast<std::int64_t>(kBenchRate / 10));  // warm caches and lazy set-up
    const auto started = std::chrono::steady_clock::now();
    run(totalFrames);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

int runBench(const BenchOptions& options) {
    PluginSession plugin(options.plugin, static_cast<float>(kBenchRate), options.blockFrames,
                         host::kProcessLevelRealtime);
    if (plugin.outputs() < 1)
        throw ToolError(plugin.displayName() + " has no outputs; there is nothing to measure");
    plugin.start(options.precision);
    const auto frames = static_cast<std::int64_t>(std::llround(options.seconds * kBenchRate));
    const double elapsed = options.precision == Precision::Double
                               ? timeProcessing<double>(plugin, options.blockFrames, frames)
                               : timeProcessing<float>(plugin, options.blockFrames, frames);
    plugin.stop();

    const double channelSamples = static_cast<double>(frames) * plugin.outputs();
    const double signalSeconds = static_cast<double>(frames) / kBenchRate;
    fmt::print("{}: {} in, {} out, {:.0f} Hz, block {}, {}-bit\n", plugin.displayName(),
               plugin.inputs(), plugin.outputs(), kBenchRate, options.blockFrames,
               options.precision == Precision::Double ? 64 : 32);
    fmt::print("{:.3f} s of signal in {:.6f} s: {:.2f} ns per channel-sample, {:.1f}x realtime\n",
               signalSeconds, elapsed, elapsed * 1e9 / std::max(channelSamples, 1.0),
               signalSeconds / std::max(elapsed, 1e-9));
    return kExitSuccess;
}

}  // namespace varkel::tool
