#include "engine/plugins/isolated/isolated_plugin.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/engine_error.h"
#include "engine/plugins/isolated/wire.h"
#include "engine/plugins/lv2/lv2_world.h"
#include "engine/plugins/plugin_loader.h"

namespace varkel::engine {

using namespace isolated;

namespace {

using Clock = std::chrono::steady_clock;

// How long a wait for an answer runs before it looks whether the child is
// still there.
constexpr std::chrono::milliseconds kLivenessCheck{20};

std::vector<std::string> childArguments(const std::string& name, double sampleRate,
                                        int blockFrames, ProcessMode mode) {
    return {"--parent", std::to_string(::getpid()), "--rate", fmt::format("{}", sampleRate),
            "--block", std::to_string(blockFrames), "--mode",
            mode == ProcessMode::Realtime ? "realtime" : "offline", "--verbose",
            pluginLogging() ? "1" : "0", "--", name};
}

}  // namespace

IsolatedPlugin::IsolatedPlugin(const std::string& name, double sampleRate, int blockFrames,
                               ProcessMode mode, IsolationOptions options)
    : requested(name.empty() ? defaultPluginPath() : name),
      blockFrames(blockFrames),
      options(std::move(options)),
      region(SharedRegion::create(kAudioOffset + kFirstDataBytes)) {
    child = std::make_unique<ChildProcess>(
        this->options.program.empty() ? pluginHostProgram() : this->options.program,
        childArguments(requested, sampleRate, blockFrames, mode), region.fd());
    call(Command::Open);
    description = decodeDescription(region.data(), region.header().dataSize);
    opened = true;
    for (const std::string& warning : description.warnings) warn(warning);
    warningsTaken = description.warnings.size();
    // The audio planes of a block, before the data area.
    region.header().audioBytes = static_cast<std::uint64_t>(description.inputs + description.outputs) *
                                 planeBytes(blockFrames);
    region.reserveData(kFirstDataBytes);
}

IsolatedPlugin::~IsolatedPlugin() = default;

void IsolatedPlugin::lost(const std::string& how) const {
    const std::string who = opened ? description.name + " (" + description.location + ")" : requested;
    const std::string when = opened ? fmt::format("at frame {}", framesDone) : "while loading";
    broken = fmt::format("{}the plug-in {} {} {}", options.file.empty() ? "" : options.file + ": ",
                         who, how, when);
    throw EngineError(broken);
}

void IsolatedPlugin::call(Command command) const {
    if (!broken.empty()) throw EngineError(broken);
    RegionHeader& header = region.header();
    header.command = command;
    const std::uint32_t before = header.reply.load(std::memory_order_relaxed);
    const std::uint32_t next = before + 1;
    header.request.store(next, std::memory_order_release);
    wakeWaiter(header.request);
    const Clock::time_point deadline = Clock::now() + options.timeout;
    while (header.reply.load(std::memory_order_acquire) != next) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            child->kill();
            const double seconds = std::chrono::duration<double>(options.timeout).count();
            lost(fmt::format("did not answer within {:g} s ({}) and was stopped", seconds,
                             mention(RequestField::PluginTimeout, fmt::format("{:g}", seconds))));
        }
        if (waitWhileEqual(header.reply, before, std::min<Clock::duration>(left, kLivenessCheck)))
            continue;
        if (const std::optional<int> status = child->ended()) lost(describeEnd(*status));
    }
    // The child may have grown the region for its answer, moving the header.
    region.follow();
    if (region.header().outcome == Outcome::Failed) rethrowFailure();
}

void IsolatedPlugin::rethrowFailure() const {
    WireReader in(region.data(), region.header().dataSize);
    const auto kind = in.next<FailureKind>();
    const auto status = in.next<int>();
    const std::string message = rewordMentions(in.next<std::string>());
    const auto help = in.next<std::string>();
    switch (kind) {
        case FailureKind::FileNotFound: throw FileNotFound(message, status);
        case FailureKind::Usage: throw UsageError(message, help);
        case FailureKind::Engine: break;
    }
    throw EngineError(message, status);
}

void IsolatedPlugin::send(Command command, const std::string& data) const {
    region.reserveData(data.size());
    std::memcpy(region.data(), data.data(), data.size());
    region.header().dataSize = data.size();
    call(command);
}

std::string IsolatedPlugin::answer() const {
    return std::string(region.data(), region.header().dataSize);
}

void IsolatedPlugin::takeWarnings() {
    WireReader in(region.data(), region.header().dataSize);
    const auto all = in.next<std::vector<std::string>>();
    for (std::size_t i = warningsTaken; i < all.size(); ++i) warn(all[i]);
    warningsTaken = std::max(warningsTaken, all.size());
}

void IsolatedPlugin::queueMidi(std::span<const MidiEvent> events) {
    if (!description.takesMidi) return;
    RegionHeader& header = region.header();
    auto* records = reinterpret_cast<MidiRecord*>(region.at(kMidiRecordsOffset));
    auto* bytes = reinterpret_cast<std::uint8_t*>(region.at(kMidiBytesOffset));
    std::size_t used = 0;
    if (events.size() > kMaxMidiEvents)
        throw EngineError(fmt::format("{}: more than {} MIDI events in one block", description.name,
                                      kMaxMidiEvents));
    for (std::size_t i = 0; i < events.size(); ++i) {
        const MidiEvent& event = events[i];
        if (event.size > kMaxMidiBytes - used)
            throw EngineError(fmt::format("{}: more than {} bytes of MIDI in one block",
                                          description.name, kMaxMidiBytes));
        std::memcpy(bytes + used, event.bytes, event.size);
        records[i] = {event.frame, event.size, static_cast<std::uint32_t>(used)};
        used += event.size;
    }
    header.midiEvents = static_cast<std::int32_t>(events.size());
}

ParameterInfo IsolatedPlugin::parameterInfo(int index) const {
    return description.parameters.at(static_cast<std::size_t>(index));
}

std::string IsolatedPlugin::parameterDisplay(int index) const {
    region.header().argument = index;
    call(Command::ParameterDisplay);
    return answer();
}

float IsolatedPlugin::parameter(int index) const {
    region.header().argument = index;
    call(Command::ParameterValue);
    return region.header().value;
}

void IsolatedPlugin::setParameter(int index, float value) {
    RegionHeader& header = region.header();
    // Queued for the child to apply before the next call, in order.
    if (static_cast<std::size_t>(header.parameterChanges) == kMaxParameterChanges) call(Command::Flush);
    auto* changes = reinterpret_cast<ParameterChange*>(region.at(kChangesOffset));
    changes[header.parameterChanges++] = {index, value};
}

void IsolatedPlugin::loadPreset(const std::string& preset) {
    send(Command::LoadPreset, preset);
    takeWarnings();
}

void IsolatedPlugin::loadState(const std::string& path) {
    send(Command::LoadState, path);
    takeWarnings();
}

void IsolatedPlugin::saveState(const std::string& path) { send(Command::SaveState, path); }

std::string IsolatedPlugin::stateBytes() {
    call(Command::StateBytes);
    return answer();
}

void IsolatedPlugin::setStateBytes(const std::string& bytes) {
    send(Command::SetStateBytes, bytes);
    takeWarnings();
}

int IsolatedPlugin::latency() {
    call(Command::Latency);
    return region.header().argument;
}

std::vector<ControlOutput> IsolatedPlugin::controlOutputs() const {
    call(Command::ControlOutputs);
    return decodeControlOutputs(region.data(), region.header().dataSize);
}

void IsolatedPlugin::start(Precision precision) {
    region.header().argument = precision == Precision::Double ? 1 : 0;
    call(Command::Start);
}

void IsolatedPlugin::stop() {
    // Callers switch a plug-in off while unwinding from its failure; a child
    // that is gone has nothing left to switch off.
    if (broken.empty()) call(Command::Stop);
}

template <typename Sample>
void IsolatedPlugin::processAs(Command command, Sample** inputs, Sample** outputs, int frames) {
    if (frames > blockFrames)
        throw EngineError(fmt::format("{}: a block of {} frames, more than the {} it was opened for",
                                      description.name, frames, blockFrames));
    const std::size_t plane = planeBytes(blockFrames);
    const auto bytes = static_cast<std::size_t>(frames) * sizeof(Sample);
    const auto channelsIn = static_cast<std::size_t>(description.inputs);
    for (std::size_t c = 0; c < channelsIn; ++c)
        std::memcpy(region.at(kAudioOffset + c * plane), inputs[c], bytes);
    // What the outputs held goes too: a plug-in that leaves a channel alone
    // leaves it as it was, as it would here.
    for (std::size_t c = 0; c < static_cast<std::size_t>(description.outputs); ++c)
        std::memcpy(region.at(kAudioOffset + (channelsIn + c) * plane), outputs[c], bytes);
    region.header().argument = frames;
    call(command);
    region.header().midiEvents = 0;
    for (std::size_t c = 0; c < static_cast<std::size_t>(description.outputs); ++c)
        std::memcpy(outputs[c], region.at(kAudioOffset + (channelsIn + c) * plane), bytes);
    framesDone += frames;
}

void IsolatedPlugin::process(float** inputs, float** outputs, int frames) {
    processAs(Command::ProcessSingle, inputs, outputs, frames);
}

void IsolatedPlugin::process(double** inputs, double** outputs, int frames) {
    processAs(Command::ProcessDouble, inputs, outputs, frames);
}

}  // namespace varkel::engine
