// The tests' MIDI file writer: a small file's bytes worked out by hand, and
// a file of two tracks with tempo changes as mido (an independent reader)
// reads it.
#include "tests/e2e/midi_file_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

std::string hex(const std::string& bytes) {
    std::string out;
    char two[4];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02X ", b);
        out += two;
    }
    return out;
}

TEST(MidiFileWriter, WritesRunningStatusLengthsAndMetaEventsByTheBook) {
    e2e::MidiFileContent content;
    content.format = 0;
    content.ticksPerQuarter = 96;
    content.runningStatus = true;
    content.addTempo(0, 120.0);
    content.addNote(0, 200, 0, 60, 100);
    content.addNote(0, 200, 0, 64, 80);
    content.events.push_back({300, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});
    content.addNote(300, 128, 0, 60, 1);
    const std::string expected =
        "4D 54 68 64 00 00 00 06 00 00 00 01 00 60 "  // MThd, type 0, one track, 96
        "4D 54 72 6B 00 00 00 2B "                    // MTrk, 43 bytes
        "00 FF 51 03 07 A1 20 "                       // 500000 µs a quarter
        "00 90 3C 64 00 40 50 "                       // the second note-on runs on
        "81 48 80 3C 00 00 40 00 "                    // 200 ticks on, both off
        "64 F0 05 7E 7F 09 01 F7 "                    // sysex: its length, then F0's rest
        "00 90 3C 01 "                                // status again after the sysex
        "81 00 80 3C 00 "                             // 128 ticks
        "00 FF 2F 00 ";
    EXPECT_EQ(hex(e2e::midiFileBytes(content)), expected);
}

TEST(MidiFileWriter, PlacesTicksInSecondsUnderTheTempoChanges) {
    e2e::MidiFileContent content;
    content.ticksPerQuarter = 480;
    EXPECT_DOUBLE_EQ(content.secondsAt(960), 1.0);  // 120 per minute before any tempo
    content.addTempo(960, 60.0);
    content.addTempo(1920, 240.0);
    EXPECT_DOUBLE_EQ(content.secondsAt(960), 1.0);
    EXPECT_DOUBLE_EQ(content.secondsAt(1440), 1.0 + 1.0);
    EXPECT_DOUBLE_EQ(content.secondsAt(2400), 1.0 + 2.0 + 0.25);
}

TEST(MidiFileWriter, MidoReadsTheTracksNotesAndTempoChanges) {
    if (std::system(E2E_PYTHON " -c 'import mido' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-mido is not installed";
    e2e::MidiFileContent content;
    content.ticksPerQuarter = 240;
    content.runningStatus = true;
    content.addTempo(0, 90.0);
    content.addTempo(480, 150.0);
    content.addNote(120, 600, 3, 69, 100, 1);
    content.addNote(120, 30, 3, 72, 50, 1);
    content.addNote(1000, 10, 15, 40, 127, 2);
    e2e::ScratchDir dir;
    e2e::writeMidiFile(dir / "song.mid", content);
    // Every message's time in seconds from the start, with its bytes.
    const auto read = e2e::runProgram(
        E2E_PYTHON,
        {"-c",
         "import mido, sys\n"
         "f = mido.MidiFile(sys.argv[1])\n"
         "print(f.type, len(f.tracks))\n"
         "t = 0.0\n"
         "for m in f:\n"
         "    t += m.time\n"
         "    if not m.is_meta: print('%.9f' % t, *m.bytes())\n",
         dir / "song.mid"},
        {});
    ASSERT_EQ(read.status, 0) << read.err;
    std::ostringstream expected;
    expected << "1 3\n";
    const auto line = [&](std::uint32_t tick, const char* bytes) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.9f", content.secondsAt(tick));
        expected << seconds << " " << bytes << "\n";
    };
    line(120, "147 69 100");
    line(120, "147 72 50");
    line(150, "131 72 0");
    line(720, "131 69 0");
    line(1000, "159 40 127");
    line(1010, "143 40 0");
    EXPECT_EQ(read.out, expected.str());
}

}  // namespace
