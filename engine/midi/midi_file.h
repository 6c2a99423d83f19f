// Standard MIDI Files (types 0, 1 and 2) read into one sequence of messages
// in seconds, with the file's tempo map applied. Meta events (tempo, names,
// end of track) are read but not kept; system-exclusive messages are kept
// whole, from F0 to F7. A damaged or absurd file is an error, never a crash
// nor a hang: the reader checks every length against what the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/midi/midi_sequence.h"

namespace varkel::engine {

// No MIDI file is near this size; a bigger one is refused before it is read.
inline constexpr std::size_t kMaxMidiFileBytes = std::size_t{64} << 20;
// Nor does one play for a day: a message later than this (a damaged delta
// time, an absurd tempo) is refused rather than rendered for years.
inline constexpr double kLongestMidiFileSeconds = 24.0 * 3600.0;

struct MidiFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file's bytes; throws MidiFileError saying what is wrong and where.
MidiSequence parseMidiFile(const std::uint8_t* data, std::size_t size);

// Reads and parses a file; throws FileNotFound, or EngineError naming the
// file with what is wrong with it.
MidiSequence readMidiFile(const std::string& path);

// Whether a path names a MIDI file by its extension (.mid, .midi, .smf).
bool isMidiFileName(const std::string& path);

}  // namespace varkel::engine
