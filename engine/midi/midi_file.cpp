#include "engine/midi/midi_file.h"

namespace varkel::engine {

MidiSequence parseMidiFile(const std::uint8_t*, std::size_t) {
    throw MidiFileError("reading MIDI files is not built yet");
}

MidiSequence readMidiFile(const std::string& path) {
    throw MidiFileError(path + ": reading MIDI files is not built yet");
}

bool isMidiFileName(const std::string&) { return false; }

}  // namespace varkel::engine
