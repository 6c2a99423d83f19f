#include "engine/midi/midi_input.h"

#include "engine/engine_error.h"
#include "engine/midi/midi_file.h"

namespace varkel::engine {

void checkMidiChannel(long long channel) {
    if (channel < kLowestMidiChannel || channel > kHighestMidiChannel)
        throw RequestError(RequestField::MidiChannel, std::to_string(channel),
                           "MIDI channels are 1 to 16");
}

MidiSequence loadMidi(const std::string& path, std::optional<int> channel,
                      std::optional<RequestField> field) {
    MidiSequence sequence;
    try {
        sequence = readMidiFile(path);
    } catch (const EngineError& error) {
        if (!field) throw;
        throw EngineError(mention(*field) + " " + error.what(), error.status());
    }
    return channel ? sequence.onChannel(*channel) : sequence;
}

}  // namespace varkel::engine
