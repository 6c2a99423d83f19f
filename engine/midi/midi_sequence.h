// MIDI messages at times in seconds, as a file or a caller gives them, and
// the same messages placed on frames at a rate for the block driver to hand
// out block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/midi/midi_event.h"

namespace varkel::engine {

// Messages in time order; messages at the same time keep the order they were
// added in (a note-off before a note-on stays before it).
class MidiSequence {
public:
    struct Message {
        double seconds = 0.0;
        std::uint32_t offset = 0;  // into bytes()
        std::uint32_t size = 0;
    };

    // Adds a whole message (status byte first; sysex from F0 to F7). Times
    // must not go back; throws std::invalid_argument for one that does, for
    // a negative or non-finite time and for an empty message.
    void add(double seconds, const std::uint8_t* bytes, std::size_t size);

    const std::vector<Message>& messages() const { return list; }
    const std::uint8_t* bytesOf(const Message& m) const { return storage.data() + m.offset; }
    bool empty() const { return list.empty(); }
    // The last message's time; 0 for none.
    double lastSeconds() const { return list.empty() ? 0.0 : list.back().seconds; }

    // The messages of one channel (1..16) and the system messages, which
    // belong to none.
    MidiSequence onChannel(int channel) const;

private:
    std::vector<Message> list;
    std::vector<std::uint8_t> storage;
};

// A sequence at a rate: each message on the nearest frame (ties round up),
// counted from the first frame rendered.
class MidiSchedule {
public:
    MidiSchedule() = default;
    MidiSchedule(const MidiSequence& sequence, double sampleRate);

    bool empty() const { return framed.empty(); }
    std::size_t size() const { return framed.size(); }
    // The frame of the last message; -1 for none.
    std::int64_t lastFrame() const { return framed.empty() ? -1 : framed.back().frame; }

    // Fills out with the messages in frames [start, start + frames), each
    // with its frame counted from start, in order. Reuses out's storage.
    void eventsIn(std::int64_t start, int frames, std::vector<MidiEvent>& out) const;

    // The messages at frame start and after, counted from start: what is
    // left to play once the frames before it are done.
    MidiSchedule from(std::int64_t start) const;
    // Both schedules' messages in frame order; at one frame, first's come
    // before second's (those given earlier are played first).
    static MidiSchedule merged(const MidiSchedule& first, const MidiSchedule& second);

private:
    struct Framed {
        std::int64_t frame = 0;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
    };
    std::vector<Framed> framed;
    std::vector<std::uint8_t> storage;

    // Copies a message of another schedule's (its bytes in bytes), its frame
    // moved by shift; messages must be appended in frame order.
    void append(const Framed& message, const std::vector<std::uint8_t>& bytes, std::int64_t shift);
};

}  // namespace varkel::engine
