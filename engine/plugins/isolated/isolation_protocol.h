// What the parent and the child of an isolated plug-in share: one memory
// region (a memfd both map) holding a header, the parameter changes and MIDI
// events queued for the next call, the audio planes of one block, and an area
// for everything else (names, infos, state, messages). One call at a time:
// the parent fills in the command and bumps `request`; the child does it and
// sets `reply` to the same number. Both wait on those words with futexes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/plugin.h"

namespace varkel::engine::isolated {

enum class Command : std::uint32_t {
    Open,  // answers the plug-in's description (see PluginDescription)
    Flush,  // only applies the queued parameter changes
    ParameterDisplay,
    ParameterValue,
    LoadPreset,
    LoadState,
    SaveState,
    StateBytes,
    SetStateBytes,
    Latency,
    ControlOutputs,
    Start,
    Stop,
    ProcessSingle,
    ProcessDouble,
};

enum class Outcome : std::int32_t { Done, Failed };

// How a failure in the child is raised again in the parent.
enum class FailureKind : std::int32_t { Engine, FileNotFound, Usage };

struct ParameterChange {
    std::int32_t index;
    float value;
};

struct MidiRecord {
    std::int32_t frame;
    std::uint32_t size;
    std::uint32_t offset;  // into the MIDI bytes
};

inline constexpr std::size_t kMaxParameterChanges = 4096;
inline constexpr std::size_t kMaxMidiEvents = 8192;
inline constexpr std::size_t kMaxMidiBytes = 1 << 20;

struct RegionHeader {
    std::atomic<std::uint32_t> request;
    std::atomic<std::uint32_t> reply;
    Command command;
    Outcome outcome;
    std::int32_t argument;  // a parameter index, a precision, a frame count
    float value;            // a parameter's value, in answer
    std::int32_t parameterChanges;
    std::int32_t midiEvents;
    std::uint64_t regionSize;  // as the side that last grew it left it
    std::uint64_t audioBytes;  // the planes, from kAudioOffset
    std::uint64_t dataSize;    // bytes in the data area
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

inline constexpr std::size_t kHeaderBytes = 4096;
inline constexpr std::size_t kChangesOffset = kHeaderBytes;
inline constexpr std::size_t kMidiRecordsOffset =
    kChangesOffset + kMaxParameterChanges * sizeof(ParameterChange);
inline constexpr std::size_t kMidiBytesOffset = kMidiRecordsOffset + kMaxMidiEvents * sizeof(MidiRecord);
inline constexpr std::size_t kAudioOffset = kMidiBytesOffset + kMaxMidiBytes;
inline constexpr std::size_t kFirstDataBytes = std::size_t{1} << 20;

// A plane holds one channel of a block at either precision.
inline std::size_t planeBytes(int blockFrames) {
    return static_cast<std::size_t>(blockFrames) * sizeof(double);
}
inline std::size_t dataOffset(const RegionHeader& header) {
    return kAudioOffset + static_cast<std::size_t>(header.audioBytes);
}

// What the parent keeps of the plug-in, sent once when it is open.
struct PluginDescription {
    std::string format;
    std::string name;
    std::string location;
    std::int32_t inputs = 0;
    std::int32_t outputs = 0;
    bool takesMidi = false;
    bool instrument = false;
    StateKind stateKind = StateKind::Parameters;
    std::vector<InputInfo> inputInfo;
    std::vector<ParameterInfo> parameters;
    std::vector<std::string> presets;
    std::vector<std::string> warnings;
};

std::string encodeDescription(const PluginDescription& description);
PluginDescription decodeDescription(const char* data, std::size_t size);
std::string encodeControlOutputs(const std::vector<ControlOutput>& outputs);
std::vector<ControlOutput> decodeControlOutputs(const char* data, std::size_t size);

// The child's field wording: each mention as markers the parent replaces
// with its own face's words, so that a message reads as the in-process one.
std::string markedMention(RequestField field, const std::string& given);
std::string rewordMentions(const std::string& message);

}  // namespace varkel::engine::isolated
