// varkel-host render with MIDI, end to end: a MIDI file through the sine
// instrument of both formats against its closed form, the tail rules, the
// refusals, channels and batches of MIDI files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/midi_file_writer.h"

namespace midi_render_e2e {

using e2e::MidiFileContent;
using e2e::readSound;

constexpr int kRate = 48000;

struct Instrument {
    const char* name;
    std::string plugin;
};

void PrintTo(const Instrument& instrument, std::ostream* out) { *out << instrument.name; }

const Instrument kInstruments[] = {
    {"VST 2.4", SINE_INSTRUMENT_PLUGIN},
    {"LV2", "urn:varkel:test:sine-instrument"},
};

e2e::RunResult render(std::vector<std::string> args) {
    return e2e::runProgram(VARKEL_HOST_BINARY, args,
                           {std::string("LV2_PATH=") + VARKEL_TEST_LV2_PATH});
}

// A note as the instrument plays it, from its on frame to its off frame.
struct Note {
    int note;
    int velocity;
    std::int64_t on;
    std::int64_t off;
};

// The instrument's sound, worked out sample by sample.
double closedForm(const std::vector<Note>& notes, std::int64_t n) {
    double sum = 0.0;
    for (const Note& s : notes) {
        if (n < s.on || n >= s.off) continue;
        const double f = 440.0 * std::pow(2.0, (s.note - 69) / 12.0);
        sum += s.velocity / 127.0 * std::sin(2.0 * std::numbers::pi * f * static_cast<double>(n - s.on) / kRate);
    }
    return sum;
}

// Frames of a tick at 480 ticks a quarter: 120 a minute (1/960 s a tick)
// up to tick 960, then 90 a minute (1/720 s a tick).
std::int64_t frameOf(std::uint32_t tick) {
    const double seconds = tick <= 960 ? tick / 960.0 : 1.0 + (tick - 960) / 720.0;
    return std::llround(seconds * kRate);
}

// Type 1: tempo in the first track, notes in two others, a tempo change
// between them, and notes that start and end mid-block.
MidiFileContent song() {
    MidiFileContent content;
    content.addTempo(0, 120.0, 0);
    content.addTempo(960, 90.0, 0);
    content.addNote(7, 500, 0, 69, 100, 1);     // ends mid-block
    content.addNote(480, 700, 9, 60, 127, 2);   // across the tempo change
    content.addNote(1100, 37, 15, 81, 33, 1);   // after it
    return content;
}

std::vector<Note> songNotes() {
    return {{69, 100, frameOf(7), frameOf(507)},
            {60, 127, frameOf(480), frameOf(1180)},
            {81, 33, frameOf(1100), frameOf(1137)}};
}

class MidiRender : public ::testing::TestWithParam<Instrument> {
protected:
    e2e::ScratchDir dir;
};

TEST_P(MidiRender, ASongRendersToItsClosedFormAtEveryBlockSize) {
    const std::string midi = dir / "song.mid";
    e2e::writeMidiFile(midi, song());
    const std::vector<Note> notes = songNotes();
    std::string previous;
    for (const char* block : {"1", "64", "512"}) {
        SCOPED_TRACE(block);
        const std::string out = dir / (std::string("song-") + block + ".wav");
        const auto run = render({"render", midi, out, "--plugin", GetParam().plugin, "--rate",
                                 std::to_string(kRate), "--block", block, "--tail", "0.25"});
        ASSERT_EQ(run.status, 0) << run.err;
        const e2e::Sound sound = readSound(out);
        EXPECT_EQ(sound.info.format, e2e::kWavFloat);
        EXPECT_EQ(sound.info.samplerate, kRate);
        // The last event's frame, then a quarter of a second.
        EXPECT_EQ(sound.info.frames, frameOf(1180) + 1 + kRate / 4);
        std::int64_t wrong = 0, first = -1;
        for (std::int64_t n = 0; n < sound.info.frames; ++n)
            for (int c = 0; c < sound.info.channels; ++c)
                if (std::abs(sound.at(n, c) - closedForm(notes, n)) > 1e-6) {
                    if (first < 0) first = n;
                    ++wrong;
                }
        EXPECT_EQ(wrong, 0) << "first at frame " << first;
        EXPECT_NE(run.out.find("0.250 s tail after the last MIDI event, as asked"), std::string::npos)
            << run.out;
        if (!previous.empty()) {
            EXPECT_TRUE(e2e::fileBytes(out) == previous) << "differs from the block before";
        }
        previous = e2e::fileBytes(out);
    }
    // The plug-in in a process of its own gets the same events at the same frames.
    const std::string isolated = dir / "song-isolated.wav";
    const auto run = render({"render", midi, isolated, "--plugin", GetParam().plugin, "--rate",
                             std::to_string(kRate), "--block", "64", "--tail", "0.25", "--isolate"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(e2e::fileBytes(isolated) == previous) << "differs from the render in-process";
}

TEST_P(MidiRender, TheTailRunsUntilTheSoundDiesAwayOrForThirtySecondsAtMost) {
    struct Case {
        const char* name;
        bool released;
        std::int64_t frames;  // of the output
        const char* said;
    };
    // Released at frame 24000: silent from there, so 100 ms later it ends.
    // Never released: it sounds on to the longest tail.
    const Case cases[] = {
        {"released", true, 24000 + 4800, "until below -96 dBFS for 100 ms"},
        {"held", false, 12001 + 30 * kRate, "the longest: still above -96 dBFS there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFileContent content;
        if (c.released) {
            content.addNote(240, 240, 0, 69, 127);  // 0.25 s to 0.5 s
        } else {
            content.events.push_back({240, 0, {0x90, 69, 127}});
        }
        const std::string midi = dir / (std::string(c.name) + ".mid");
        e2e::writeMidiFile(midi, content);
        const std::string out = dir / (std::string(c.name) + ".wav");
        const auto run = render({"render", midi, out, "--plugin", GetParam().plugin, "--rate",
                                 std::to_string(kRate)});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readSound(out).info.frames, c.frames);
        EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
    }
}

TEST_P(MidiRender, OnlyTheChannelAskedForPlays) {
    MidiFileContent content;
    content.format = 0;
    content.addNote(0, 480, 0, 69, 127);   // channel 1
    content.addNote(0, 480, 1, 81, 64);    // channel 2
    const std::string midi = dir / "two.mid";
    e2e::writeMidiFile(midi, content);
    const std::string out = dir / "two.wav";
    const auto run = render({"render", midi, out, "--plugin", GetParam().plugin, "--rate",
                             std::to_string(kRate), "--midi-channel", "2", "--tail", "0"});
    ASSERT_EQ(run.status, 0) << run.err;
    const e2e::Sound sound = readSound(out);
    const std::vector<Note> notes = {{81, 64, 0, kRate / 2}};
    for (std::int64_t n = 0; n < sound.info.frames; n += 97)
        EXPECT_NEAR(sound.at(n, 0), closedForm(notes, n), 1e-6) << n;
}

INSTANTIATE_TEST_SUITE_P(BothFormats, MidiRender, ::testing::ValuesIn(kInstruments),
                         [](const auto& info) {
                             return std::string(info.param.name == std::string("LV2") ? "Lv2"
                                                                                      : "Vst");
                         });

class MidiRefusal : public ::testing::Test {
protected:
    std::string goodSong() {
        const std::string path = dir / "good.mid";
        MidiFileContent content;
        content.addNote(0, 480, 0, 60, 100);
        e2e::writeMidiFile(path, content);
        return path;
    }
    e2e::ScratchDir dir;
};

TEST_F(MidiRefusal, DamagedFilesAndWrongRequestsEachGiveOneLine) {
    MidiFileContent unended;
    unended.addNote(0, 480, 0, 60, 100);
    unended.endTracks = false;
    const std::string header = std::string("MThd\0\0\0\6\0\0\0\1\1\xE0", 14);
    struct Case {
        const char* name;
        std::string bytes;  // the MIDI file; empty: the good song
        std::vector<std::string> extra;
        const char* message;
        int status;
    };
    const Case cases[] = {
        {"no rate", "", {}, "--rate", 2},
        {"channel 17", "", {"--rate", "48000", "--midi-channel", "17"}, "--midi-channel", 2},
        {"an effect", "", {"--rate", "48000", "--plugin", VARKEL_MODULE_PATH}, "takes no MIDI", 1},
        {"cut short", header + "MTrk\0\0\0\x10\0\x90", {"--rate", "48000"}, "good.mid", 1},
        {"absurd length", header + "MTrk\x7F\xFF\xFF\xFF\0\x90\x40\x40", {"--rate", "48000"},
         "good.mid", 1},
        {"running status first", header + std::string("MTrk\0\0\0\4\0\x40\x40\0", 12),
         {"--rate", "48000"}, "good.mid", 1},
        {"no end of track", e2e::midiFileBytes(unended), {"--rate", "48000"}, "good.mid", 1},
        {"no messages", header + std::string("MTrk\0\0\0\4\0\xFF\x2F\0", 12), {"--rate", "48000"},
         "no MIDI messages", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string midi = goodSong();
        if (!c.bytes.empty()) e2e::writeBytes(midi, c.bytes);
        std::vector<std::string> args = {"render", midi, dir / "out.wav"};
        if (std::find(c.extra.begin(), c.extra.end(), "--plugin") == c.extra.end())
            args.insert(args.end(), {"--plugin", SINE_INSTRUMENT_PLUGIN});
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        e2e::expectRefusal(render(args), c.message, c.status);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    }
}

TEST_F(MidiRefusal, MidiForAnEffectThatTakesNoneIsRefused) {
    const std::string in = dir / "in.wav";
    e2e::writeSound(in, e2e::kWavFloat, 2, 48000, 4800, e2e::testSignal);
    e2e::expectRefusal(render({"render", in, dir / "out.wav", "--midi", goodSong()}),
                       "--midi " + dir / "good.mid" + ": Varkel takes no MIDI", 1);
}

TEST(Instruments, AreThoseThatTurnMidiIntoSound) {
    struct Case {
        std::string plugin;
        std::vector<std::string> environment;
        const char* json;  // what info --json says
    };
    const Case cases[] = {
        {SINE_INSTRUMENT_PLUGIN, {}, "\"takesMidi\": true,\n  \"instrument\": true"},
        {SINE_INSTRUMENT_PLUGIN, {"SINE_INSTRUMENT_ADDS_INPUT=1"},
         "\"takesMidi\": true,\n  \"instrument\": false"},
        {"urn:varkel:test:sine-instrument", {"LV2_PATH=" VARKEL_TEST_LV2_PATH},
         "\"takesMidi\": true,\n  \"instrument\": true"},
        // A MIDI filter: MIDI in, no sound out (Debian's x42-plugins).
        {"http://gareus.org/oss/lv2/midifilter#passthru", {"LV2_PATH=/usr/lib/lv2"},
         "\"takesMidi\": true,\n  \"instrument\": false"},
        {VARKEL_MODULE_PATH, {}, "\"takesMidi\": false,\n  \"instrument\": false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugin);
        if (c.plugin.find("midifilter") != std::string::npos &&
            !std::filesystem::is_directory("/usr/lib/lv2/midifilter.lv2"))
            continue;
        const auto run = e2e::runProgram(VARKEL_HOST_BINARY, {"info", "--plugin", c.plugin, "--json"},
                                         c.environment);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(c.json), std::string::npos) << run.out.substr(0, 400);
    }
}

TEST(MidiIntoAnEffect, PlaysAlongsideTheAudioFromItsFirstFrame) {
    e2e::ScratchDir dir;
    MidiFileContent content;
    content.addNote(100, 300, 0, 64, 90);  // at 1/9.6 s, for 0.3125 s
    e2e::writeMidiFile(dir / "notes.mid", content);
    const std::string in = dir / "in.wav";
    e2e::writeSound(in, e2e::kWavFloat, 2, kRate, kRate, e2e::testSignal);
    const auto run = e2e::runProgram(
        VARKEL_HOST_BINARY,
        {"render", in, dir / "out.wav", "--plugin", SINE_INSTRUMENT_PLUGIN, "--midi",
         dir / "notes.mid", "--block", "100"},
        {"SINE_INSTRUMENT_ADDS_INPUT=1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const e2e::Sound out = readSound(dir / "out.wav");
    ASSERT_EQ(out.info.frames, kRate);  // the audio's length: no tail
    const std::vector<Note> notes = {{64, 90, 5000, 20000}};
    for (std::int64_t n = 0; n < kRate; n += 7)
        for (int c = 0; c < 2; ++c)
            ASSERT_NEAR(out.at(n, c), e2e::testSignal(n, c) + closedForm(notes, n), 1e-6)
                << "frame " << n << ", channel " << c;
}

TEST(MidiBatch, AFolderOfMidiFilesRendersAsSingleRendersDo) {
    e2e::ScratchDir dir;
    std::filesystem::create_directory(dir / "songs");
    for (int i = 0; i < 20; ++i) {
        MidiFileContent content;
        content.addNote(static_cast<std::uint32_t>(13 * i), 200, i % 16, 40 + i, 20 + 5 * i);
        e2e::writeMidiFile(dir / ("songs/song" + std::to_string(100 + i) + ".mid"), content);
    }
    // Without a rate every file would fail alike: the batch is refused before any.
    e2e::expectRefusal(render({"render", dir / "songs", "--out-dir", dir / "out", "--plugin",
                               SINE_INSTRUMENT_PLUGIN}),
                       "--rate", 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/song100-sine-instrument-fixture.wav"));
    const auto batch = render({"render", dir / "songs", "--out-dir", dir / "out", "-j", "2",
                               "--plugin", SINE_INSTRUMENT_PLUGIN, "--rate", "44100"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "song" + std::to_string(100 + i);
        SCOPED_TRACE(name);
        const std::string single = dir / (name + ".wav");
        ASSERT_EQ(render({"render", dir / ("songs/" + name + ".mid"), single, "--plugin",
                          SINE_INSTRUMENT_PLUGIN, "--rate", "44100"})
                      .status,
                  0);
        EXPECT_TRUE(e2e::fileBytes(dir / ("out/" + name + "-sine-instrument-fixture.wav")) ==
                    e2e::fileBytes(single));
    }
}

}  // namespace midi_render_e2e
