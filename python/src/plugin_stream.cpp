#include "python/src/plugin_stream.h"

#include "engine/render/render_request.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <vector>

#include "engine/render/channel_mapping.h"
#include "engine/engine_error.h"
#include "engine/plugins/parameter_lookup.h"
#include "engine/render/quiet_end.h"
#include "engine/render/render_job.h"

namespace varkel::python {

// What the first call of a stream fixed, and its driver.
struct PluginStream::Running {
    int channels = 0;
    int sideChannels = 0;
    int blockFrames = 0;
    engine::Precision precision = engine::Precision::Single;
    std::unique_ptr<engine::BlockDriver<float>> single;
    std::unique_ptr<engine::BlockDriver<double>> wide;
};

namespace {

// Frames of a MIDI-only call played until quiet processed at a time, at most.
constexpr std::int64_t kStretchFrames = 65536;

std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// What a call gives: audio of so many channels, or MIDI alone.
std::string what(int channels) {
    return channels == 0 ? "MIDI alone" : "audio of " + std::to_string(channels) + " channels";
}

const char* precisionName(engine::Precision precision) {
    return precision == engine::Precision::Double ? "float64" : "float32";
}

// Planar copy of frames in any layout, followed by padding frames of silence.
template <typename Sample>
std::vector<Sample> paddedCopy(const Sample* from, engine::SampleLayout layout, int channels,
                               std::size_t frames, std::size_t padding) {
    const std::size_t length = frames + padding;
    std::vector<Sample> copy(static_cast<std::size_t>(channels) * length, Sample(0));
    for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c)
        for (std::size_t f = 0; f < frames; ++f)
            copy[c * length + f] = from[f * layout.frameStride + c * layout.channelStride];
    return copy;
}

}  // namespace

PluginStream::PluginStream(Opener opener, double sampleRate, int blockFrames, bool ownThread)
    : open(std::move(opener)), rate(sampleRate), block(blockFrames), ownThread(ownThread) {
    if (ownThread) home = std::make_unique<engine::WorkerThread>();
    instances.push_back(open(block));
    for (int i = 0; i < plugin().parameterCount(); ++i)
        defaults.push_back(plugin().parameterInfo(i).defaultValue);
}

PluginStream::~PluginStream() {
    // Drivers before the instances they drive.
    running.reset();
    for (const auto& instance : instances) instance->stop();
}

void PluginStream::checkValue(int index, double value) const {
    engine::checkValue(plugin(), index, static_cast<float>(value),
                       engine::mention(engine::RequestField::Settings,
                                       plugin().parameterName(index) + "=" + shown(value)));
}

void PluginStream::loadPreset(const std::string& preset) {
    for (const auto& instance : instances) instance->loadPreset(preset);
}

void PluginStream::loadState(const std::string& path) {
    for (const auto& instance : instances) instance->loadState(path);
}

void PluginStream::setState(const std::string& bytes) {
    for (const auto& instance : instances) instance->setStateBytes(bytes);
}

std::string PluginStream::carriedState() {
    return plugin().stateKind() == engine::StateKind::Parameters ? std::string()
                                                                 : plugin().stateBytes();
}

float PluginStream::defaultValue(int index) const {
    return index >= 0 && index < static_cast<int>(defaults.size()) ? defaults[index] : 0.0f;
}

int PluginStream::parameterIndex(const std::string& nameOrIndex) const {
    return engine::findParameter(plugin(), nameOrIndex, engine::RequestField::Parameter);
}

void PluginStream::setParameter(int index, double value) {
    checkValue(index, value);
    for (const auto& instance : instances)
        instance->setParameter(index, static_cast<float>(value));
}

void PluginStream::automate(int index, const std::vector<engine::AutomationPoint>& points,
                            bool ramp) {
    const std::string name = plugin().parameterName(index);
    // By index, which names this parameter whatever its name is shared with.
    const engine::AutomationLane lane{std::to_string(index), points};
    engine::checkAutomationLane(lane);
    engine::automatedParameter(plugin(), lane);
    if (!pending.empty() && ramp != pendingRamp)
        throw engine::UsageError(name + ": the automation for one call either ramps or holds, "
                                 "for every parameter alike");
    pendingRamp = ramp;
    std::erase_if(pending, [&](const engine::AutomationLane& lane) {
        return lane.parameter == std::to_string(index);
    });
    pending.push_back({std::to_string(index), points});
}

engine::ChannelMapping PluginStream::mappingFor(int channels, int sideChannels) const {
    try {
        if (channels == 0) return engine::midiOnlyMapping(plugin().inputInfo(), plugin().outputs());
        return engine::mapChannels(channels, plugin().inputInfo(), plugin().outputs(),
                                   sideChannels);
    } catch (const engine::EngineError& error) {
        throw engine::UsageError(what(channels) +
                                 (sideChannels > 0 ? " with a side-chain of " +
                                                         std::to_string(sideChannels)
                                                   : std::string()) +
                                 ": " + error.what() + " (" + plugin().name() + ")");
    }
}

int PluginStream::outputChannels(int channels, int sideChannels) const {
    return mappingFor(channels, sideChannels).outputChannels();
}

void PluginStream::reopen(int blockFrames, std::size_t count) {
    std::vector<float> values;
    for (int i = 0; i < plugin().parameterCount(); ++i) values.push_back(plugin().parameter(i));
    const std::string state = carriedState();
    running.reset();
    for (const auto& instance : instances) instance->stop();
    std::vector<std::unique_ptr<engine::Plugin>> opened;
    for (std::size_t n = 0; n < count; ++n) {
        opened.push_back(open(blockFrames));
        if (!state.empty()) opened.back()->setStateBytes(state);
        for (int i = 0; i < static_cast<int>(values.size()); ++i)
            opened.back()->setParameter(i, values[i]);
    }
    instances = std::move(opened);
    block = blockFrames;
}

void PluginStream::reset() {
    reopen(block, 1);
    if (ownThread) home = std::make_unique<engine::WorkerThread>();
}

void PluginStream::run(const std::function<void()>& work) {
    if (home)
        home->run(work);
    else
        work();
}

template <typename Sample>
engine::BlockDriver<Sample>& PluginStream::driverFor(int channels, int blockFrames,
                                                    int sideChannels) {
    constexpr engine::Precision precision = std::is_same_v<Sample, double>
                                                ? engine::Precision::Double
                                                : engine::Precision::Single;
    if (running) {
        if (running->channels != channels || running->precision != precision ||
            running->blockFrames != blockFrames || running->sideChannels != sideChannels)
            throw engine::UsageError(
                "this stream runs " + std::string(precisionName(running->precision)) + " " +
                what(running->channels) + " in blocks of " +
                std::to_string(running->blockFrames) + " frames; call reset() before giving it " +
                precisionName(precision) + " " + what(channels) + " in blocks of " +
                std::to_string(blockFrames) +
                (running->sideChannels != sideChannels ? ", with another side-chain" : ""));
    } else {
        // Refuses what does not split.
        const engine::ChannelMapping mapping = mappingFor(channels, sideChannels);
        // Nothing has been processed yet, so reopening loses nothing.
        if (blockFrames != block || instances.size() > static_cast<std::size_t>(mapping.instances))
            reopen(blockFrames, 1);
        const std::string state =
            instances.size() < static_cast<std::size_t>(mapping.instances) ? carriedState() : "";
        while (instances.size() < static_cast<std::size_t>(mapping.instances)) {
            instances.push_back(open(block));
            if (!state.empty()) instances.back()->setStateBytes(state);
            for (int i = 0; i < plugin().parameterCount(); ++i)
                instances.back()->setParameter(i, plugin().parameter(i));
        }
        std::vector<engine::Plugin*> pointers;
        for (const auto& instance : instances) {
            instance->start(precision);
            pointers.push_back(instance.get());
        }
        auto fresh = std::make_unique<Running>();
        fresh->channels = channels;
        fresh->sideChannels = sideChannels;
        fresh->blockFrames = blockFrames;
        fresh->precision = precision;
        if constexpr (std::is_same_v<Sample, double>)
            fresh->wide = std::make_unique<engine::BlockDriver<double>>(pointers, mapping, block);
        else
            fresh->single = std::make_unique<engine::BlockDriver<float>>(pointers, mapping, block);
        running = std::move(fresh);
    }
    if constexpr (std::is_same_v<Sample, double>)
        return *running->wide;
    else
        return *running->single;
}

template <typename Sample>
engine::BlockDriver<Sample>& PluginStream::preparedDriver(int channels, int blockFrames,
                                                         int sideChannels,
                                                         const engine::MidiSequence* midi) {
    if (midi != nullptr && !plugin().takesMidi())
        throw engine::UsageError("midi: " + plugin().name() + " takes no MIDI");
    engine::BlockDriver<Sample>& driver = driverFor<Sample>(channels, blockFrames, sideChannels);
    if (!pending.empty()) {
        engine::AutomationSchedule schedule;
        schedule.setRamp(pendingRamp);
        for (const engine::AutomationLane& lane : pending)
            schedule.addLane(std::stoi(lane.parameter), lane.points, rate, driver.framesDone());
        driver.setAutomation(schedule);
        pending.clear();
    }
    if (midi != nullptr) driver.addMidi(engine::MidiSchedule(*midi, rate));
    return driver;
}

template <typename Sample>
void PluginStream::process(const Sample* input, engine::SampleLayout inputLayout, int channels,
                           Sample* output, std::size_t frames, int blockFrames,
                           bool compensateLatency, const Sample* sideChain,
                           engine::SampleLayout sideLayout, int sideChannels,
                           const engine::MidiSequence* midi) {
    engine::checkBlockFrames(blockFrames);
    run([&] {
        // As a render reads it: before the first call starts the instances.
        const std::size_t latency =
            compensateLatency ? static_cast<std::size_t>(std::max(plugin().latency(), 0)) : 0;
        engine::BlockDriver<Sample>& driver =
            preparedDriver<Sample>(channels, blockFrames, sideChannels, midi);
        if (latency == 0) {
            driver.process(input, inputLayout, output, engine::SampleLayout::planar(frames),
                           frames, sideChain, sideLayout);
            return;
        }
        // One pass over frames and padding, so the blocks fall as in a render.
        const std::size_t length = frames + latency;
        const std::vector<Sample> padded = paddedCopy(input, inputLayout, channels, frames, latency);
        const std::vector<Sample> side =
            sideChain != nullptr ? paddedCopy(sideChain, sideLayout, sideChannels, frames, latency)
                                 : std::vector<Sample>();
        const int outputs = outputChannels(channels, sideChannels);
        std::vector<Sample> whole(static_cast<std::size_t>(outputs) * length);
        driver.process(padded.data(), engine::SampleLayout::planar(length), whole.data(),
                       engine::SampleLayout::planar(length), length,
                       sideChain != nullptr ? side.data() : nullptr,
                       engine::SampleLayout::planar(length));
        for (std::size_t c = 0; c < static_cast<std::size_t>(outputs); ++c)
            std::copy_n(whole.begin() + static_cast<std::ptrdiff_t>(c * length + latency), frames,
                        output + c * frames);
    });
}

template <typename Sample>
std::vector<Sample> PluginStream::processUntilQuiet(int blockFrames, bool compensateLatency,
                                                   const engine::MidiSequence* midi) {
    engine::checkBlockFrames(blockFrames);
    std::vector<Sample> kept;
    run([&] {
        const std::int64_t latency = compensateLatency ? std::max(plugin().latency(), 0) : 0;
        engine::BlockDriver<Sample>& driver = preparedDriver<Sample>(0, blockFrames, 0, midi);
        const int outputs = outputChannels(0);
        const std::int64_t events = driver.midiFramesLeft();
        engine::QuietEnd quiet(events, std::llround(engine::kQuietSeconds * rate));
        // The frames a render of a file of these messages runs through.
        const std::int64_t last =
            latency + events + std::llround(engine::kLongestQuietTailSeconds * rate);
        const auto block = static_cast<std::int64_t>(blockFrames);
        const std::int64_t chunk = block * ((kStretchFrames + block - 1) / block);
        std::vector<Sample> piece;
        std::int64_t done = 0;
        while (done < last && !quiet.ended()) {
            const std::int64_t dropping = std::max<std::int64_t>(latency - done, 0);
            const std::int64_t keptSoFar = done - latency + dropping;
            // Whole blocks, as a render cuts them, but never past the frame
            // the output may end on: the stream stops exactly there.
            std::int64_t frames = std::min({chunk, last - done,
                                            dropping + quiet.framesToPossibleEnd(keptSoFar)});
            if (frames > block) frames -= frames % block;
            piece.resize(static_cast<std::size_t>(frames * outputs));
            driver.process(nullptr, {}, piece.data(), engine::SampleLayout::interleaved(outputs),
                           static_cast<std::size_t>(frames));
            done += frames;
            if (frames <= dropping) continue;
            const Sample* fresh = piece.data() + dropping * outputs;
            const std::size_t keep = quiet.keep(fresh, static_cast<std::size_t>(frames - dropping),
                                                outputs, keptSoFar);
            kept.insert(kept.end(), fresh, fresh + keep * static_cast<std::size_t>(outputs));
        }
    });
    return kept;
}

template void PluginStream::process<float>(const float*, engine::SampleLayout, int, float*,
                                           std::size_t, int, bool, const float*,
                                           engine::SampleLayout, int, const engine::MidiSequence*);
template void PluginStream::process<double>(const double*, engine::SampleLayout, int, double*,
                                            std::size_t, int, bool, const double*,
                                            engine::SampleLayout, int, const engine::MidiSequence*);
template std::vector<float> PluginStream::processUntilQuiet<float>(int, bool,
                                                                  const engine::MidiSequence*);
template std::vector<double> PluginStream::processUntilQuiet<double>(int, bool,
                                                                    const engine::MidiSequence*);

}  // namespace varkel::python
