// Whether bytes are one whole MIDI message a plug-in can be handed: what a
// caller gives as bytes (from Python, say) is checked before it is queued,
// since a plug-in reads as many data bytes as the status promises.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varkel::engine {

// Throws std::invalid_argument saying what is wrong: no status byte first, a
// status without a message (F4, F5, F9, FD; FF is a file's meta event),
// too few or too many data bytes for the status, a data byte of 80 or more,
// a system-exclusive message not from F0 to F7.
void checkMidiMessage(const std::uint8_t* bytes, std::size_t size);

}  // namespace varkel::engine
