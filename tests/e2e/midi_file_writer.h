// Standard MIDI Files written from a list of events, for the tests to render
// and to damage: type 0 or 1, any ticks per quarter note, tempo changes,
// system-exclusive and meta events, with or without running status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct MidiFileEvent {
    std::uint32_t tick = 0;  // from the start of the track
    int track = 0;           // a type 0 file puts every event in its one track
    // A channel message (status first); a whole system-exclusive message,
    // F0 to F7; or a meta event as FF, its type, then its data (the writer
    // adds the length).
    std::vector<std::uint8_t> bytes;
};

struct MidiFileContent {
    int format = 1;  // 0 or 1
    int ticksPerQuarter = 480;
    // Leave out a channel message's status when it repeats the one before.
    bool runningStatus = false;
    // End each track with the end-of-track meta event (off for a damaged file).
    bool endTracks = true;
    // In any order: each track's events are written in tick order, those on
    // one tick in the order given.
    std::vector<MidiFileEvent> events;

    // A note-on at tick and its note-off (80, velocity 0) length ticks later.
    void addNote(std::uint32_t tick, std::uint32_t length, int channel, int note, int velocity,
                 int track = 0);
    // Quarter notes per minute from tick on (a set-tempo meta event).
    void addTempo(std::uint32_t tick, double quartersPerMinute, int track = 0);

    // Where a tick falls in seconds under the tempo events (120 per minute
    // before the first), as a reader should place it.
    double secondsAt(std::uint32_t tick) const;
};

std::string midiFileBytes(const MidiFileContent& content);
void writeMidiFile(const std::string& path, const MidiFileContent& content);

}  // namespace e2e
