// varkel-host render with many inputs, channel layouts, automation and
// output formats, end to end: the files it writes against single renders,
// against renders of each channel alone, and against values worked out by
// hand.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <iostream>
#include <csignal>
#include <filesystem>
#include <future>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::readSound;
using e2e::runHost;
using e2e::testSignal;

using e2e::kWavFloat;
constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

class Batch : public ::testing::Test {
protected:
    std::string sound(const std::string& name, int format, int channels, std::int64_t frames,
                      int rate = 44100, const e2e::SampleFunction& signal = testSignal) {
        const std::string path = dir / name;
        fs::create_directories(fs::path(path).parent_path());
        e2e::writeSound(path, format, channels, rate, frames, signal);
        return path;
    }
    // Regular files below folder, by relative path, with their bytes.
    std::map<std::string, std::string> filesIn(const std::string& folder) const {
        std::map<std::string, std::string> files;
        for (const auto& [name, bytes] : dir.snapshot())
            if (name.starts_with(folder + "/") && bytes != "<folder>")
                files[name.substr(folder.size() + 1)] = bytes;
        return files;
    }
    static bool libraryWrites(int format) {
        SF_INFO info{};
        info.format = format;
        info.channels = 2;
        info.samplerate = 44100;
        return sf_format_check(&info) != 0;
    }

    e2e::ScratchDir dir;
};

TEST_F(Batch, AFolderRendersTheSameFilesWhateverTheJobsAndEachAsASingleRender) {
    sound("in/a.wav", kWavFloat, 2, 20011);
    sound("in/b.wav", kWav16, 1, 7000);
    sound("in/c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 15000, 48000);
    sound("in/sub/d.wav", kWavFloat, 2, 30000);
    sound("in/sub/e.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 1000, 22050);
    e2e::writeBytes(dir / "in/notes.txt", "not a sound file");

    for (const char* jobs : {"1", "4"}) {
        const auto run =
            runHost({"render", dir / "in", "-r", "--out-dir", dir / ("out" + std::string(jobs)),
                     "-j", jobs, "--set", "PreGain=0.7"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("5 files: 5 rendered, 0 failed"), std::string::npos) << run.out;
    }
    const auto one = filesIn("out1");
    const auto four = filesIn("out4");
    const std::vector<std::string> names = {"a-varkel.wav", "b-varkel.wav", "c-varkel.flac",
                                            "sub/d-varkel.wav", "sub/e-varkel.aiff"};
    ASSERT_EQ(one.size(), names.size());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(one.contains(name));
        EXPECT_TRUE(four.at(name) == one.at(name)) << "-j 4 differs from -j 1";
        // The same input rendered on its own.
        const std::string input = dir / ("in/" + name.substr(0, name.find("-varkel")) +
                                         fs::path(name).extension().string());
        const std::string single = dir / ("single" + fs::path(name).extension().string());
        const auto run = runHost({"render", input, single, "--set", "PreGain=0.7"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(e2e::fileBytes(single) == one.at(name)) << "differs from a single render";
    }
}

TEST_F(Batch, OneBadFileAmongGoodOnesIsNamedAndTheOthersRender) {
    sound("in/a.wav", kWavFloat, 2, 5000);
    e2e::writeBytes(dir / "in/broken.wav", "RIFF but nothing a decoder wants");
    sound("in/c.wav", kWavFloat, 1, 5000);
    const e2e::ScratchDir links;  // apart: the checks below list the scratch folder
    fs::create_symlink("loop-b", links / "loop-a");
    fs::create_symlink("loop-a", links / "loop-b");
    const auto run = runHost({"render", dir / "in", dir / "missing.wav", links / "loop-a",
                              "--out-dir", dir / "out", "-j", "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(links / "loop-a" + ": Too many levels of symbolic links"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(dir / "in/broken.wav" + ": not a sound file"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(dir / "missing.wav" + ": no such file"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
    EXPECT_NE(run.out.find("5 files: 2 rendered, 3 failed"), std::string::npos) << run.out;
    // Exactly the good outputs: no temporary files, nothing for the bad ones.
    const auto out = filesIn("out");
    EXPECT_EQ(out.size(), 2u);
    EXPECT_TRUE(out.contains("a-varkel.wav") && out.contains("c-varkel.wav"));
    EXPECT_EQ(readSound(dir / "out/c-varkel.wav").info.frames, 5000);
}

// Every failure is told while LV2 instances take their time to start on the
// other worker: nothing of the host's stderr is turned away to keep lilv quiet.
TEST_F(Batch, NoFailureLineIsLostWhileLv2PluginsStart) {
    // Good and bad files in turn, so that one worker fails a file while the
    // other starts an instance.
    for (int i = 0; i < 6; ++i) {
        sound("in/f" + std::to_string(2 * i) + "-good.wav", kWavFloat, 2, 2000);
        e2e::writeBytes(dir / ("in/f" + std::to_string(2 * i + 1) + "-bad.wav"),
                        "RIFF and nothing else");
    }
    const auto run = e2e::runProgram(
        VARKEL_HOST_BINARY,
        {"render", dir / "in", "--out-dir", dir / "out", "-j", "2", "--plugin",
         "urn:varkel:test:slow-start"},
        {std::string("LV2_PATH=") + VARKEL_TEST_LV2_PATH});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 6) << run.err;
    EXPECT_NE(run.out.find("12 files: 6 rendered, 6 failed"), std::string::npos) << run.out;
}

TEST_F(Batch, ExistingOutputsStayUnlessOverwriteIsGiven) {
    const std::string in = sound("a.wav", kWavFloat, 2, 3000);
    fs::create_directory(dir / "out");
    e2e::writeBytes(dir / "out/a-varkel.wav", "an earlier render");
    auto run = runHost({"render", in, "--out-dir", dir / "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(dir / "out/a-varkel.wav already exists (--overwrite replaces it"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(e2e::fileBytes(dir / "out/a-varkel.wav"), "an earlier render");
    // Resuming: a sound file there counts as done; an empty file or one
    // that is no sound file is rendered again, with a warning.
    struct Existing {
        const char* bytes;  // nullptr: a sound file of 1000 frames
        const char* warning;
        std::int64_t framesAfter;
    };
    const Existing cases[] = {
        {nullptr, nullptr, 1000},
        {"", "a-varkel.wav is empty; rendering it again", 3000},
        {"an earlier render", "a-varkel.wav: not a sound file libsndfile can decode", 3000},
    };
    for (const Existing& c : cases) {
        SCOPED_TRACE(c.bytes ? c.bytes : "sound");
        if (c.bytes)
            e2e::writeBytes(dir / "out/a-varkel.wav", c.bytes);
        else
            sound("out/a-varkel.wav", kWavFloat, 2, 1000);
        run = runHost({"render", in, "--out-dir", dir / "out", "--skip-existing"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(c.bytes ? "1 file: 1 rendered, 0 failed"
                                       : "1 file: 0 rendered, 1 skipped (their outputs exist), 0 failed"),
                  std::string::npos)
            << run.out;
        if (c.warning)
            EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
        else
            EXPECT_EQ(run.err, "");
        EXPECT_EQ(readSound(dir / "out/a-varkel.wav").info.frames, c.framesAfter);
    }
    run = runHost({"render", in, "--out-dir", dir / "out", "--overwrite"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readSound(dir / "out/a-varkel.wav").info.frames, 3000);
}

TEST_F(Batch, TwoRunsSkippingExistingOutputsIntoOneFolderBothSucceed) {
    // Long enough that both runs plan before either finishes a file.
    for (const char* name : {"a", "b", "c"})
        sound(std::string("in/") + name + ".wav", kWavFloat, 2, 44100 * 20);
    const std::vector<std::string> args{"render", dir / "in", "--out-dir", dir / "out",
                                        "--skip-existing", "-j", "1"};
    auto second = std::async(std::launch::async, [&] { return runHost(args); });
    const auto first = runHost(args);
    const auto other = second.get();
    for (const auto* run : {&first, &other}) {
        EXPECT_EQ(run->status, 0) << run->err;
        EXPECT_EQ(run->err, "");
        EXPECT_NE(run->out.find("0 failed"), std::string::npos) << run->out;
    }
    EXPECT_EQ(filesIn("out").size(), 3u);
}

TEST_F(Batch, NamePatternAndExtensionChooseTheOutputs) {
    sound("in/take.wav", kWavFloat, 2, 3000);
    sound("in/take.aiff", kWavFloat, 2, 3000);
    const auto run = runHost({"render", dir / "in", "--out-dir", dir / "out", "--name",
                              "{plugin}_{stem}_{inext}_{settings}.{ext}", "--ext", "flac", "--set",
                              "PostGain=0.25", "--format", "pcm16"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name :
         {"varkel_take_wav_postgain-0.25.flac", "varkel_take_aiff_postgain-0.25.flac"}) {
        SCOPED_TRACE(name);
        const e2e::Sound out = readSound(dir / "out" + "/" + name);
        EXPECT_EQ(out.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    }
}

TEST_F(Batch, InterruptKeepsFinishedFilesAndRemovesTheRest) {
    sound("in/a-short.wav", kWav16, 1, 1000);
    for (const char* name : {"in/b.wav", "in/c.wav", "in/d.wav"})
        sound(name, kWav16, 1, 60 * 44100);
    const std::string finished = dir / "out/a-short-varkel.wav";
    const auto run =
        runHost({"render", dir / "in", "--out-dir", dir / "out", "-j", "2", "--block", "1"}, SIGINT,
                [&] { return fs::exists(finished); });
    if (run.status == 0) GTEST_SKIP() << "the batch finished before the interrupt";
    EXPECT_EQ(run.status, 130) << run.err;
    const auto out = filesIn("out");
    ASSERT_TRUE(out.contains("a-short-varkel.wav"));
    for (const auto& [name, bytes] : out) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(name.starts_with(".")) << "a temporary file was left";
        EXPECT_EQ(readSound(dir / "out/" + name).info.frames,
                  name == "a-short-varkel.wav" ? 1000 : 60 * 44100);
    }
}

TEST_F(Batch, BatchOptionsNeedAnOutputFolder) {
    const std::string in = sound("a.wav", kWavFloat, 2, 100);
    for (const std::vector<std::string>& extra : {std::vector<std::string>{"-j", "2"},
                                                  {"--overwrite"},
                                                  {"--ext", "flac"},
                                                  {"-r"},
                                                  {"--name", "x.wav"}}) {
        std::vector<std::string> args = {"render", in, dir / "b.wav"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto run = runHost(args);
        EXPECT_EQ(run.status, 2) << extra[0];
        EXPECT_NE(run.err.find("--out-dir"), std::string::npos) << run.err;
    }
}

// --- channel layouts ---

// The mono fixture plug-in's first output, by hand: y = 0.5 y' + gain x.
std::vector<float> plainFilter(const e2e::Sound& sound, int channel, float gain) {
    std::vector<float> result;
    float state = 0.0f;
    for (std::int64_t f = 0; f < sound.info.frames; ++f) {
        state = 0.5f * state + gain * sound.at(f, channel);
        result.push_back(state);
    }
    return result;
}

std::vector<float> channelOf(const e2e::Sound& sound, int channel) {
    std::vector<float> samples;
    for (std::int64_t f = 0; f < sound.info.frames; ++f) samples.push_back(sound.at(f, channel));
    return samples;
}

TEST_F(Batch, AMonoPluginRunsOncePerChannelOfAStereoFile) {
    const std::string in = sound("stereo.wav", kWavFloat, 2, 10007);
    const e2e::Sound input = readSound(in);
    const auto run = runHost({"render", in, dir / "out.wav", "--plugin", MONO_FILTER_PLUGIN,
                              "--set", "Gain=0.75", "--block", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("; 2 instances, 1 channel each"), std::string::npos) << run.out;
    const e2e::Sound out = readSound(dir / "out.wav");
    ASSERT_EQ(out.info.channels, 2);  // the first output of each instance
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        // A mono file of this channel alone, rendered on its own.
        const std::string mono = dir / ("mono" + std::to_string(c) + ".wav");
        e2e::writeSound(mono, kWavFloat, 1, 44100, input.info.frames,
                        [&](std::int64_t f, int) { return input.at(f, c); });
        const auto alone = runHost({"render", mono, dir / "alone.wav", "--plugin",
                                    MONO_FILTER_PLUGIN, "--set", "Gain=0.75"});
        ASSERT_EQ(alone.status, 0) << alone.err;
        EXPECT_EQ(channelOf(out, c), channelOf(readSound(dir / "alone.wav"), 0));
        EXPECT_EQ(channelOf(out, c), plainFilter(input, c, 0.75f));
    }
}

TEST_F(Batch, AStereoPluginTakesAFourChannelFileInTwoGroups) {
    const std::string in = sound("quad.wav", kWavFloat, 4, 3000);
    const auto run = runHost({"render", in, dir / "out.wav", "--plugin", LEVEL_PLUGIN});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("; 4 instances, 1 channel each"), std::string::npos) << run.out;
    const auto varkel = runHost({"render", in, dir / "varkel.wav"});
    ASSERT_EQ(varkel.status, 0) << varkel.err;
    EXPECT_NE(varkel.out.find("; 2 instances, 2 channels each"), std::string::npos) << varkel.out;
    EXPECT_EQ(readSound(dir / "varkel.wav").info.channels, 4);
}

TEST_F(Batch, ZamAutoSatOnAStereoFileEqualsMonoRendersOfEachChannel) {
    const std::string zam = "/usr/lib/vst/ZamAutoSat-vst.so";
    if (!fs::exists(zam)) GTEST_SKIP() << zam << " is not installed";
    const std::string in = sound("stereo.wav", kWavFloat, 2, 20000);
    const e2e::Sound input = readSound(in);
    const auto run = runHost({"render", in, dir / "out.wav", "--plugin", zam});
    ASSERT_EQ(run.status, 0) << run.err;
    const e2e::Sound out = readSound(dir / "out.wav");
    ASSERT_EQ(out.info.channels, 2);
    for (int c = 0; c < 2; ++c) {
        const std::string mono = dir / "mono.wav";
        e2e::writeSound(mono, kWavFloat, 1, 44100, input.info.frames,
                        [&](std::int64_t f, int) { return input.at(f, c); });
        const auto alone = runHost({"render", mono, dir / "alone.wav", "--plugin", zam});
        ASSERT_EQ(alone.status, 0) << alone.err;
        EXPECT_EQ(channelOf(out, c), channelOf(readSound(dir / "alone.wav"), 0)) << "channel " << c;
    }
}

// A side-chain compressor with its external side-chain switched on, in
// both formats: a stereo file renders with the side-chain silent, as the
// 3-channel file whose third channel is silent does; --sidechain feeds it, as
// the 3-channel file with that channel third does, and changes the output.
TEST_F(Batch, SideChainIsSilentUnlessFedFromAFile) {
    struct Case {
        std::string plugin;
        std::vector<std::string> settings;  // side-chain on, threshold at -40 dB
    };
    const Case cases[] = {
        {"/usr/lib/vst/ZamCompX2-vst.so", {"--set", "Sidechain=1", "--set", "Threshold=0.5"}},
        {"urn:zamaudio:ZamCompX2", {"--set", "sidechain=1", "--set", "thr=-40"}},
    };
    const std::string mix = sound("mix.wav", kWavFloat, 2, 20000);
    const std::string key = sound("key.wav", kWavFloat, 1, 15000, 44100,
                                  [](std::int64_t f, int) { return f % 40 < 20 ? 0.9f : -0.9f; });
    const e2e::Sound m = readSound(mix), k = readSound(key);
    const auto third = [&](const std::string& name, bool keyed) {
        return sound(name, kWavFloat, 3, 20000, 44100, [&, keyed](std::int64_t f, int c) {
            return c < 2 ? m.at(f, c) : keyed && f < 15000 ? k.at(f, 0) : 0.0f;
        });
    };
    const std::string silentThird = third("silent-third.wav", false);
    const std::string keyThird = third("key-third.wav", true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugin);
        if (runHost({"info", "--plugin", c.plugin}).status != 0) {
            std::cout << c.plugin << " is not installed: skipped\n";
            continue;
        }
        const auto render = [&](const std::string& in, const std::string& out,
                                std::vector<std::string> more = {}) {
            std::vector<std::string> args = {"render", in, dir / out, "--plugin", c.plugin};
            args.insert(args.end(), c.settings.begin(), c.settings.end());
            args.insert(args.end(), more.begin(), more.end());
            return runHost(args);
        };
        const auto silent = render(mix, "silent.wav");
        ASSERT_EQ(silent.status, 0) << silent.err;
        EXPECT_NE(silent.out.find("side-chain silent"), std::string::npos) << silent.out;
        ASSERT_EQ(render(silentThird, "silent-third-out.wav").status, 0);
        EXPECT_TRUE(e2e::fileBytes(dir / "silent.wav") == e2e::fileBytes(dir / "silent-third-out.wav"));
        ASSERT_EQ(render(mix, "keyed.wav", {"--sidechain", key}).status, 0);
        ASSERT_EQ(render(keyThird, "key-third-out.wav").status, 0);
        EXPECT_TRUE(e2e::fileBytes(dir / "keyed.wav") == e2e::fileBytes(dir / "key-third-out.wav"));
        EXPECT_FALSE(e2e::fileBytes(dir / "keyed.wav") == e2e::fileBytes(dir / "silent.wav"));

        // A side-chain file that cannot feed it: one line, status 1, nothing written.
        const std::string bad[] = {sound("rate.wav", kWavFloat, 1, 1000, 48000),
                                   sound("wide.wav", kWavFloat, 3, 1000), dir / "missing.wav",
                                   mix.substr(0, mix.size() - 4) + ".txt"};
        e2e::writeBytes(bad[3], "not sound");
        for (const std::string& file : bad) {
            const auto run = render(mix, "bad.wav", {"--sidechain", file});
            EXPECT_EQ(run.status, 1) << file;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_FALSE(fs::exists(dir / "bad.wav")) << file;
        }
    }
}

// --- automation ---

TEST_F(Batch, AutomationLandsOnItsFrameWhateverTheBlockSize) {
    // All ones through the level fixture: the output is the Level value.
    const std::string in =
        sound("ones.wav", kWavFloat, 1, 3000, 1000, [](std::int64_t, int) { return 1.0f; });
    struct Case {
        std::vector<std::string> options;
        std::vector<std::pair<std::int64_t, float>> levelFrom;  // value from each frame on
    };
    const Case cases[] = {
        // Held: 0.5 (the fixture's own) until frame round(0.0107 × 1000) = 11.
        {{"--automate", "Level=0.0107:0.25,1.2s:1"}, {{0, 0.5f}, {11, 0.25f}, {1200, 1.0f}}},
        {{"--automate", "Level=1500ms:0.125"}, {{0, 0.5f}, {1500, 0.125f}}},
        // Ramped from frame 10 to 90: steps at 42 and 74 (on the grid from 10).
        {{"--ramp", "--automate", "0=0.01:0,0.09:0.8"},
         {{0, 0.5f}, {10, 0.0f}, {42, 0.32f}, {74, 0.64f}, {90, 0.8f}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.back());
        std::string reference;
        for (const char* block : {"1", "37", "512"}) {
            std::vector<std::string> args = {
                "render", in, dir / "out.wav", "--plugin", LEVEL_PLUGIN, "--block", block};
            args.insert(args.end(), c.options.begin(), c.options.end());
            const auto run = runHost(args);
            ASSERT_EQ(run.status, 0) << run.err;
            const std::string bytes = e2e::fileBytes(dir / "out.wav");
            if (reference.empty()) reference = bytes;
            EXPECT_TRUE(bytes == reference) << "--block " << block << " differs from --block 1";
        }
        const e2e::Sound out = readSound(dir / "out.wav");
        for (std::size_t i = 0; i < c.levelFrom.size(); ++i) {
            const std::int64_t end = i + 1 < c.levelFrom.size() ? c.levelFrom[i + 1].first : 3000;
            for (std::int64_t f = c.levelFrom[i].first; f < end; ++f)
                ASSERT_FLOAT_EQ(out.at(f, 0), c.levelFrom[i].second) << "frame " << f;
        }
    }
}

TEST_F(Batch, VarkelAutomationDoesNotDependOnTheBlockSize) {
    const std::string in = sound("in.wav", kWavFloat, 2, 10007);
    std::string reference;
    for (const char* block : {"1", "37", "512"}) {
        const auto run =
            runHost({"render", in, dir / "out.wav", "--block", block, "--automate",
                     "PreGain=0.05:1,0.1:0.2", "--ramp", "--automate", "LPCutOff=0.0301:0.1"});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string bytes = e2e::fileBytes(dir / "out.wav");
        if (reference.empty()) reference = bytes;
        EXPECT_TRUE(bytes == reference) << "--block " << block;
    }
    // And the automation did something: a plain render differs after 0.03 s only.
    const auto plain = runHost({"render", in, dir / "plain.wav"});
    ASSERT_EQ(plain.status, 0);
    const e2e::Sound a = readSound(dir / "out.wav"), b = readSound(dir / "plain.wav");
    // LPCutOff moves at round(0.0301 × 44100) = 1327.
    for (std::int64_t f = 0; f < 1327; ++f) ASSERT_EQ(a.at(f, 0), b.at(f, 0)) << f;
    EXPECT_NE(a.at(1327, 0), b.at(1327, 0));
}

TEST_F(Batch, AutomationOfAnUnknownParameterIsAUsageError) {
    const std::string in = sound("in.wav", kWavFloat, 2, 100);
    const auto run = runHost({"render", in, dir / "out.wav", "--automate", "Drive=1:1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--automate Drive: Varkel has no parameter Drive"), std::string::npos)
        << run.err;
}

// --- output formats ---

TEST_F(Batch, TheOutputsExtensionChoosesItsContainer) {
    const std::string wav = sound("in.wav", kWav16, 2, 4410);
    const std::string flac = sound("in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 4410);
    constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    const std::string mp3 = libraryWrites(kMp3) ? sound("in.mp3", kMp3, 2, 4410) : "";
    // Cut off 1000 frames (4 bytes each) before the end its header declares.
    const std::string cut = sound("cut.wav", kWav16, 2, 4410);
    fs::resize_file(cut, fs::file_size(cut) - 4000);
    struct Case {
        std::string input, output;
        int format;
        const char* summary;  // how the summary line ends
        std::int64_t frames;  // 0: not checked, a lossy input's length is its decoder's
        const char* warning = "";  // starts with the input's name, given by its path
    };
    const Case cases[] = {
        {flac, "out.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "; 16-bit PCM WAV", 4410},
        {wav, "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "; 16-bit PCM FLAC", 4410},
        {wav, "out.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, "; 16-bit PCM CAF", 4410},
        // No extension: the input's.
        {wav, "out", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "; 16-bit PCM WAV", 4410},
        {wav, "out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, "; lossy (Vorbis)", 0},
        {wav, "out.mp3", kMp3, "; lossy (MPEG Layer III)", 0},
        {mp3, "mp3.wav", kWavFloat, "; 32-bit float WAV", 0},
        {cut, "cut-out.wav", kWav16, "; 16-bit PCM WAV", 3410,
         "cut.wav ends 1000 frames short of the length its header declares; rendered the 3410 "
         "present"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        if (c.input.empty() || !libraryWrites(c.format)) continue;
        const auto run = runHost({"render", c.input, dir / c.output});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.out.ends_with(std::string(c.summary) + "\n")) << run.out;
        const std::string warning =
            *c.warning == '\0' ? "" : "warning: " + dir / c.output + ": " + dir / c.warning + "\n";
        EXPECT_EQ(run.err, warning);
        const e2e::Sound out = readSound(dir / c.output);
        EXPECT_EQ(out.info.format, c.format);
        if (c.frames != 0) {
            EXPECT_EQ(out.info.frames, c.frames);
        }
    }
    const auto before = dir.snapshot();
    const auto run = runHost({"render", wav, dir / "out.m4a"});
    EXPECT_TRUE(run.status == 1 || run.status == 2);
    EXPECT_NE(run.err.find("cannot write .m4a files; it writes "), std::string::npos) << run.err;
    EXPECT_TRUE(dir.snapshot() == before) << "a file was left";
}

}  // namespace
