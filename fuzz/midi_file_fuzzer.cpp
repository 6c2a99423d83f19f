// A Standard MIDI File through the reader to a schedule. Its rate and block
// size come from the bytes' hash, so seeds are plain .mid files. A file the
// reader takes must hold only whole messages in time order, and handing the
// schedule out block by block must give each message once, in order, on its
// nearest frame, and blocks ending at or starting on a message's frame must
// leave it out or hold it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/midi/midi_file.h"

namespace {

using varkel::engine::MidiEvent;
using varkel::engine::MidiSchedule;
using varkel::engine::MidiSequence;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "midi_file_fuzzer: %s\n", what);
    std::abort();
}

constexpr double kRates[] = {8000.0, 22050.0, 44100.0, 48000.0, 96000.0, 192000.0, 1000.0, 11025.5};
// Blocks handed out at most, whatever the file's length: the block grows to fit.
constexpr std::int64_t kMostBlocks = 4096;

bool wholeMessage(const std::uint8_t* bytes, std::uint32_t size) {
    const std::uint8_t status = bytes[0];
    if (status < 0x80 || status == 0xFF) return false;
    if (status == 0xF0) {
        if (size < 2 || bytes[size - 1] != 0xF7) return false;
        for (std::uint32_t i = 1; i + 1 < size; ++i)
            if (bytes[i] > 0x7F) return false;
        return true;
    }
    std::uint32_t data = 0;
    if (status < 0xF0) data = (status & 0xE0) == 0xC0 ? 1 : 2;
    else if (status == 0xF1 || status == 0xF3) data = 1;
    else if (status == 0xF2) data = 2;
    if (size != data + 1) return false;
    for (std::uint32_t i = 1; i < size; ++i)
        if (bytes[i] > 0x7F) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MidiSequence sequence;
    try {
        sequence = varkel::engine::parseMidiFile(data, size);
    } catch (const varkel::engine::MidiFileError& error) {
        if (std::strchr(error.what(), '\n') != nullptr || error.what()[0] == '\0')
            fail("an error that is not one line");
        return 0;
    }
    double previous = 0.0;
    for (const MidiSequence::Message& m : sequence.messages()) {
        if (!(m.seconds >= previous && m.seconds <= varkel::engine::kLongestMidiFileSeconds))
            fail("a time out of order or out of range");
        previous = m.seconds;
        if (!wholeMessage(sequence.bytesOf(m), m.size)) fail("not a whole message");
    }

    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    const double rate = kRates[hash % 8];
    const MidiSchedule schedule(sequence, rate);
    if (schedule.size() != sequence.messages().size()) fail("the schedule lost messages");
    const std::int64_t frames = schedule.lastFrame() + 1;
    std::int64_t block = 1 + (hash >> 8) % 4096;
    if (frames / block >= kMostBlocks) block = frames / kMostBlocks + 1;

    std::vector<MidiEvent> events;
    std::size_t next = 0;
    for (std::int64_t start = 0; start < frames; start += block) {
        schedule.eventsIn(start, static_cast<int>(block), events);
        for (const MidiEvent& e : events) {
            if (e.frame < 0 || e.frame >= block) fail("an event outside its block");
            if (next == sequence.messages().size()) fail("more events than messages");
            const MidiSequence::Message& m = sequence.messages()[next++];
            if (e.size != m.size || std::memcmp(e.bytes, sequence.bytesOf(m), m.size) != 0)
                fail("an event out of order");
            const double exact = m.seconds * rate;
            if (std::fabs(static_cast<double>(start + e.frame) - exact) > 0.5 + 1e-9 * exact)
                fail("an event off its nearest frame");
        }
    }
    if (next != sequence.messages().size()) fail("a message never handed out");

    // Blocks that end just before a message's frame, and one that starts on it.
    std::size_t checked = 0;
    for (const MidiSequence::Message& m : sequence.messages()) {
        if (++checked > 64) break;
        const auto frame = static_cast<std::int64_t>(std::floor(m.seconds * rate + 0.5));
        const int before = 1 + static_cast<int>(checked % 8);
        schedule.eventsIn(frame - before, before, events);
        for (const MidiEvent& e : events)
            if (e.frame >= before) fail("an event in the block before its frame");
        schedule.eventsIn(frame, 1, events);
        if (events.empty() || events.front().frame != 0) fail("an event missing from its frame");
    }
    return 0;
}
