// MIDI as Python gives it, (seconds, bytes) pairs, made into the engine's
// sequence with each fault named by the pair's place.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/midi/midi_sequence.h"

namespace varkel::python {

using MidiPairs = std::vector<std::pair<double, std::string>>;

// Throws UsageError "midi[i]: ..." for a time that is negative, not finite,
// later than a day or before the one before it, and for bytes that are not
// one whole MIDI message.
engine::MidiSequence midiSequenceOf(const MidiPairs& pairs);

}  // namespace varkel::python
