#include "engine/render_job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

#include "engine/block_driver.h"
#include "engine/channel_mapping.h"
#include "engine/declared_length.h"
#include "engine/engine_error.h"
#include "engine/plugin_loader.h"
#include "engine/sound_file.h"
#include "engine/tpdf_dither.h"

namespace varkel::engine {

namespace {

// Frames read and written per file access: small plug-in blocks would
// otherwise make one system call per few samples.
constexpr int kMinFileChunk = 4096;

template <typename Sample>
void stream(SoundFileReader& input, SoundFileWriter& output, BlockDriver<Sample>& driver,
            const ChannelMapping& mapping, int blockFrames, const RenderProgress& progress,
            const RenderCancelled& cancelled, TpdfDither* dither, RenderSummary& summary) {
    const int outputChannels = mapping.outputChannels();
    const auto block = static_cast<std::size_t>(blockFrames);
    // A whole number of plug-in blocks.
    const std::size_t chunk = block * ((kMinFileChunk + block - 1) / block);
    std::vector<Sample> fileFrames(chunk * static_cast<std::size_t>(input.channels()));
    std::vector<Sample> outputFrames(chunk * static_cast<std::size_t>(outputChannels));

    const std::int64_t totalFrames = input.info().frames;
    for (;;) {
        if (cancelled && cancelled()) throw EngineError("interrupted; nothing written", kExitInterrupted);
        const sf_count_t frames = input.read(fileFrames.data(), static_cast<sf_count_t>(chunk));
        if (frames <= 0) break;
        const auto available = static_cast<std::size_t>(frames);
        driver.process(fileFrames.data(), SampleLayout::interleaved(input.channels()),
                       outputFrames.data(), SampleLayout::interleaved(outputChannels), available);
        for (std::size_t i = 0; i < available * static_cast<std::size_t>(outputChannels); ++i) {
            Sample& sample = outputFrames[i];
            summary.levels.add(sample);
            // Integer conversion of NaN or infinity is undefined.
            if (summary.integerOutput && !std::isfinite(sample)) sample = Sample(0);
            if (dither != nullptr) sample += static_cast<Sample>(dither->next());
        }
        output.write(outputFrames.data(), frames);
        summary.frames += frames;
        if (progress) progress(summary.frames, totalFrames);
    }
    // A read error ends the stream like the end of the file does.
    input.checkReadError();
}

}  // namespace

RenderSummary renderFile(const RenderJob& job, const RenderProgress& progress,
                         const RenderCancelled& cancelled) {
    SoundFileReader input(job.input);
    checkOutputPath(job.input, job.output);
    const double sampleRate = input.sampleRate();
    std::vector<std::unique_ptr<Plugin>> instances;
    instances.push_back(openPlugin(job.plugin, sampleRate, job.blockFrames));
    const Plugin& first = *instances.front();
    ChannelMapping mapping;
    try {
        mapping = mapChannels(input.channels(), first.inputs(), first.outputs());
    } catch (const EngineError& error) {
        throw EngineError(job.input + ": " + error.what() + " (" + first.name() + ")");
    }
    while (static_cast<int>(instances.size()) < mapping.instances)
        instances.push_back(openPlugin(job.plugin, sampleRate, job.blockFrames));
    for (const auto& instance : instances) applySettings(*instance, job.settings);
    AutomationSchedule automation;
    automation.setRamp(job.ramp);
    for (const AutomationLane& lane : job.automation)
        automation.addLane(findParameter(first, lane.parameter, "--automate"), lane.points,
                           sampleRate);

    const int channels = mapping.outputChannels();
    const int chosen = chooseOutputFormat(job.output, input.info().format, job.format, channels,
                                          input.sampleRate());
    // The input's length is known except for streams libsndfile cannot measure.
    const std::int64_t knownFrames = input.info().frames < SF_COUNT_MAX ? input.info().frames : -1;
    const int format = withRoomForLength(chosen, knownFrames, channels);

    RenderSummary summary;
    summary.input = job.input;
    summary.output = job.output;
    summary.sampleRate = input.sampleRate();
    summary.integerOutput = isIntegerFormat(format);
    summary.channelMapping = mapping.description();
    summary.format = formatDescription(chosen);
    const double step = job.dither ? integerStep(format) : 0.0;
    summary.dithered = step > 0.0;
    TpdfDither dither(ditherSeed(job.output), step);
    TpdfDither* ditherOrNone = summary.dithered ? &dither : nullptr;
    const std::int64_t declared = knownFrames >= 0 ? declaredFrames(job.input, input.info()) : -1;

    SoundFileWriter output(job.output, format, channels, input.sampleRate(), format != chosen);
    std::vector<Plugin*> running;
    for (const auto& instance : instances) {
        instance->start(job.precision);
        running.push_back(instance.get());
    }
    const auto started = std::chrono::steady_clock::now();
    if (job.precision == Precision::Double) {
        BlockDriver<double> driver(running, mapping, job.blockFrames, automation);
        stream(input, output, driver, mapping, job.blockFrames, progress, cancelled, ditherOrNone,
               summary);
    } else {
        BlockDriver<float> driver(running, mapping, job.blockFrames, automation);
        stream(input, output, driver, mapping, job.blockFrames, progress, cancelled, ditherOrNone,
               summary);
    }
    if (declared > summary.frames) summary.missingFrames = declared - summary.frames;
    for (const auto& instance : instances) instance->stop();
    output.commit(job.replaceExisting);
    summary.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

}  // namespace varkel::engine
