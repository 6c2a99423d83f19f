#include "tools/varkel-host/bench/bench_command.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

#include "engine/render/block_driver.h"
#include "engine/render/channel_mapping.h"
#include "engine/plugins/plugin_loader.h"
#include "engine/render/render_job.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/cli/plugin_option.h"

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

// The signal is cycled through the block driver as a host would feed a file;
// the cost includes the host's copies into and out of the plug-in's buffers.
template <typename Sample>
double timeProcessing(engine::Plugin& plugin, int blockFrames, std::int64_t totalFrames) {
    const auto cycle = static_cast<std::size_t>(kBenchRate);
    // The cycle is a whole number of blocks, so a block never wraps.
    const std::size_t length = cycle - cycle % static_cast<std::size_t>(blockFrames) +
                               static_cast<std::size_t>(blockFrames);
    std::vector<Sample> inputs;
    for (int c = 0; c < plugin.inputs(); ++c) {
        const std::vector<Sample> signal = benchSignal<Sample>(c, length);
        inputs.insert(inputs.end(), signal.begin(), signal.end());
    }
    // Side-chains get the signal too: a silent one could flatter a plug-in.
    const engine::ChannelMapping mapping = engine::singleInstanceMapping(
        std::vector<engine::InputInfo>(static_cast<std::size_t>(plugin.inputs())), plugin.outputs(),
        false);
    const auto block = static_cast<std::size_t>(blockFrames);
    std::vector<Sample> outputs(block * static_cast<std::size_t>(plugin.outputs()));
    engine::BlockDriver<Sample> driver({&plugin}, mapping, blockFrames);

    auto run = [&](std::int64_t frames) {
        std::size_t position = 0;
        for (std::int64_t done = 0; done < frames; done += blockFrames) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(blockFrames, frames - done));
            driver.process(inputs.data() + position, engine::SampleLayout::planar(length),
                           outputs.data(), engine::SampleLayout::planar(block), n);
            position = (position + n) % length;
        }
    };
    run(static_cast<std::int64_t>(kBenchRate / 10));  // warm caches and lazy set-up
    const auto started = std::chrono::steady_clock::now();
    run(totalFrames);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

class BenchCommand : public Command {
public:
    std::string name() const override { return "bench"; }
    std::string summary() const override {
        return "Processes generated stereo audio and reports the cost";
    }
    void declare(CLI::App& command) override {
        addPlugin(command, plugin);
        addState(command, state);
        command.add_option("--seconds", seconds, "Seconds of audio to process")
            ->type_name("S")
            ->capture_default_str()
            ->check(numberAboveZeroUpTo(3600.0));
        addBlock(command, blockFrames);
        addPrecision(command, precision);
        addIsolation(command, isolation);
    }
    int run() override;

private:
    std::string plugin;
    std::string state;
    double seconds = 10.0;
    int blockFrames = engine::kDefaultBlockFrames;
    engine::Precision precision = engine::Precision::Single;
    engine::PluginIsolation isolation;
};

int BenchCommand::run() {
    const auto opened = namingOption("--plugin", [&] {
        return engine::openPlugin(plugin, kBenchRate, blockFrames, engine::ProcessMode::Realtime,
                                  isolation);
    });
    engine::Plugin& plugin = *opened;
    engine::applyState(plugin, state, "", {});
    if (plugin.outputs() < 1)
        throw EngineError(plugin.name() + " has no outputs; there is nothing to measure");
    plugin.start(precision);
    const auto frames = static_cast<std::int64_t>(std::llround(seconds * kBenchRate));
    const double elapsed = precision == engine::Precision::Double
                               ? timeProcessing<double>(plugin, blockFrames, frames)
                               : timeProcessing<float>(plugin, blockFrames, frames);
    plugin.stop();

    const double channelSamples = static_cast<double>(frames) * plugin.outputs();
    const double signalSeconds = static_cast<double>(frames) / kBenchRate;
    fmt::print("{}: {} in, {} out, {:.0f} Hz, block {}, {}-bit\n", plugin.name(),
               plugin.inputs(), plugin.outputs(), kBenchRate, blockFrames,
               precision == engine::Precision::Double ? 64 : 32);
    fmt::print("{:.3f} s of signal in {:.6f} s: {:.2f} ns per channel-sample, {:.1f}x realtime\n",
               signalSeconds, elapsed, elapsed * 1e9 / std::max(channelSamples, 1.0),
               signalSeconds / std::max(elapsed, 1e-9));
    // What the child's handshake adds shows against the same run in-process.
    if (isolation.isolated)
        fmt::print("isolated: {:.2f} us per process call of {} frames\n",
                   elapsed * 1e6 / std::max(std::ceil(static_cast<double>(frames) / blockFrames), 1.0),
                   blockFrames);
    return kExitSuccess;
}

}  // namespace

std::unique_ptr<Command> makeBenchCommand() { return std::make_unique<BenchCommand>(); }

}  // namespace varkel::tool
