#include "tools/varkel-host/render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "tools/varkel-host/batch.h"
#include "tools/varkel-host/channel_mapping.h"
#include "tools/varkel-host/interrupt.h"
#include "tools/varkel-host/output_format.h"
#include "tools/varkel-host/plugin_session.h"
#include "tools/varkel-host/sound_file.h"
#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

// Frames read and written per file access: small plug-in blocks would
// otherwise make one system call per few samples.
constexpr int kMinFileChunk = 4096;

using Instances = std::vector<std::unique_ptr<PluginSession>>;

// One block's channel buffers for one plug-in instance.
template <typename Sample>
struct InstanceBuffers {
    InstanceBuffers(int inputs, int outputs, std::size_t block)
        : inputSamples(block * static_cast<std::size_t>(inputs)),
          outputSamples(block * static_cast<std::size_t>(outputs)),
          inputChannels(static_cast<std::size_t>(inputs)),
          outputChannels(static_cast<std::size_t>(outputs)) {
        for (int c = 0; c < inputs; ++c) inputChannels[c] = inputSamples.data() + c * block;
        for (int c = 0; c < outputs; ++c) outputChannels[c] = outputSamples.data() + c * block;
    }
    // The channels from frame offset on, for a block split by automation.
    Sample** inputsFrom(std::size_t offset) {
        shiftedInputs.resize(inputChannels.size());
        for (std::size_t c = 0; c < inputChannels.size(); ++c)
            shiftedInputs[c] = inputChannels[c] + offset;
        return shiftedInputs.data();
    }
    Sample** outputsFrom(std::size_t offset) {
        shiftedOutputs.resize(outputChannels.size());
        for (std::size_t c = 0; c < outputChannels.size(); ++c)
            shiftedOutputs[c] = outputChannels[c] + offset;
        return shiftedOutputs.data();
    }

    std::vector<Sample> inputSamples;
    std::vector<Sample> outputSamples;
    std::vector<Sample*> inputChannels;
    std::vector<Sample*> outputChannels;
    std::vector<Sample*> shiftedInputs;
    std::vector<Sample*> shiftedOutputs;
};

template <typename Sample>
void stream(SoundFileReader& input, SoundFileWriter& output, const Instances& instances,
            const ChannelMapping& mapping, AutomationSchedule& automation, int blockFrames,
            const RenderProgress& progress, RenderSummary& summary) {
    const int fileChannels = input.channels();
    const int outputChannels = mapping.outputChannels();
    const auto block = static_cast<std::size_t>(blockFrames);
    // A whole number of plug-in blocks.
    const std::size_t chunk = block * ((kMinFileChunk + block - 1) / block);

    std::vector<Sample> fileFrames(chunk * static_cast<std::size_t>(fileChannels));
    std::vector<Sample> outputFrames(chunk * static_cast<std::size_t>(outputChannels));
    std::vector<InstanceBuffers<Sample>> buffers;
    buffers.reserve(instances.size());
    for (std::size_t i = 0; i < instances.size(); ++i)
        buffers.emplace_back(mapping.pluginInputs, mapping.pluginOutputs, block);

    const std::int64_t totalFrames = input.info().frames;
    for (;;) {
        const sf_count_t frames = input.read(fileFrames.data(), static_cast<sf_count_t>(chunk));
        if (frames <= 0) break;
        const auto available = static_cast<std::size_t>(frames);
        for (std::size_t first = 0; first < available; first += block) {
            throwIfInterrupted();
            const std::size_t n = std::min(block, available - first);
            for (int g = 0; g < mapping.instances; ++g) {
                InstanceBuffers<Sample>& b = buffers[g];
                for (int c = 0; c < mapping.pluginInputs; ++c) {
                    const Sample* source =
                        fileFrames.data() + first * fileChannels + mapping.sourceChannel(g, c);
                    for (std::size_t f = 0; f < n; ++f)
                        b.inputChannels[c][f] = source[f * fileChannels];
                }
                // A plug-in that skips a channel leaves silence, not the last block.
                std::fill(b.outputSamples.begin(), b.outputSamples.end(), Sample(0));
            }
            // Split where the automation changes a parameter, so that the
            // change lands on its frame whatever the block size.
            const std::int64_t blockStart = summary.frames + static_cast<std::int64_t>(first);
            for (std::size_t done = 0; done < n;) {
                const std::int64_t now = blockStart + static_cast<std::int64_t>(done);
                const std::int64_t next = automation.nextFrame();
                if (next <= now) {
                    automation.applyAt(next, [&](int parameter, float value) {
                        for (const auto& instance : instances)
                            instance->setParameter(parameter, value);
                    });
                    continue;
                }
                const auto length = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(n - done), next - now));
                for (int g = 0; g < mapping.instances; ++g)
                    instances[g]->process(buffers[g].inputsFrom(done), buffers[g].outputsFrom(done),
                                          static_cast<int>(length));
                done += length;
            }
            Sample* target = outputFrames.data() + first * outputChannels;
            for (int g = 0; g < mapping.instances; ++g) {
                for (int c = 0; c < mapping.outputsPerInstance; ++c) {
                    const Sample* source = buffers[g].outputChannels[c];
                    const int channel = mapping.targetChannel(g, c);
                    for (std::size_t f = 0; f < n; ++f) {
                        Sample sample = source[f];
                        summary.levels.add(sample);
                        // Integer conversion of NaN or infinity is undefined.
                        if (summary.integerOutput && !std::isfinite(sample)) sample = Sample(0);
                        target[f * outputChannels + channel] = sample;
                    }
                }
            }
        }
        output.write(outputFrames.data(), frames);
        summary.frames += frames;
        if (progress) progress(summary.frames, totalFrames);
    }
    // A read error ends the stream like the end of the file does.
    input.checkReadError();
}

}  // namespace

RenderSummary renderFile(const RenderJob& job, const RenderProgress& progress) {
    SoundFileReader input(job.input);
    checkOutputPath(job.input, job.output);
    const auto sampleRate = static_cast<float>(input.sampleRate());
    Instances instances;
    instances.push_back(std::make_unique<PluginSession>(job.plugin, sampleRate, job.blockFrames,
                                                        host::kProcessLevelOffline));
    const PluginSession& first = *instances.front();
    ChannelMapping mapping;
    try {
        mapping = mapChannels(input.channels(), first.inputs(), first.outputs());
    } catch (const ToolError& error) {
        throw ToolError(job.input + ": " + error.what() + " (" + first.displayName() + ")");
    }
    while (static_cast<int>(instances.size()) < mapping.instances)
        instances.push_back(std::make_unique<PluginSession>(job.plugin, sampleRate, job.blockFrames,
                                                            host::kProcessLevelOffline));
    for (const auto& instance : instances) instance->apply(job.settings);
    AutomationSchedule automation;
    automation.setRamp(job.ramp);
    for (const AutomationLane& lane : job.automation)
        automation.addLane(first.resolveParameter(lane.parameter, "--automate"), lane.points,
                           input.sampleRate());

    const int channels = mapping.outputChannels();
    const int chosen = chooseOutputFormat(job.output, input.info().format, job.format, channels,
                                          input.sampleRate());
    // The input's length is known except for streams libsndfile cannot measure.
    const std::int64_t knownFrames = input.info().frames < SF_COUNT_MAX ? input.info().frames : -1;
    const int format = withRoomForLength(chosen, knownFrames, channels);

    RenderSummary summary;
    summary.output = job.output;
    summary.sampleRate = input.sampleRate();
    summary.integerOutput = isIntegerFormat(format);
    summary.channelMapping = mapping.description();
    summary.lossyCodec = lossyCodec(format);

    SoundFileWriter output(job.output, format, channels, input.sampleRate(), format != chosen);
    for (const auto& instance : instances) instance->start(job.precision);
    const auto started = std::chrono::steady_clock::now();
    if (job.precision == Precision::Double)
        stream<double>(input, output, instances, mapping, automation, job.blockFrames, progress,
                       summary);
    else
        stream<float>(input, output, instances, mapping, automation, job.blockFrames, progress,
                      summary);
    for (const auto& instance : instances) instance->stop();
    output.commit(job.replaceExisting);
    summary.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

RenderJob renderJobFor(const RenderOptions& options) {
    RenderJob job;
    job.input = options.input;
    job.output = options.output;
    job.plugin = options.plugin;
    job.settings = options.settings;
    job.precision = options.precision;
    job.blockFrames = options.blockFrames;
    job.format = options.format;
    job.automation = options.automation;
    job.ramp = options.ramp;
    return job;
}

RenderSummary renderFile(const RenderOptions& options) {
    const RenderJob job = renderJobFor(options);
    const InterruptGuard interrupts;
    ProgressBar bar(!options.quiet, 0);
    return renderFile(job, [&](std::int64_t done, std::int64_t total) { bar.update(done, total); });
}

int runRender(const RenderOptions& options) {
    if (!options.outputFolder.empty()) {
        BatchOptions batch;
        batch.inputs = options.inputs;
        batch.outputFolder = options.outputFolder;
        batch.recursive = options.recursive;
        if (!options.namePattern.empty()) batch.namePattern = options.namePattern;
        batch.extension = options.extension;
        batch.overwrite = options.overwrite;
        batch.jobs = options.jobs;
        batch.quiet = options.quiet;
        batch.render = renderJobFor(options);
        return runBatch(batch);
    }
    const RenderSummary summary = renderFile(options);
    if (!options.quiet) printSummary(summary);
    return kExitSuccess;
}

}  // namespace varkel::tool
