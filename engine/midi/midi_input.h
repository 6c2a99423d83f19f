// The MIDI a render plays: a file read, kept to one channel where asked, and
// placed on the render's frames.
#pragma once

#include <optional>
#include <string>

#include "engine/engine_error.h"
#include "engine/midi/midi_sequence.h"

namespace varkel::engine {

inline constexpr int kLowestMidiChannel = 1;
inline constexpr int kHighestMidiChannel = 16;

// Throws RequestError for a channel outside 1..16.
void checkMidiChannel(long long channel);

// A MIDI file's messages, those of the channel only when one is given (and
// the system messages, which belong to every channel). Throws FileNotFound
// or EngineError naming the file, as field words it (the input itself
// when field is none).
MidiSequence loadMidi(const std::string& path, std::optional<int> channel,
                      std::optional<RequestField> field = std::nullopt);

}  // namespace varkel::engine
