#include "tools/varkel-host/render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "tools/varkel-host/interrupt.h"
#include "tools/varkel-host/plugin_session.h"
#include "tools/varkel-host/sound_file.h"
#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

// A file channel count the plug-in can take: its own input count, or mono,
// which feeds every input.
void checkChannels(const SoundFileReader& input, const PluginSession& plugin) {
    if (plugin.inputs() < 1 || plugin.outputs() < 1)
        throw ToolError(plugin.displayName() + " has " + std::to_string(plugin.inputs()) +
                        " inputs and " + std::to_string(plugin.outputs()) +
                        " outputs; render needs an effect with both");
    if (input.channels() == plugin.inputs() || input.channels() == 1) return;
    throw ToolError(input.path() + " has " + std::to_string(input.channels()) + " channels; " +
                    plugin.displayName() + " takes " + std::to_string(plugin.inputs()) +
                    " (or a mono file)");
}

// Frames read and written per file access: small plug-in blocks would
// otherwise make one system call per few samples.
constexpr int kMinFileChunk = 4096;

template <typename Sample>
void stream(SoundFileReader& input, SoundFileWriter& output, const PluginSession& plugin,
            int blockFrames, bool showProgress, RenderSummary& summary) {
    const int fileChannels = input.channels();
    const int inputs = plugin.inputs();
    const int outputs = plugin.outputs();
    const auto block = static_cast<std::size_t>(blockFrames);
    // A whole number of plug-in blocks.
    const std::size_t chunk = block * ((kMinFileChunk + block - 1) / block);

    std::vector<Sample> fileFrames(chunk * static_cast<std::size_t>(fileChannels));
    std::vector<Sample> outputFrames(chunk * static_cast<std::size_t>(outputs));
    std::vector<Sample> inputSamples(block * static_cast<std::size_t>(inputs));
    std::vector<Sample> outputSamples(block * static_cast<std::size_t>(outputs));
    std::vector<Sample*> inputChannels(static_cast<std::size_t>(inputs));
    std::vector<Sample*> outputChannels(static_cast<std::size_t>(outputs));
    for (int c = 0; c < inputs; ++c) inputChannels[c] = inputSamples.data() + c * block;
    for (int c = 0; c < outputs; ++c) outputChannels[c] = outputSamples.data() + c * block;

    ProgressBar progress(showProgress, input.info().frames);
    for (;;) {
        const sf_count_t frames = input.read(fileFrames.data(), static_cast<sf_count_t>(chunk));
        if (frames <= 0) break;
        const auto available = static_cast<std::size_t>(frames);
        for (std::size_t first = 0; first < available; first += block) {
            throwIfInterrupted();
            const std::size_t n = std::min(block, available - first);
            for (int c = 0; c < inputs; ++c) {
                const Sample* source =
                    fileFrames.data() + first * fileChannels + (fileChannels == 1 ? 0 : c);
                for (std::size_t f = 0; f < n; ++f) inputChannels[c][f] = source[f * fileChannels];
            }
            // A plug-in that skips a channel leaves silence, not the last block.
            std::fill(outputSamples.begin(), outputSamples.end(), Sample(0));
            plugin.process(inputChannels.data(), outputChannels.data(), static_cast<int>(n));
            Sample* target = outputFrames.data() + first * outputs;
            for (std::size_t f = 0; f < n; ++f) {
                for (int c = 0; c < outputs; ++c) {
                    Sample sample = outputChannels[c][f];
                    summary.levels.add(sample);
                    // Integer conversion of NaN or infinity is undefined.
                    if (summary.integerOutput && !std::isfinite(sample)) sample = Sample(0);
                    target[f * outputs + c] = sample;
                }
            }
        }
        output.write(outputFrames.data(), frames);
        summary.frames += frames;
        progress.update(summary.frames);
    }
    // A read error ends the stream like the end of the file does.
    input.checkReadError();
}

}  // namespace

RenderSummary renderFile(const RenderOptions& options) {
    SoundFileReader input(options.input);
    checkOutputPath(options.input, options.output);
    PluginSession plugin(options.plugin, static_cast<float>(input.sampleRate()),
                         options.blockFrames, host::kProcessLevelOffline);
    checkChannels(input, plugin);
    plugin.apply(options.settings);
    const int format = outputFormatFor(input.info().format, options.format, plugin.outputs(),
                                       input.sampleRate(), options.output);

    RenderSummary summary;
    summary.output = options.output;
    summary.sampleRate = input.sampleRate();
    summary.integerOutput = isIntegerFormat(format);

    InterruptGuard interrupts;
    SoundFileWriter output(options.output, format, plugin.outputs(), input.sampleRate());
    plugin.start(options.precision);
    const auto started = std::chrono::steady_clock::now();
    if (options.precision == Precision::Double)
        stream<double>(input, output, plugin, options.blockFrames, !options.quiet, summary);
    else
        stream<float>(input, output, plugin, options.blockFrames, !options.quiet, summary);
    plugin.stop();
    output.commit();
    summary.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

int runRender(const RenderOptions& options) {
    const RenderSummary summary = renderFile(options);
    if (!options.quiet) printSummary(summary);
    return kExitSuccess;
}

}  // namespace varkel::tool
