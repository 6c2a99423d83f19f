// One MIDI message as a plug-in receives it: at a frame of the process call
// it comes before, its bytes held by whoever queued it.
#pragma once

#include <cstdint>

namespace varkel::engine {

struct MidiEvent {
    int frame = 0;  // within the call: 0 .. frames - 1
    std::uint32_t size = 0;
    const std::uint8_t* bytes = nullptr;  // a whole message; sysex from F0 to F7
};

}  // namespace varkel::engine
