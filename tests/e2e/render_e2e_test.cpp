// varkel-host render, end to end: the files it writes, checked against
// what the plug-in gives when run directly and against values worked out
// by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <numbers>

#include "tests/e2e/e2e_support.h"

namespace {

using e2e::readSound;
using e2e::runHost;
using e2e::testSignal;

using e2e::kWavFloat;
constexpr std::int64_t kFrames = 10007;  // no block size divides it

class Render : public ::testing::Test {
protected:
    std::string input(const std::string& name, int format, int channels, int rate,
                      std::int64_t frames) {
        const std::string path = dir / name;
        e2e::writeSound(path, format, channels, rate, frames, testSignal);
        return path;
    }
    std::string stereoInput() { return input("in.wav", kWavFloat, 2, 44100, kFrames); }

    e2e::ScratchDir dir;
};

struct FileCase {
    const char* name;
    int format;
    int rate;
    int channels;
};

TEST_F(Render, OutputHasTheInputsLengthRateContainerAndSampleFormat) {
    const FileCase cases[] = {
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2},
        {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2},
        {"pcm16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 96000, 2},
        {"pcm16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 2},
        {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = input(c.name, c.format, c.channels, c.rate, 3001);
        const std::string out = dir / (std::string("out-") + c.name);
        const auto run = runHost({"render", in, out});
        ASSERT_EQ(run.status, 0) << run.err;
        const e2e::Sound result = readSound(out);
        EXPECT_EQ(result.info.frames, 3001);
        EXPECT_EQ(result.info.samplerate, c.rate);
        EXPECT_EQ(result.info.channels, 2);  // Varkel's two outputs, mono input too
        EXPECT_EQ(result.info.format & SF_FORMAT_TYPEMASK, c.format & SF_FORMAT_TYPEMASK);
        EXPECT_EQ(result.info.format & SF_FORMAT_SUBMASK, c.format & SF_FORMAT_SUBMASK);
    }
}

TEST_F(Render, MatchesThePluginRunDirectly) {
    const std::string in = stereoInput();
    const auto run = runHost({"render", in, dir / "out.wav", "--set", "PreGain=0.6", "--set",
                              "LPCutOff=0.4", "--block", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto expected = e2e::directRender(readSound(in), {{0, 0.6f}, {1, 0.4f}});
    const e2e::Sound result = readSound(dir / "out.wav");
    ASSERT_EQ(result.samples.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(result.samples[i], expected[i]) << "sample " << i / 2 << " channel " << i % 2;
}

TEST_F(Render, MonoInputFeedsBothInputsAndGivesStereo) {
    const std::string in = input("mono.wav", kWavFloat, 1, 44100, kFrames);
    const auto run = runHost({"render", in, dir / "out.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto expected = e2e::directRender(readSound(in), {});
    const e2e::Sound result = readSound(dir / "out.wav");
    ASSERT_EQ(result.info.channels, 2);
    ASSERT_EQ(result.samples.size(), expected.size());
    EXPECT_TRUE(std::equal(result.samples.begin(), result.samples.end(), expected.begin()));
}

TEST_F(Render, PreGainZeroRendersExactSilence) {
    const std::string in = stereoInput();
    // By name, by index, and by name in another case.
    for (const char* setting : {"PreGain=0", "0=0", "pregain=0"}) {
        SCOPED_TRACE(setting);
        const auto run = runHost({"render", in, dir / "out.wav", "--set", setting});
        ASSERT_EQ(run.status, 0) << run.err;
        const e2e::Sound result = readSound(dir / "out.wav");
        ASSERT_EQ(result.info.frames, kFrames);
        EXPECT_TRUE(std::all_of(result.samples.begin(), result.samples.end(),
                                [](float s) { return s == 0.0f; }));
        EXPECT_NE(run.out.find("peak -inf dBFS, RMS -inf dBFS"), std::string::npos) << run.out;
    }
}

TEST_F(Render, RenderingTwiceGivesByteIdenticalFiles) {
    const std::string in = stereoInput();
    ASSERT_EQ(runHost({"render", in, dir / "a.wav"}).status, 0);
    ASSERT_EQ(runHost({"render", in, dir / "b.wav"}).status, 0);
    EXPECT_TRUE(e2e::fileBytes(dir / "a.wav") == e2e::fileBytes(dir / "b.wav"));
}

// Also with several instances: each group of channels is what that group
// renders alone, so none of it depends on how the instances take turns.
TEST_F(Render, BlockSizeDoesNotChangeTheOutput) {
    for (const int channels : {2, 4}) {
        const std::string in = input("in.wav", kWavFloat, channels, 44100, kFrames);
        std::string reference;
        for (const char* block : {"1", "64", "512", "4096"}) {
            SCOPED_TRACE(testing::Message() << channels << " channels, block " << block);
            const auto run = runHost({"render", in, dir / "out.wav", "--block", block});
            ASSERT_EQ(run.status, 0) << run.err;
            const std::string bytes = e2e::fileBytes(dir / "out.wav");
            if (reference.empty()) reference = bytes;
            EXPECT_TRUE(bytes == reference);
        }
        const e2e::Sound whole = readSound(dir / "out.wav");
        for (int group = 0; group < channels / 2; ++group) {
            e2e::writeSound(dir / "group.wav", kWavFloat, 2, 44100, kFrames,
                            [group](std::int64_t f, int c) { return testSignal(f, 2 * group + c); });
            ASSERT_EQ(runHost({"render", dir / "group.wav", dir / "alone.wav"}).status, 0);
            const e2e::Sound alone = readSound(dir / "alone.wav");
            for (std::int64_t f = 0; f < kFrames; ++f)
                for (int c = 0; c < 2; ++c)
                    ASSERT_EQ(whole.at(f, 2 * group + c), alone.at(f, c))
                        << "group " << group << " frame " << f;
        }
    }
}

TEST_F(Render, SingleAndDoublePrecisionAgreeOnSinglePrecisionInput) {
    const std::string in = stereoInput();  // 32-bit float: every sample exact in both
    ASSERT_EQ(runHost({"render", in, dir / "32.wav", "--precision", "32"}).status, 0);
    ASSERT_EQ(runHost({"render", in, dir / "64.wav", "--precision", "64"}).status, 0);
    EXPECT_TRUE(e2e::fileBytes(dir / "32.wav") == e2e::fileBytes(dir / "64.wav"));
}

TEST_F(Render, SummaryLineReportsTheOutput) {
    const std::string in = stereoInput();
    const auto run = runHost({"render", in, dir / "out.wav"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");  // not a terminal: no progress bar
    const e2e::Sound result = readSound(dir / "out.wav");
    double peak = 0.0;
    double squares = 0.0;
    for (const float s : result.samples) {
        peak = std::max(peak, std::fabs(static_cast<double>(s)));
        squares += static_cast<double>(s) * s;
    }
    const double rms = std::sqrt(squares / static_cast<double>(result.samples.size()));
    char levels[128];
    std::snprintf(levels, sizeof(levels),
                  "x realtime, peak %.2f dBFS, RMS %.2f dBFS; 32-bit float WAV\n",
                  20.0 * std::log10(peak), 20.0 * std::log10(rms));
    const std::string head = dir / "out.wav" + ": 10007 frames, 0.227 s, ";
    ASSERT_EQ(run.out.rfind(head, 0), 0u) << run.out;
    EXPECT_GT(std::stod(run.out.substr(head.size())), 0.0) << run.out;
    EXPECT_TRUE(run.out.ends_with(levels)) << run.out << " vs " << levels;

    // A newline in the name does not split the line.
    const auto odd = runHost({"render", in, dir / "two\nlines.wav"});
    ASSERT_EQ(odd.status, 0) << odd.err;
    EXPECT_EQ(std::count(odd.out.begin(), odd.out.end(), '\n'), 1) << odd.out;

    const auto late = runHost({"render", in, dir / "late.wav", "--automate", "PreGain=0.1:1,9:0"});
    ASSERT_EQ(late.status, 0) << late.err;
    EXPECT_EQ(late.err, "warning: " + dir / "late.wav" +
                            ": 1 automation point lies past the last frame, not applied\n");
}

TEST_F(Render, LongPathsAreReportedWhole) {
    // Six folders of 100 characters: far past any fixed line buffer.
    std::string folder = dir.path();
    for (const char c : std::string("abcdef")) {
        folder += "/" + std::string(100, c);
        std::filesystem::create_directory(folder);
    }
    const std::string out = folder + "/out.wav";
    ASSERT_GT(out.size(), 600u);
    const auto run = runHost({"render", stereoInput(), out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(out + ": 10007 frames, ", 0), 0u) << run.out;

    const std::string missing = folder + "/missing";
    const auto failed = runHost({"render", stereoInput(), missing + "/out.wav"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "varkel-host: output folder " + missing + " does not exist\n");
}

TEST_F(Render, ASymbolicLinkOutputStaysOneAndItsFileIsReplaced) {
    std::filesystem::create_directory(dir / "real");
    std::filesystem::create_symlink("real/target.wav", dir / "link.wav");
    // First dangling, then leading to the earlier render.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const auto run = runHost({"render", stereoInput(), dir / "link.wav", "--quiet"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
        EXPECT_EQ(readSound(dir / "real/target.wav").info.frames, kFrames);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "real"),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

TEST_F(Render, QuietPrintsNothing) {
    const auto run = runHost({"render", stereoInput(), dir / "out.wav", "--quiet"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(Render, IntegerOutputClipsAtFullScaleAndSaysSo) {
    // Full-scale input with PreGain and PostGain at the top: far over 0 dBFS.
    const std::string in = dir / "loud.wav";
    e2e::writeSound(in, kWavFloat, 2, 44100, 4410,
                    [](std::int64_t f, int) { return (f / 50) % 2 == 0 ? 0.99f : -0.99f; });
    const std::vector<std::string> loud = {"--set", "PreGain=1", "--set", "PostGain=1"};
    auto args = std::vector<std::string>{"render", in, dir / "float.wav"};
    args.insert(args.end(), loud.begin(), loud.end());
    const auto asFloat = runHost(args);
    ASSERT_EQ(asFloat.status, 0);
    EXPECT_EQ(asFloat.err, "");  // float holds it: no warning

    args[2] = dir / "pcm16.wav";
    args.insert(args.end(), {"--format", "pcm16"});
    const auto asPcm = runHost(args);
    ASSERT_EQ(asPcm.status, 0);
    EXPECT_NE(asPcm.err.find("samples exceed full scale and were clipped"), std::string::npos)
        << asPcm.err;

    // Clipped, not wrapped around, and rounded to the nearest step: each
    // integer sample is the float one to 16-bit resolution, limited to full
    // scale.
    const e2e::Sound wide = readSound(dir / "float.wav");
    const e2e::Sound clipped = readSound(dir / "pcm16.wav");
    ASSERT_EQ(wide.samples.size(), clipped.samples.size());
    ASSERT_GT(*std::max_element(wide.samples.begin(), wide.samples.end()), 1.5f);
    for (std::size_t i = 0; i < wide.samples.size(); ++i) {
        const double step = std::clamp(std::nearbyint(wide.samples[i] * 32768.0), -32768.0, 32767.0);
        ASSERT_EQ(clipped.samples[i], static_cast<float>(step / 32768.0)) << "sample " << i;
    }
}

TEST_F(Render, DitherAddsUpToOneStepEitherWayAndRepeatsToTheBit) {
    // A sine of 1.5 steps through the Level fixture (x 0.5, exact in float).
    const std::string in = dir / "quiet.wav";
    const auto sine = [](std::int64_t f, int) {
        return static_cast<float>(3.0 / 32768 * std::sin(0.01 * static_cast<double>(f)));
    };
    e2e::writeSound(in, kWavFloat, 1, 44100, kFrames, sine);
    const auto render = [&](const std::string& name, bool dither) {
        std::vector<std::string> args = {"render", in, dir / name, "--plugin", LEVEL_PLUGIN,
                                         "--format", "pcm16"};
        if (dither) args.push_back("--dither");
        const auto run = runHost(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    EXPECT_TRUE(render("plain.wav", false).ends_with("; 16-bit PCM WAV\n"));
    EXPECT_TRUE(render("dithered.wav", true).ends_with("; 16-bit PCM WAV, dithered\n"));
    const std::string first = e2e::fileBytes(dir / "dithered.wav");
    render("dithered.wav", true);
    EXPECT_TRUE(e2e::fileBytes(dir / "dithered.wav") == first);

    // Errors in steps against the exact value. libsndfile rounds (to nearest
    // or, when clipping, down in some versions): within a step undithered;
    // with triangular dither of one step either way, within two, and of
    // variance 1/6 + 1/12 whichever way it rounds.
    const e2e::Sound plain = readSound(dir / "plain.wav");
    const e2e::Sound dithered = readSound(dir / "dithered.wav");
    double sum = 0.0;
    double squares = 0.0;
    for (std::int64_t f = 0; f < kFrames; ++f) {
        const double exact = sine(f, 0) * 0.5f * 32768.0;
        ASSERT_LT(std::fabs(plain.at(f, 0) * 32768.0 - exact), 1.0) << "frame " << f;
        const double error = dithered.at(f, 0) * 32768.0 - exact;
        ASSERT_LT(std::fabs(error), 2.0) << "frame " << f;
        sum += error;
        squares += error * error;
    }
    const double mean = sum / kFrames;
    EXPECT_NEAR(squares / kFrames - mean * mean, 0.25, 0.02);
}

TEST_F(Render, AnotherPluginRendersThroughTheSameHost) {
    // The fixture multiplies by its Level parameter: exact in float.
    const std::string in = input("mono.wav", kWavFloat, 1, 32000, kFrames);
    for (const char* block : {"1", "4096"}) {
        SCOPED_TRACE(block);
        const auto run = runHost({"render", in, dir / "out.wav", "--plugin", LEVEL_PLUGIN, "--set",
                                  "Level=0.25", "--block", block});
        ASSERT_EQ(run.status, 0) << run.err;
        const e2e::Sound result = readSound(dir / "out.wav");
        ASSERT_EQ(result.info.channels, 1);
        ASSERT_EQ(result.info.frames, kFrames);
        for (std::int64_t f = 0; f < kFrames; ++f)
            ASSERT_EQ(result.at(f, 0), testSignal(f, 0) * 0.25f) << "frame " << f;
    }
}

TEST_F(Render, MemoryStaysFlatHoweverLongTheFile) {
    const std::string shortIn = input("short.wav", kWavFloat, 2, 44100, 2 * 44100);
    const std::string longIn = input("long.wav", kWavFloat, 2, 44100, 60 * 44100);  // 21 MB
    const auto shortRun = runHost({"render", shortIn, dir / "short-out.wav"});
    const auto longRun = runHost({"render", longIn, dir / "long-out.wav"});
    ASSERT_EQ(shortRun.status, 0);
    ASSERT_EQ(longRun.status, 0);
    EXPECT_LT(longRun.maxResidentKb - shortRun.maxResidentKb, 8 * 1024)
        << shortRun.maxResidentKb << " kB for 2 s, " << longRun.maxResidentKb << " kB for 60 s";
}

TEST_F(Render, InterruptLeavesNoFileBehind) {
    const std::string in = input("long.wav", kWavFloat, 2, 44100, 60 * 44100);
    // Interrupted once the render has begun writing its temporary file; the
    // status tells the signal, as a shell's does.
    const auto writing = [this] { return dir.entryCount() > 1; };
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        const auto run = runHost({"render", in, dir / "out.wav", "--block", "1"}, signal, writing);
        if (run.status == 0) GTEST_SKIP() << "the render finished before the interrupt";
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_NE(run.err.find("interrupted; nothing written"), std::string::npos) << run.err;
        EXPECT_EQ(dir.entryCount(), 1u);  // only the input
    }
}

TEST_F(Render, APluginStuckInProcessingIsLeftAfterTwoSecondsOrASecondSignal) {
    const std::string in = input("in.wav", kWavFloat, 1, 44100, 44100);
    std::filesystem::create_directory(dir / "batch");
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int signal;
        int repeatAfterMs;  // a second signal, or none (-1)
    };
    const Row rows[] = {
        {"render", {"render", in, dir / "out.wav"}, SIGINT, -1},
        {"render, twice", {"render", in, dir / "out.wav"}, SIGTERM, 100},
        {"batch", {"render", in, "--out-dir", dir / "batch"}, SIGHUP, -1},
        {"analyze", {"analyze", "--out", dir / "analysis", "--what", "harmonics"}, SIGINT, -1},
    };
    // Ready once a temporary file or staging folder exists.
    const auto started = [this] {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with(".vk-")) return true;
        return false;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--plugin", STUCK_PLUGIN, "--quiet"});
        // Signalled once it has been stuck a while, timed from then.
        int polls = 0;
        std::chrono::steady_clock::time_point start;
        const auto stuck = [&] {
            start = std::chrono::steady_clock::now();
            return (polls = started() ? polls + 1 : 0) > 300;
        };
        const auto run = runHost(args, row.signal, stuck, row.repeatAfterMs);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.status, 128 + row.signal) << run.err;
        EXPECT_NE(run.err.find("the plug-in did not stop"), std::string::npos) << run.err;
        if (row.repeatAfterMs < 0)
            EXPECT_GE(seconds, 2.0);
        else
            EXPECT_LT(seconds, 1.5);
        EXPECT_FALSE(started()) << "a temporary was left behind";
        EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
        EXPECT_FALSE(std::filesystem::exists(dir / "analysis"));
    }
}

}  // namespace

namespace {

// A 1 kHz sine, the same on both channels, at level (a peak, as a ratio of
// full scale), sampled at rate.
double sine(double level, std::int64_t frame, int rate) {
    return level * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / rate);
}

TEST_F(Render, RateResamplesTheInputToTheIdealSine) {
    const double level = std::pow(10.0, -1.0 / 20.0);
    const std::string in = dir / "sine.wav";
    e2e::writeSound(in, kWavFloat, 2, 44100, 88200, [&](std::int64_t frame, int) {
        return static_cast<float>(sine(level, frame, 44100));
    });
    for (const int rate : {16000, 96000}) {
        SCOPED_TRACE(rate);
        const std::string out = dir / ("out-" + std::to_string(rate) + ".wav");
        const auto run = runHost({"render", in, out, "--plugin", ANALYSIS_UNITY_PLUGIN, "--rate",
                                  std::to_string(rate)});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("; resampled from 44100 Hz to " + std::to_string(rate) + " Hz\n"),
                  std::string::npos) << run.out;
        const e2e::Sound result = readSound(out);
        EXPECT_EQ(result.info.samplerate, rate);
        EXPECT_EQ(result.info.frames, 2 * rate);
        // Away from the ends, where the sine starts and stops at once.
        double worst = 0.0;
        for (std::int64_t frame = rate / 10; frame < result.info.frames - rate / 10; ++frame)
            for (int channel = 0; channel < 2; ++channel)
                worst = std::max(worst, std::fabs(result.at(frame, channel) - sine(level, frame, rate)));
        EXPECT_LE(e2e::db(worst), -120.0);
    }
}

// EBU Tech 3341: a stereo 1 kHz sine at L dBFS measures L LUFS. Scaled to
// -23 LUFS, a sine of any level comes out at -23 dBFS.
TEST_F(Render, LoudnessScalesTheOutputToTheLoudnessAskedFor) {
    const std::string in = dir / "sine.wav";
    const double level = std::pow(10.0, -10.0 / 20.0);
    e2e::writeSound(in, kWavFloat, 2, 48000, 20 * 48000, [&](std::int64_t frame, int) {
        return static_cast<float>(sine(level, frame, 48000));
    });
    const auto run = runHost({"render", in, dir / "out.wav", "--plugin", ANALYSIS_UNITY_PLUGIN,
                              "--loudness", "-23", "--measure"});
    ASSERT_EQ(run.status, 0) << run.err;
    const e2e::Sound result = readSound(dir / "out.wav");
    EXPECT_EQ(result.info.frames, 20 * 48000);
    float peak = 0.0f;
    for (const float sample : result.samples) peak = std::max(peak, std::fabs(sample));
    EXPECT_NEAR(e2e::db(peak), -23.0, 0.1);
    EXPECT_NE(run.out.find("; scaled by -13.0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("; loudness -23.0 LUFS, range 0.0 LU, true peak -23.0"),
              std::string::npos) << run.out;

    // The ceiling, from the same sine at -10 dBTP: by how much it is over.
    const auto overBy = [](const std::string& err) {
        const std::size_t at = err.find(" dBTP, ");
        return at == std::string::npos ? 0.0 : std::stod(err.substr(at + 7));
    };
    const auto over = runHost({"render", in, dir / "loud.wav", "--plugin", ANALYSIS_UNITY_PLUGIN,
                               "--true-peak-max", "-12.5"});
    EXPECT_EQ(over.status, 1);
    EXPECT_NEAR(overBy(over.err), 2.5, 0.05) << over.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "loud.wav"));
    // Over once scaled, where the plug-in's own output is not.
    const auto scaled = runHost({"render", in, dir / "loud.wav", "--plugin", ANALYSIS_UNITY_PLUGIN,
                                 "--loudness", "-23", "--true-peak-max", "-24"});
    EXPECT_EQ(scaled.status, 1);
    EXPECT_NEAR(overBy(scaled.err), 1.0, 0.05) << scaled.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "loud.wav"));
}

}  // namespace
