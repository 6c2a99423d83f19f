// MIDI for Python: pairs checked into a sequence, MIDI files read with the
// engine's reader, and what names a MIDI file.
#include "python/src/midi_binding.h"

#include <pybind11/stl.h>

#include <cmath>
#include <stdexcept>

#include "engine/engine_error.h"
#include "engine/midi/midi_file.h"
#include "engine/midi/midi_message.h"
#include "python/src/bindings.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

std::string seconds(double value) { return py::str(py::float_(value)).cast<std::string>() + " s"; }

}  // namespace

engine::MidiSequence midiSequenceOf(const MidiPairs& pairs) {
    engine::MidiSequence sequence;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto& [time, message] = pairs[i];
        const std::string place = "midi[" + std::to_string(i) + "]: ";
        if (!(time >= 0.0 && time <= engine::kLongestMidiFileSeconds))
            throw engine::UsageError(place + "time " + seconds(time) +
                                     ": must be a number of seconds from 0 to 86400");
        if (!sequence.empty() && time < sequence.lastSeconds())
            throw engine::UsageError(place + "time " + seconds(time) + " comes before the one "
                                     "before it (" + seconds(sequence.lastSeconds()) + ")");
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
        try {
            engine::checkMidiMessage(bytes, message.size());
            sequence.add(time, bytes, message.size());
        } catch (const std::invalid_argument& error) {
            throw engine::UsageError(place + error.what());
        }
    }
    return sequence;
}

void bindMidi(py::module_& module) {
    module.def(
        "read_midi_file",
        [](const std::string& path) {
            engine::MidiSequence sequence;
            {
                const py::gil_scoped_release unlocked;
                sequence = engine::readMidiFile(path);
            }
            py::list pairs;
            for (const engine::MidiSequence::Message& m : sequence.messages())
                pairs.append(py::make_tuple(
                    m.seconds, py::bytes(reinterpret_cast<const char*>(sequence.bytesOf(m)), m.size)));
            return pairs;
        },
        py::arg("path"));
    module.def("is_midi_file_name", &engine::isMidiFileName, py::arg("path"));
}

}  // namespace varkel::python
