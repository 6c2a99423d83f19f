#include "engine/midi/midi_message.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace varkel::engine {

namespace {

std::string byteInHex(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

// Data bytes after a status other than F0; -1 for a status that is no message.
int dataBytesAfter(std::uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0:
            return 1;
        case 0xF0:
            break;
        default:
            return 2;
    }
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        case 0xF4:
        case 0xF5:
        case 0xF9:
        case 0xFD:
        case 0xFF:
            return -1;
        default:
            return 0;  // tune request and the real-time messages
    }
}

}  // namespace

void checkMidiMessage(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) throw std::invalid_argument("a MIDI message is empty");
    const std::uint8_t status = bytes[0];
    if (status < 0x80)
        throw std::invalid_argument("a MIDI message starts with a status byte (80 to FF), not " +
                                    byteInHex(status));
    if (status == 0xF0) {
        if (size < 2 || bytes[size - 1] != 0xF7)
            throw std::invalid_argument("a system-exclusive message ends with F7");
        for (std::size_t i = 1; i + 1 < size; ++i)
            if (bytes[i] > 0x7F)
                throw std::invalid_argument("a system-exclusive message holds data bytes (00 to "
                                            "7F) between F0 and F7, not " + byteInHex(bytes[i]));
        return;
    }
    const int data = dataBytesAfter(status);
    if (data < 0)
        throw std::invalid_argument("status " + byteInHex(status) + " is no MIDI message a plug-in takes");
    if (size != static_cast<std::size_t>(data) + 1)
        throw std::invalid_argument("status " + byteInHex(status) + " takes " + std::to_string(data) +
                                    " data byte" + (data == 1 ? "" : "s") + ", not " +
                                    std::to_string(size - 1));
    for (std::size_t i = 1; i < size; ++i)
        if (bytes[i] > 0x7F)
            throw std::invalid_argument("data byte " + byteInHex(bytes[i]) + " after status " +
                                        byteInHex(status) + ": data bytes are 00 to 7F");
}

}  // namespace varkel::engine
