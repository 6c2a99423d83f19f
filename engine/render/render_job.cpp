#include "engine/render/render_job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fmt/format.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "engine/midi/midi_file.h"
#include "engine/midi/midi_input.h"
#include "engine/render/block_driver.h"
#include "engine/render/channel_mapping.h"
#include "engine/render/quiet_end.h"
#include "engine/sound/declared_length.h"
#include "engine/sound/resampled_source.h"
#include "engine/sound/sample_spool.h"
#include "engine/engine_error.h"
#include "host/fresh_thread.h"
#include "engine/sound/output_conditioning.h"
#include "engine/plugins/plugin_loader.h"
#include "engine/sound/sound_file.h"
#include "engine/sound/tpdf_dither.h"
#include "engine/plugins/worker_thread.h"

namespace varkel::engine {

namespace {

// Frames read, processed and written per stretch: the cost of each stretch
// (file calls, waking the instances' threads and the writing thread, which a
// virtual machine makes dear) is paid once per 65536 frames, while
// cancellation and progress still come several times a second from any
// plug-in ten times faster than real time.
constexpr int kMinFileChunk = 65536;

void checkNotCancelled(const RenderCancelled& cancelled) {
    if (cancelled && cancelled()) throw EngineError("interrupted; nothing written", kExitInterrupted);
}

std::string folderHolding(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// Reads frames, or silence once the file has ended and only the latency and
// tail are left to render.
template <typename Sample>
class PaddedReader {
public:
    PaddedReader(FrameSource& file, std::int64_t paddingFrames)
        : file(file), padding(paddingFrames) {}

    // Fills up to count frames; returns how many, 0 at the very end.
    std::size_t read(Sample* frames, std::size_t count) {
        std::size_t got = 0;
        if (!ended) {
            const sf_count_t read = file.read(frames, static_cast<sf_count_t>(count));
            got = read > 0 ? static_cast<std::size_t>(read) : 0;
            fileFrames += static_cast<std::int64_t>(got);
            if (got < count) ended = true;
        }
        const auto silent = static_cast<std::size_t>(
            std::min<std::int64_t>(padding, static_cast<std::int64_t>(count - got)));
        std::fill_n(frames + got * static_cast<std::size_t>(file.channels()),
                    silent * static_cast<std::size_t>(file.channels()), Sample(0));
        padding -= static_cast<std::int64_t>(silent);
        return got + silent;
    }
    std::int64_t framesFromFile() const { return fileFrames; }

private:
    FrameSource& file;
    std::int64_t padding;
    std::int64_t fileFrames = 0;
    bool ended = false;
};

// The side-chain file alongside the input: as many frames, padded with
// silence past its end, cut at the input's.
template <typename Sample>
class SideChainFeed {
public:
    explicit SideChainFeed(FrameSource* file) : file(file) {}
    const Sample* next(std::size_t frames) {
        if (file == nullptr) return nullptr;
        const auto channels = static_cast<std::size_t>(file->channels());
        buffer.resize(frames * channels);
        std::size_t got = 0;
        if (!ended) {
            const sf_count_t read = file->read(buffer.data(), static_cast<sf_count_t>(frames));
            got = read > 0 ? static_cast<std::size_t>(read) : 0;
            ended = got < frames;
        }
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got * channels), buffer.end(),
                  Sample(0));
        return buffer.data();
    }

private:
    FrameSource* file;
    std::vector<Sample> buffer;
    bool ended = false;
};

// Frames per stretch: a whole number of plug-in blocks.
std::size_t chunkFrames(int blockFrames) {
    const auto block = static_cast<std::size_t>(blockFrames);
    return block * ((kMinFileChunk + block - 1) / block);
}

struct StreamPlan {
    int blockFrames = kDefaultBlockFrames;
    std::int64_t dropFrames = 0;     // the latency, dropped from the start
    std::int64_t paddingFrames = 0;  // rendered past the end: latency and tail
    std::int64_t totalFrames = 0;    // the input's, at the render's rate, for progress
    QuietEnd* quietEnd = nullptr;    // ends the output once quiet; null: at the input's end
};

// A MIDI render's input: no channels, as many frames as the events need.
class SilentSource : public FrameSource {
public:
    explicit SilentSource(std::int64_t frames) : left(frames) {}
    int channels() const override { return 0; }
    sf_count_t read(float*, sf_count_t count) override { return take(count); }
    sf_count_t read(double*, sf_count_t count) override { return take(count); }
    void checkReadError() const override {}

private:
    sf_count_t take(sf_count_t count) {
        const sf_count_t taken = std::min<sf_count_t>(count, left);
        left -= taken;
        return taken;
    }
    std::int64_t left;
};

// Integer samples for an integer output without dither, in the narrowest
// type that holds them: libsndfile writes 16-bit samples to a 16-bit file
// without converting them.
struct IntegerBuffers {
    IntegerBuffers(const OutputConditioning& condition, std::size_t samples)
        : shorts(condition.convertsToIntegers() && condition.fitsShorts() ? samples : 0),
          integers(condition.convertsToIntegers() && !condition.fitsShorts() ? samples : 0) {}
    std::vector<std::int16_t> shorts;
    std::vector<std::int32_t> integers;
};

// Where a stretch of output starts: its samples and its first frame in the
// output.
template <typename Sample>
struct Stretch {
    const Sample* samples;
    int channels;
    std::int64_t firstFrame;
};

// Meters samples (a piece of the stretch, from its sample start). A plug-in
// that put out NaN or infinity has failed: no file holds its output,
// silenced or not, so the first such sample ends the render.
template <typename Sample>
void meterPiece(const Stretch<Sample>& stretch, std::size_t start, std::size_t length,
                LevelMeter& meter, const SoundFileWriter& output) {
    meter.add(stretch.samples + start, length);
    if (meter.nonFiniteSamples() == 0) return;
    const Sample* piece = stretch.samples + start;
    const auto bad = static_cast<std::int64_t>(
        start + static_cast<std::size_t>(std::find_if(piece, piece + length, [](Sample s) {
                    return !std::isfinite(s);
                }) - piece));
    throw EngineError(output.path() + ": the plug-in's output is not a number (NaN or infinity) "
                      "from frame " + std::to_string(stretch.firstFrame + bad / stretch.channels) +
                      ", channel " + std::to_string(bad % stretch.channels + 1) +
                      "; nothing written");
}

// Meters and converts a piece at a time, so that the conversion finds in
// the cache what the meter has just read.
template <typename Sample, typename Integer>
void finishAsIntegers(const Stretch<Sample>& stretch, std::size_t samples, sf_count_t frames,
                      const OutputConditioning& condition, SoundFileWriter& output,
                      LevelMeter& meter, Integer* integers) {
    constexpr std::size_t kPiece = 4096;
    for (std::size_t start = 0; start < samples; start += kPiece) {
        const std::size_t length = std::min(kPiece, samples - start);
        meterPiece(stretch, start, length, meter, output);
        condition.toIntegers(stretch.samples + start, integers + start, length);
    }
    output.write(integers, frames);
}

// Meters, conditions and writes one stretch of output; firstFrame: its
// first frame in the output.
template <typename Sample>
void finish(Sample* kept, std::size_t keptFrames, int outputChannels, std::int64_t firstFrame,
            const OutputConditioning& condition, SoundFileWriter& output, LevelMeter& meter,
            IntegerBuffers& buffers) {
    // Metered before conditioning: the levels are those the plug-in made.
    const std::size_t samples = keptFrames * static_cast<std::size_t>(outputChannels);
    const auto frames = static_cast<sf_count_t>(keptFrames);
    const Stretch<Sample> stretch{kept, outputChannels, firstFrame};
    if (!buffers.shorts.empty())
        return finishAsIntegers(stretch, samples, frames, condition, output, meter,
                                buffers.shorts.data());
    if (!buffers.integers.empty())
        return finishAsIntegers(stretch, samples, frames, condition, output, meter,
                                buffers.integers.data());
    meterPiece(stretch, 0, samples, meter, output);
    if (condition.changesSamples()) condition.apply(kept, samples);
    output.write(kept, frames);
}

// Renders the input through the plug-in, handing each stretch of output
// (its samples, frames and first frame in the output) to finishStretch on
// the writing thread.
template <typename Sample, typename FinishStretch>
void stream(FrameSource& input, FrameSource* sideChain, BlockDriver<Sample>& driver,
            const ChannelMapping& mapping, const StreamPlan& plan,
            const FinishStretch& finishStretch, const RenderProgress& progress,
            const RenderCancelled& cancelled, RenderSummary& summary) {
    const int outputChannels = mapping.outputChannels();
    const std::size_t chunk = chunkFrames(plan.blockFrames);
    std::vector<Sample> fileFrames(chunk * static_cast<std::size_t>(input.channels()));
    // Two output stretches: one is metered and written on the writing thread
    // while the next is read and processed here.
    std::vector<Sample> outputFrames[2];
    for (auto& frames : outputFrames) frames.resize(chunk * static_cast<std::size_t>(outputChannels));
    PaddedReader<Sample> reader(input, plan.paddingFrames);
    SideChainFeed<Sample> side(sideChain);
    const SampleLayout sideLayout =
        SampleLayout::interleaved(sideChain != nullptr ? sideChain->channels() : 0);
    std::int64_t toDrop = plan.dropFrames;
    // Declared after the buffers its work uses, so it ends before they go.
    WorkerThread writing;
    bool writePosted = false;

    const std::int64_t totalFrames = plan.totalFrames;
    for (int current = 0;; current ^= 1) {
        checkNotCancelled(cancelled);
        const std::size_t available = reader.read(fileFrames.data(), chunk);
        if (available == 0) break;
        driver.process(fileFrames.data(), SampleLayout::interleaved(input.channels()),
                       outputFrames[current].data(), SampleLayout::interleaved(outputChannels),
                       available, side.next(available), sideLayout);
        const auto dropped =
            static_cast<std::size_t>(std::min<std::int64_t>(toDrop, static_cast<std::int64_t>(available)));
        toDrop -= static_cast<std::int64_t>(dropped);
        Sample* kept = outputFrames[current].data() + dropped * static_cast<std::size_t>(outputChannels);
        std::size_t keptFrames = available - dropped;
        if (plan.quietEnd != nullptr)
            keptFrames = plan.quietEnd->keep(kept, keptFrames, outputChannels, summary.frames);
        // The previous stretch is written (or its failure thrown) first.
        if (writePosted) writing.wait();
        writing.post([&, kept, keptFrames, firstFrame = summary.frames] {
            finishStretch(kept, keptFrames, firstFrame);
        });
        writePosted = true;
        summary.frames += static_cast<std::int64_t>(keptFrames);
        if (progress) progress(reader.framesFromFile(), totalFrames);
        if (plan.quietEnd != nullptr && plan.quietEnd->ended()) break;
    }
    if (writePosted) writing.wait();
    // A read error ends the stream like the end of the file does.
    input.checkReadError();
    if (sideChain != nullptr) sideChain->checkReadError();
}

// The side-chain file, checked against the input before anything is written;
// at another rate only where the render resamples anyway.
std::unique_ptr<SoundFileReader> openSideChain(const RenderJob& job, int inputRate) {
    if (job.sideChain.empty()) return nullptr;
    std::unique_ptr<SoundFileReader> file;
    try {
        file = std::make_unique<SoundFileReader>(job.sideChain);
    } catch (const EngineError& error) {
        throw EngineError(mention(RequestField::SideChain) + " " + error.what(), error.status());
    }
    if (!job.sampleRate && file->sampleRate() != inputRate)
        throw EngineError(mention(RequestField::SideChain, job.sideChain) + ": its rate is " +
                          std::to_string(file->sampleRate()) + " Hz, the input's " +
                          std::to_string(inputRate) + " Hz");
    return file;
}

// A file as the plug-in takes it: resampled to the render's rate where it
// has another.
class RenderSource {
public:
    RenderSource(SoundFileReader* file, int rate, Precision precision) : file(file) {
        if (file != nullptr && file->sampleRate() != rate)
            resampled = std::make_unique<ResampledSource>(*file, file->sampleRate(), rate,
                                                          precision == Precision::Double);
    }
    FrameSource* get() const {
        return resampled ? static_cast<FrameSource*>(resampled.get()) : file;
    }

private:
    SoundFileReader* file;
    std::unique_ptr<ResampledSource> resampled;
};

// What follows the plug-in: the conditioning and the file, and the
// loudness asked for.
struct OutputStage {
    const RenderJob& job;
    const OutputConditioning& condition;
    SoundFileWriter& file;
    int channels;
    int sampleRate;
};

void checkTruePeak(const RenderJob& job, const SoundFileWriter& output, double truePeak) {
    if (!job.truePeakMax) return;
    const double dbtp = decibelsOf(truePeak);
    if (dbtp <= *job.truePeakMax) return;
    throw EngineError(fmt::format("{}: its true peak would be {:.2f} dBTP, {:.2f} dB over {}; "
                                  "nothing written",
                                  output.path(), dbtp, dbtp - *job.truePeakMax,
                                  mention(RequestField::TruePeakMax,
                                          fmt::format("{:g}", *job.truePeakMax))));
}

template <typename Sample>
void renderStreams(BlockDriver<Sample>& driver, FrameSource& input, FrameSource* sideChain,
                   const ChannelMapping& mapping, const StreamPlan& plan, const OutputStage& out,
                   const RenderProgress& progress, const RenderCancelled& cancelled,
                   RenderSummary& summary) {
    const RenderJob& job = out.job;
    const int channels = out.channels;
    const std::size_t chunk = chunkFrames(plan.blockFrames);
    IntegerBuffers integers(out.condition, chunk * static_cast<std::size_t>(channels));
    const auto write = [&](Sample* kept, std::size_t frames, std::int64_t firstFrame) {
        finish(kept, frames, channels, firstFrame, out.condition, out.file, summary.levels,
               integers);
    };
    if (!job.loudness) {
        std::optional<LoudnessMeter> meter;
        if (job.measure || job.truePeakMax) meter.emplace(channels, out.sampleRate, job.measure);
        stream(input, sideChain, driver, mapping, plan,
               [&](Sample* kept, std::size_t frames, std::int64_t firstFrame) {
                   if (meter) meter->add(kept, frames);
                   write(kept, frames, firstFrame);
               },
               progress, cancelled, summary);
        if (meter) checkTruePeak(job, out.file, meter->truePeak());
        if (job.measure) summary.loudness = meter->result();
        return;
    }
    // The scaling needs the whole output's loudness: the output is set aside
    // and measured, then scaled on its way to the file.
    SampleSpool spool(folderHolding(outputTarget(out.file.path())));
    LoudnessMeter unscaled(channels, out.sampleRate, false);
    LevelMeter unscaledLevels;
    stream(input, sideChain, driver, mapping, plan,
           [&](Sample* kept, std::size_t frames, std::int64_t firstFrame) {
               const std::size_t samples = frames * static_cast<std::size_t>(channels);
               meterPiece(Stretch<Sample>{kept, channels, firstFrame}, 0, samples, unscaledLevels,
                          out.file);
               unscaled.add(kept, frames);
               spool.write(kept, samples);
           },
           progress, cancelled, summary);
    const double integrated = unscaled.integratedLufs();
    if (!std::isfinite(integrated))
        throw EngineError(out.file.path() + ": silent, or below the loudness gate throughout, so " +
                          "there is no loudness to scale to " +
                          mention(RequestField::Loudness, fmt::format("{:g}", *job.loudness)) +
                          "; nothing written");
    const double gainDb = *job.loudness - integrated;
    const double gain = std::pow(10.0, gainDb / 20.0);
    summary.loudnessGainDb = gainDb;
    checkTruePeak(job, out.file, unscaled.truePeak() * gain);
    std::optional<LoudnessMeter> scaled;
    if (job.measure) scaled.emplace(channels, out.sampleRate, true);
    spool.rewind();
    std::vector<Sample> stretch(chunk * static_cast<std::size_t>(channels));
    for (std::int64_t firstFrame = 0;;) {
        checkNotCancelled(cancelled);
        const std::size_t samples = spool.read(stretch.data(), stretch.size());
        if (samples == 0) break;
        for (std::size_t i = 0; i < samples; ++i)
            stretch[i] = static_cast<Sample>(stretch[i] * gain);
        const std::size_t frames = samples / static_cast<std::size_t>(channels);
        if (scaled) scaled->add(stretch.data(), frames);
        write(stretch.data(), frames, firstFrame);
        firstFrame += static_cast<std::int64_t>(frames);
    }
    if (scaled) summary.loudness = scaled->result();
}

}  // namespace

namespace {

// A MIDI file's render, or MIDI added to an effect's: what plays, and for a
// MIDI input the silence the instrument's inputs (if any) get instead of a file.
struct MidiPart {
    MidiSequence played;
    std::int64_t frames = 0;  // the frames the events need: the last one's plus one
};

MidiPart midiOf(const RenderJob& job, bool fromMidi) {
    MidiPart part;
    if (fromMidi) {
        if (!job.midi.empty())
            throw RequestError(RequestField::Midi, job.midi,
                               "the input " + job.input + " is MIDI already");
        if (!job.sideChain.empty())
            throw RequestError(RequestField::SideChain, job.sideChain,
                               "a MIDI input has no audio for a side-chain to go with");
        part.played = loadMidi(job.input, job.midiChannel);
    } else if (!job.midi.empty()) {
        part.played = loadMidi(job.midi, job.midiChannel, RequestField::Midi);
    }
    const std::string source = fromMidi ? job.input : mention(RequestField::Midi, job.midi);
    if ((fromMidi || !job.midi.empty()) && part.played.empty())
        throw EngineError(source + ": no MIDI messages to play" +
                          (job.midiChannel ? " on " + mention(RequestField::MidiChannel,
                                                              std::to_string(*job.midiChannel))
                                           : std::string()));
    return part;
}

void checkTakesMidi(const Plugin& plugin, const RenderJob& job, bool fromMidi) {
    if (plugin.takesMidi()) return;
    if (fromMidi)
        throw EngineError(job.input + ": " + plugin.name() +
                          " takes no MIDI; a MIDI file renders through an instrument");
    throw EngineError(mention(RequestField::Midi, job.midi) + ": " + plugin.name() +
                      " takes no MIDI");
}

RenderSummary renderHere(const RenderJob& job, const RenderProgress& progress,
                         const RenderCancelled& cancelled) {
    checkRenderJob(job);
    const bool fromMidi = isMidiFileName(job.input);
    if (fromMidi && !job.sampleRate)
        throw RequestError(RequestField::SampleRate, "",
                           job.input + " is MIDI, which has no rate of its own; give the rate to "
                           "render at");
    std::unique_ptr<SoundFileReader> inputFile;
    if (!fromMidi) inputFile = std::make_unique<SoundFileReader>(job.input);
    MidiPart midi = midiOf(job, fromMidi);
    checkOutputPath(job.input, job.output);
    const int inputRate = fromMidi ? *job.sampleRate : inputFile->sampleRate();
    const std::unique_ptr<SoundFileReader> sideChainFile = openSideChain(job, inputRate);
    const int rate = job.sampleRate.value_or(inputRate);
    const RenderSource input(inputFile.get(), rate, job.precision);
    const RenderSource sideChain(sideChainFile.get(), rate, job.precision);
    const double sampleRate = rate;
    MidiSchedule schedule(midi.played, sampleRate);
    midi.frames = schedule.lastFrame() + 1;
    std::vector<std::unique_ptr<Plugin>> instances;
    instances.push_back(openPlugin(job.plugin, sampleRate, job.blockFrames, ProcessMode::Offline,
                                     job.isolation, job.input));
    Plugin& first = *instances.front();
    if (!schedule.empty()) checkTakesMidi(first, job, fromMidi);
    ChannelMapping mapping;
    try {
        mapping = fromMidi ? midiOnlyMapping(first.inputInfo(), first.outputs())
                           : mapChannels(inputFile->channels(), first.inputInfo(), first.outputs(),
                                         sideChainFile != nullptr ? sideChainFile->channels() : 0);
    } catch (const SideChainMismatch& error) {
        throw EngineError(mention(RequestField::SideChain, job.sideChain) + ": " + error.what() +
                          " (" + first.name() + ")");
    } catch (const EngineError& error) {
        throw EngineError(job.input + ": " + error.what() + " (" + first.name() + ")");
    }
    while (static_cast<int>(instances.size()) < mapping.instances)
        instances.push_back(openPlugin(job.plugin, sampleRate, job.blockFrames, ProcessMode::Offline,
                                     job.isolation, job.input));
    for (const auto& instance : instances) {
        applyState(*instance, job.state, job.preset, job.settings);
    }
    AutomationSchedule automation;
    automation.setRamp(job.ramp);
    for (const AutomationLane& lane : job.automation) {
        automation.addLane(automatedParameter(first, lane), lane.points, sampleRate);
    }

    RenderSummary summary;
    summary.fromMidi = fromMidi;
    summary.latencyFrames = job.compensateLatency ? std::max(first.latency(), 0) : 0;
    // A MIDI render without a tail asked for ends once the sound has died
    // away, at most the longest tail after the last event.
    const bool untilQuiet = fromMidi && !job.tailSeconds;
    const std::int64_t tailFrames = std::llround(
        (untilQuiet ? kLongestQuietTailSeconds : std::max(job.tailSeconds.value_or(0.0), 0.0)) *
        sampleRate);
    std::optional<QuietEnd> quietEnd;
    if (untilQuiet) quietEnd.emplace(midi.frames, std::llround(kQuietSeconds * sampleRate));

    const int channels = mapping.outputChannels();
    // A MIDI render's own sound is best kept as float, whatever it turns out to be.
    const int inputFormat = fromMidi ? (SF_FORMAT_WAV | SF_FORMAT_FLOAT) : inputFile->info().format;
    const int chosen = chooseOutputFormat(job.output, inputFormat, job.format, channels, rate);
    // The input's length is known except for streams libsndfile cannot measure.
    std::int64_t knownFrames = midi.frames + tailFrames;
    if (!fromMidi) {
        const std::int64_t inputFrames = inputFile->info().frames;
        knownFrames = inputFrames < SF_COUNT_MAX ? ResampledSource::framesFor(
                                                       inputFrames, inputFile->sampleRate(), rate)
                                                 : -1;
    }
    const int format = withRoomForLength(chosen, knownFrames, channels);

    summary.pluginWarnings = first.warnings();
    summary.input = job.input;
    summary.output = job.output;
    summary.sampleRate = rate;
    if (!fromMidi && rate != inputFile->sampleRate()) summary.resampledFrom = inputFile->sampleRate();
    summary.integerOutput = isIntegerFormat(format);
    summary.channelMapping = mapping.description();
    summary.format = formatDescription(chosen);
    const double step = summary.integerOutput ? integerStep(format) : 0.0;
    summary.dithered = job.dither && step > 0.0;
    TpdfDither dither(ditherSeed(job.output), step);
    const OutputConditioning condition(summary.integerOutput, step,
                                       summary.dithered ? &dither : nullptr);
    const std::int64_t declared =
        !fromMidi && knownFrames >= 0 ? declaredFrames(job.input, inputFile->info()) : -1;

    StreamPlan plan;
    plan.blockFrames = job.blockFrames;
    plan.dropFrames = summary.latencyFrames;
    plan.paddingFrames = summary.latencyFrames + tailFrames;
    plan.totalFrames = std::max<std::int64_t>(knownFrames, 0);
    plan.quietEnd = quietEnd ? &*quietEnd : nullptr;
    SilentSource silence(fromMidi ? midi.frames : 0);
    FrameSource& source = fromMidi ? static_cast<FrameSource&>(silence) : *input.get();

    SoundFileWriter output(job.output, format, channels, rate, format != chosen);
    std::vector<Plugin*> running;
    for (const auto& instance : instances) {
        instance->start(job.precision);
        running.push_back(instance.get());
    }
    const OutputStage stage{job, condition, output, channels, rate};
    const auto started = std::chrono::steady_clock::now();
    if (job.precision == Precision::Double) {
        BlockDriver<double> driver(running, mapping, job.blockFrames, automation);
        driver.setMidi(std::move(schedule));
        renderStreams(driver, source, sideChain.get(), mapping, plan, stage, progress, cancelled,
                      summary);
    } else {
        BlockDriver<float> driver(running, mapping, job.blockFrames, automation);
        driver.setMidi(std::move(schedule));
        renderStreams(driver, source, sideChain.get(), mapping, plan, stage, progress, cancelled,
                      summary);
    }
    summary.tailFrames = fromMidi ? summary.frames - midi.frames : tailFrames;
    summary.tail = !untilQuiet                ? RenderSummary::Tail::Given
                   : quietEnd->ended()        ? RenderSummary::Tail::UntilQuiet
                                              : RenderSummary::Tail::Longest;
    for (const AutomationLane& lane : job.automation)
        for (const AutomationPoint& point : lane.points)
            if (std::llround(point.seconds * sampleRate) >= summary.frames) ++summary.automationPastEnd;
    if (!fromMidi && declared > inputFile->framesRead())
        summary.missingFrames = declared - inputFile->framesRead();
    for (const auto& instance : instances) instance->stop();
    output.commit(job.replaceExisting);
    summary.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

}  // namespace

void checkRenderJob(const RenderJob& job) {
    checkBlockFrames(job.blockFrames);
    if (job.tailSeconds) checkTailSeconds(*job.tailSeconds);
    if (job.midiChannel) checkMidiChannel(*job.midiChannel);
    if (job.sampleRate) checkRenderRate(*job.sampleRate);
    if (job.loudness) checkLoudnessTarget(*job.loudness);
    if (job.truePeakMax) checkTruePeakCeiling(*job.truePeakMax);
    checkPluginTimeout(job.isolation.timeoutSeconds);
    for (const AutomationLane& lane : job.automation) checkAutomationLane(lane);
}

RenderSummary renderFile(const RenderJob& job, const RenderProgress& progress,
                         const RenderCancelled& cancelled) {
    // Every render on a thread of its own: a plug-in's per-thread state
    // (Varkel's noise) starts afresh, so a file renders to the same bits
    // whatever ran before it, from whichever face and on whichever thread.
    // Its failures worded as on the thread that asked for it.
    const FieldWording wording = fieldWording();
    RenderSummary summary;
    host::onFreshThread([&] {
        const FieldWordingScope words(wording);
        summary = renderHere(job, progress, cancelled);
    });
    return summary;
}

}  // namespace varkel::engine
