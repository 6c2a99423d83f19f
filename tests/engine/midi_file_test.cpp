// Standard MIDI Files built byte by byte, with the times their ticks and
// tempi give worked out by hand; damaged files, each refused in one line;
// and the frames a schedule hands a block.
#include "engine/midi/midi_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_error.h"

namespace varkel::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes be32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}
Bytes header(int format, int tracks, std::uint16_t division) {
    return cat({{'M', 'T', 'h', 'd'}, be32(6),
                {0, std::uint8_t(format), 0, std::uint8_t(tracks), std::uint8_t(division >> 8),
                 std::uint8_t(division)}});
}
Bytes chunk(const char* type, const Bytes& body) {
    return cat({Bytes(type, type + 4), be32(std::uint32_t(body.size())), body});
}
const Bytes kEnd = {0x00, 0xFF, 0x2F, 0x00};
Bytes track(const Bytes& events) { return chunk("MTrk", cat({events, kEnd})); }
// A tempo event, its delta time first.
Bytes tempo(std::uint32_t microsecondsPerQuarter, std::uint8_t delta = 0) {
    return {delta, 0xFF, 0x51, 0x03, std::uint8_t(microsecondsPerQuarter >> 16),
            std::uint8_t(microsecondsPerQuarter >> 8), std::uint8_t(microsecondsPerQuarter)};
}

using Timed = std::pair<double, Bytes>;

std::vector<Timed> parsed(const Bytes& file) {
    const MidiSequence sequence = parseMidiFile(file.data(), file.size());
    std::vector<Timed> all;
    for (const auto& m : sequence.messages())
        all.emplace_back(m.seconds,
                         Bytes(sequence.bytesOf(m), sequence.bytesOf(m) + m.size));
    return all;
}

struct FileRow {
    const char* name;
    Bytes file;
    std::vector<Timed> expected;
};

// 120 beats a minute until a tempo says otherwise: at 96 ticks a quarter, a
// tick is 1/192 s.
const std::vector<FileRow> kFiles = {
    {"tempo change mid-file",
     cat({header(0, 1, 96),
          track(cat({{0x00, 0x90, 60, 100}, tempo(1000000, 0x60), {0x60, 0x80, 60, 0},
                     {0x30, 0x90, 62, 80}}))}),
     // 96 ticks at 0.5 s a quarter, then 96 and 48 at 1 s a quarter.
     {{0.0, {0x90, 60, 100}}, {1.5, {0x80, 60, 0}}, {2.0, {0x90, 62, 80}}}},
    {"running status, one and two data bytes",
     cat({header(0, 1, 100),
          track({0x00, 0x90, 60, 100, 0x32, 60, 0, 0x00, 0xC0, 5, 0x32, 6, 0x00, 0xF8, 0x00, 7,
                 0x00, 0xD2, 40, 0x00, 0xE1, 0, 64})}),
     // A real-time byte between does not end the running status.
     {{0.0, {0x90, 60, 100}},
      {0.25, {0x90, 60, 0}},
      {0.25, {0xC0, 5}},
      {0.5, {0xC0, 6}},
      {0.5, {0xF8}},
      {0.5, {0xC0, 7}},
      {0.5, {0xD2, 40}},
      {0.5, {0xE1, 0, 64}}}},
    {"type 1: tracks merged by time, ties in track order, one tempo map",
     cat({header(1, 3, 96),
          track(cat({tempo(250000), {0x60, 0xB0, 7, 100}})),
          // A tempo in another track than the first applies to all.
          track(cat({{0x00, 0xC0, 1, 0x60, 0x90, 64, 90}, tempo(1000000)})),
          track({0x00, 0xC1, 2, 0x60, 0x91, 67, 90, 0x60, 0x81, 67, 0})}),
     // 96 ticks at 0.25 s a quarter, then 96 at 1 s.
     {{0.0, {0xC0, 1}},
      {0.0, {0xC1, 2}},
      {0.25, {0xB0, 7, 100}},
      {0.25, {0x90, 64, 90}},
      {0.25, {0x91, 67, 90}},
      {1.25, {0x81, 67, 0}}}},
    {"type 2: tracks one after another, a tempo holding on",
     cat({header(2, 2, 96),
          chunk("MTrk", cat({tempo(250000), {0x00, 0x90, 60, 1, 0x81, 0x40, 0xFF, 0x2F, 0x00}})),
          track({0x00, 0x90, 61, 1, 0x60, 0x80, 61, 0})}),
     {{0.0, {0x90, 60, 1}}, {0.5, {0x90, 61, 1}}, {0.75, {0x80, 61, 0}}}},
    {"SMPTE division: 25 frames of 40 ticks, tempo ignored",
     cat({header(0, 1, 0xE728), track(cat({tempo(1000000), {0x83, 0x74, 0x90, 60, 1}}))}),
     {{0.5, {0x90, 60, 1}}}},
    {"SMPTE division: 29 is 30 frames slowed by 1000/1001",
     cat({header(0, 1, 0xE301), track({0x1E, 0x90, 60, 1})}),
     {{1.001, {0x90, 60, 1}}}},
    {"sysex whole, closed, joined from packets; escapes and meta events dropped",
     cat({header(0, 1, 96),
          track({0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,
                 0x00, 0xF0, 0x03, 0x43, 0x12, 0x00,
                 0x00, 0xF7, 0x01, 0x01,
                 0x00, 0xF7, 0x02, 0xF3, 0x01,
                 0x00, 0xFF, 0x03, 0x02, 'h', 'i',
                 0x00, 0xF0, 0x02, 0x43, 0x10,
                 0x60, 0xF7, 0x02, 0x00, 0xF7,
                 0x00, 0xF0, 0x01, 0x41})}),
     // An open dump takes the F7 packets of data that follow it, even a
     // later one; an escape of other bytes, or the track's end, closes it.
     {{0.0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
      {0.0, {0xF0, 0x43, 0x12, 0x00, 0x01, 0xF7}},
      {0.0, {0xF0, 0x43, 0x10, 0x00, 0xF7}},
      {0.5, {0xF0, 0x41, 0xF7}}}},
    {"an F7 escape with no dump open is skipped",
     cat({header(0, 1, 96), track({0x00, 0xF7, 0x01, 0xF8, 0x00, 0x90, 60, 1})}),
     {{0.0, {0x90, 60, 1}}}},
    {"chunks of other types skipped; a track that stops without its end",
     cat({header(0, 1, 96), chunk("XFIH", {1, 2, 3}), chunk("MTrk", {0x60, 0x90, 60, 1})}),
     {{0.5, {0x90, 60, 1}}}},
    {"the longest delta time, four bytes",
     cat({header(0, 1, 0x7FFF), track({0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 1})}),
     {{268435455.0 * 0.5 / 32767.0, {0x90, 60, 1}}}},
    {"a longer header's extra bytes skipped",
     cat({{'M', 'T', 'h', 'd'}, be32(8), {0, 0, 0, 1, 0, 96, 9, 9}, track({0x00, 0xFE})}),
     {{0.0, {0xFE}}}},
};

TEST(MidiFile, MessagesAtTheirTimes) {
    for (const FileRow& row : kFiles) {
        SCOPED_TRACE(row.name);
        const std::vector<Timed> got = parsed(row.file);
        ASSERT_EQ(got.size(), row.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_DOUBLE_EQ(got[i].first, row.expected[i].first) << "message " << i;
            EXPECT_EQ(got[i].second, row.expected[i].second) << "message " << i;
        }
    }
}

TEST(MidiFile, DamagedFilesAreErrors) {
    const Bytes good = header(0, 1, 96);
    const std::vector<std::pair<const char*, Bytes>> rows = {
        {"empty", {}},
        {"not a MIDI file", {'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}},
        {"header cut short", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}},
        {"header shorter than 6", cat({{'M', 'T', 'h', 'd'}, be32(4), {0, 0, 0, 1}})},
        {"format 3", cat({header(3, 1, 96), track({})})},
        {"a division of 0", cat({header(0, 1, 0), track({})})},
        {"SMPTE at 23 frames", cat({header(0, 1, 0xE928), track({})})},
        {"SMPTE with 0 ticks a frame", cat({header(0, 1, 0xE700), track({})})},
        {"no track where one is declared", good},
        {"fewer tracks than declared", cat({header(1, 2, 96), track({})})},
        {"a chunk header cut short", cat({good, {'M', 'T', 'r', 'k', 0, 0}})},
        {"a chunk cut short", cat({good, {'M', 'T', 'r', 'k'}, be32(10), {0, 0x90, 60}})},
        {"an absurd chunk length", cat({good, {'M', 'T', 'r', 'k'}, be32(0xFFFFFFFF), kEnd})},
        {"running status at the start", cat({good, track({0x00, 60, 100})})},
        {"a delta time of 5 bytes", cat({good, track({0x81, 0x81, 0x81, 0x81, 0x00, 0xFE})})},
        {"a status byte for data", cat({good, track({0x00, 0x90, 60, 0x90})})},
        {"a track ending mid-message", cat({good, chunk("MTrk", {0x00, 0x90, 60})})},
        {"a track ending after a delta time", cat({good, chunk("MTrk", {0x00, 0xFE, 0x10})})},
        {"a status byte inside a sysex", cat({good, track({0x00, 0xF0, 0x03, 0x43, 0x90, 0xF7})})},
        {"a sysex longer than its track", cat({good, track({0x00, 0xF0, 0x20, 1})})},
        {"a meta event longer than its track", cat({good, chunk("MTrk", {0x00, 0xFF, 0x01, 5, 1})})},
        {"a meta length of 5 bytes", cat({good, track({0x00, 0xFF, 0x01, 0x80, 0x80, 0x80, 0x80, 0})})},
        {"a tempo of 0", cat({good, track(tempo(0))})},
        {"a tempo of 2 bytes", cat({good, track({0x00, 0xFF, 0x51, 0x02, 1, 0})})},
        {"an undefined status", cat({good, track({0x00, 0xF4})})},
        // 2^28 ticks at one tick a quarter of 16.7 s: 142 years.
        {"a message years away",
         cat({header(0, 1, 1), track(cat({tempo(0xFFFFFF), {0xFF, 0xFF, 0xFF, 0x7F, 0xFE}}))})},
    };
    for (const auto& [name, file] : rows) {
        SCOPED_TRACE(name);
        try {
            parseMidiFile(file.data(), file.size());
            ADD_FAILURE() << "accepted";
        } catch (const MidiFileError& error) {
            const std::string text = error.what();
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        }
    }
}

TEST(MidiFile, ReadingNamesTheFile) {
    const std::string path = ::testing::TempDir() + "midi_file_test_damaged.mid";
    const Bytes damaged = cat({header(0, 1, 96), track({0x00, 60, 100})});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged.data()), std::streamsize(damaged.size()));
    try {
        readMidiFile(path);
        ADD_FAILURE() << "accepted";
    } catch (const MidiFileError&) {
        ADD_FAILURE() << "not said as the file's";
    } catch (const EngineError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(path + ": track 1: running status", 0), 0u)
            << error.what();
        EXPECT_EQ(error.status(), kExitFailure);
    }
    std::remove(path.c_str());
    EXPECT_THROW(readMidiFile(path), FileNotFound);

    for (const auto& [name, midi] : std::vector<std::pair<const char*, bool>>{
             {"song.mid", true}, {"a/b/SONG.MIDI", true}, {"x.Smf", true}, {"song.wav", false},
             {"mid", false}, {"song.mid.wav", false}, {"song.midx", false}})
        EXPECT_EQ(isMidiFileName(name), midi) << name;
}

// Frames [start, start + frames) of a schedule at 1000 frames a second.
struct BlockRow {
    const char* name;
    std::vector<double> seconds;  // each message a note-on numbered by its place
    std::int64_t start;
    int frames;
    std::vector<std::pair<int, int>> expected;  // frame in the block, message number
};

TEST(MidiScheduleBlocks, EachMessageOnItsFrameInOrder) {
    const std::vector<BlockRow> rows = {
        {"first and last frames of a block", {0.064, 0.127, 0.128}, 64, 64, {{0, 0}, {63, 1}}},
        {"the block before", {0.064, 0.127, 0.128}, 0, 64, {}},
        {"the same frame keeps order", {0.01, 0.01, 0.01}, 8, 4, {{2, 0}, {2, 1}, {2, 2}}},
        {"nearest frame, ties up", {0.0624, 0.0625, 0.0626}, 62, 2, {{0, 0}, {1, 1}, {1, 2}}},
        {"more messages than frames",
         {0.0, 0.0, 0.0, 0.001, 0.001, 0.002},
         0,
         2,
         {{0, 0}, {0, 1}, {0, 2}, {1, 3}, {1, 4}}},
        {"a block of one frame", {0.004, 0.005}, 5, 1, {{0, 1}}},
    };
    for (const BlockRow& row : rows) {
        SCOPED_TRACE(row.name);
        MidiSequence sequence;
        for (std::size_t i = 0; i < row.seconds.size(); ++i) {
            const std::uint8_t note[3] = {0x90, std::uint8_t(i), 1};
            sequence.add(row.seconds[i], note, 3);
        }
        const MidiSchedule schedule(sequence, 1000.0);
        std::vector<MidiEvent> events;
        schedule.eventsIn(row.start, row.frames, events);
        std::vector<std::pair<int, int>> got;
        for (const MidiEvent& e : events) {
            ASSERT_EQ(e.size, 3u);
            got.emplace_back(e.frame, e.bytes[1]);
        }
        EXPECT_EQ(got, row.expected);
    }
}

TEST(MidiScheduleBlocks, TimesNoRenderReachesStayFar) {
    MidiSequence sequence;
    const std::uint8_t note[3] = {0x90, 60, 1};
    sequence.add(1.0, note, 3);
    sequence.add(1e300, note, 3);
    const MidiSchedule schedule(sequence, 192000.0);
    EXPECT_GT(schedule.lastFrame(), std::int64_t{1} << 60);
    std::vector<MidiEvent> events;
    schedule.eventsIn(192000, 512, events);
    EXPECT_EQ(events.size(), 1u);
}

}  // namespace
}  // namespace varkel::engine
