// The LV2 test plug-ins as Debian's LV2 tools (lilv-utils, lv2-dev) see
// them: described without a warning, validated without an error, and
// processing files to exactly what they promise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace {

bool installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// LV2_PATH holding the test bundle and the vocabularies its descriptions
// use only, so that no installed plug-in's warnings mix in.
class ToolSession {
public:
    ToolSession() {
        namespace fs = std::filesystem;
        fs::create_directory(dir / "lv2");
        fs::create_directory_symlink(std::string(VARKEL_TEST_LV2_PATH) + "/varkel-test.lv2",
                                     dir / "lv2/varkel-test.lv2");
        for (const char* vocabulary : {"core", "atom", "urid", "options", "parameters", "buf-size",
                                       "presets", "port-props", "units", "midi"})
            if (const fs::path bundle =
                    fs::path("/usr/lib/lv2") / (std::string(vocabulary) + ".lv2");
                fs::exists(bundle))
                fs::create_directory_symlink(bundle, dir / ("lv2/" + bundle.filename().string()));
    }

    e2e::RunResult run(const std::string& tool, const std::vector<std::string>& args) const {
        return e2e::runProgram(tool, args,
                               {"LV2_PATH=" + dir / "lv2", "LD_PRELOAD=" LV2_TOOL_PRELOAD,
                                "ASAN_OPTIONS=detect_leaks=0"});
    }
    std::string operator/(const std::string& name) const { return dir / name; }

private:
    e2e::ScratchDir dir;
};

#if defined(LV2_TOOLS_CANNOT_LOAD_FIXTURES)
#define SKIP_WITHOUT_TOOLS() \
    GTEST_SKIP() << "a ThreadSanitizer build's plug-ins cannot load in them"
#else
#define SKIP_WITHOUT_TOOLS()                             \
    if (!installed("lv2info") || !installed("lv2apply")) \
    GTEST_SKIP() << "lilv-utils is not installed"
#endif

bool mentionsTrouble(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("warn") != std::string::npos || lower.find("error") != std::string::npos;
}

TEST(Lv2Fixtures, DescriptionsShowInLv2InfoAndValidate) {
    SKIP_WITHOUT_TOOLS();
    struct Described {
        const char* uri;
        int ports;
        std::vector<std::string> shows;
    };
    const Described plugins[] = {
        {"urn:varkel:test:delay",
         6,
         {"Has latency:       yes, reported by port 5", "Short", "Long"}},
        {"urn:varkel:test:needs-unknown", 4, {"urn:varkel:test:no-such-feature"}},
        {"urn:varkel:test:sidechain-gate", 7, {"lv2core#isSideChain"}},
        {"urn:varkel:test:needs-map", 7, {"urid#map", "options#options", "atom#AtomPort"}},
        {"urn:varkel:test:sine-instrument", 4, {"Instrument Plugin", "urid#map", "atom#AtomPort"}},
    };
    const ToolSession session;
    for (const Described& p : plugins) {
        SCOPED_TRACE(p.uri);
        const auto info = session.run("lv2info", {p.uri});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_FALSE(mentionsTrouble(info.out + info.err)) << info.out << info.err;
        int ports = 0;
        std::istringstream lines(info.out);
        for (std::string line; std::getline(lines, line);)
            ports += line.starts_with("\tPort ") && line.ends_with(":");
        EXPECT_EQ(ports, p.ports) << info.out;
        for (const std::string& part : p.shows)
            EXPECT_NE(info.out.find(part), std::string::npos) << part << " in\n" << info.out;
    }

    if (!installed("lv2_validate") || !installed("sord_validate")) return;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(VARKEL_TEST_LV2_PATH) +
                                                                 "/varkel-test.lv2"))
        if (entry.path().extension() == ".ttl") files.push_back(entry.path().string());
    const auto validated = session.run("lv2_validate", files);
    EXPECT_EQ(validated.status, 0) << validated.out << validated.err;
    EXPECT_NE(validated.out.find("Found 0 errors"), std::string::npos) << validated.out;
}

struct Applied {
    const char* uri;
    std::vector<std::string> controls;
    int channels;  // of the input file
    e2e::SampleFunction input;
    std::function<float(const e2e::Sound&, std::int64_t, int)> expected;
};

TEST(Lv2Fixtures, Lv2ApplyProcessesExactlyAsDescribed) {
    SKIP_WITHOUT_TOOLS();
    const auto stereo = [](std::int64_t frame, int channel) {
        return e2e::testSignal(frame, channel);
    };
    // The side-chain is silent for the first half, then a loud or a quiet tone.
    const auto withSide = [](float level) {
        return [level](std::int64_t frame, int channel) {
            if (channel < 2) return e2e::testSignal(frame, channel);
            return frame < 2000 ? 0.0f : level * (frame % 2 == 0 ? 1.0f : -1.0f);
        };
    };
    const auto delayed = [](std::int64_t frames) {
        return [frames](const e2e::Sound& in, std::int64_t frame, int channel) {
            return frame < frames ? 0.0f : in.at(frame - frames, channel);
        };
    };
    const auto gated = [](float quiet, float loudGain) {
        return [quiet, loudGain](const e2e::Sound& in, std::int64_t frame, int channel) {
            return in.at(frame, channel) * (frame < 2000 ? quiet : loudGain);
        };
    };
    const Applied cases[] = {
        {"urn:varkel:test:delay", {"-c", "frames", "10"}, 2, stereo, delayed(10)},
        {"urn:varkel:test:delay", {}, 2, stereo, delayed(64)},
        {"urn:varkel:test:delay", {"-c", "frames", "1000"}, 2, stereo, delayed(1000)},
        {"urn:varkel:test:delay", {"-c", "frames", "0"}, 2, stereo, delayed(0)},
        {"urn:varkel:test:sidechain-gate", {}, 3, withSide(0.5f), gated(0.25f, 1.0f)},
        {"urn:varkel:test:sidechain-gate", {}, 3, withSide(0.05f), gated(0.25f, 0.25f)},
        {"urn:varkel:test:sidechain-gate",
         {"-c", "threshold", "0.6"},
         3,
         withSide(0.5f),
         gated(0.25f, 0.25f)},
        {"urn:varkel:test:sidechain-gate",
         {"-c", "quiet_gain", "0.5"},
         3,
         withSide(0.5f),
         gated(0.5f, 1.0f)},
    };
    const ToolSession session;
    for (const Applied& c : cases) {
        std::string name = c.uri;
        for (const std::string& control : c.controls) name += " " + control;
        SCOPED_TRACE(name);
        e2e::writeSound(session / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, c.channels, 44100,
                        4000, c.input);
        std::vector<std::string> args{"-i", session / "in.wav", "-o", session / "out.wav"};
        args.insert(args.end(), c.controls.begin(), c.controls.end());
        args.push_back(c.uri);
        const auto applied = session.run("lv2apply", args);
        ASSERT_EQ(applied.status, 0) << applied.err;
        const e2e::Sound in = e2e::readSound(session / "in.wav");
        const e2e::Sound out = e2e::readSound(session / "out.wav");
        ASSERT_EQ(out.info.channels, 2);
        ASSERT_EQ(out.info.frames, in.info.frames);
        int wrong = 0;
        for (std::int64_t frame = 0; frame < out.info.frames; ++frame)
            for (int channel = 0; channel < 2; ++channel)
                wrong += out.at(frame, channel) != c.expected(in, frame, channel);
        EXPECT_EQ(wrong, 0);
    }
}


// varkel-host hosting the same plug-ins: the host features they require, the
// latency they report compensated, their presets, and the side-chain silent
// or fed from a file.
struct Hosted {
    std::vector<std::string> options;
    int channels;
    std::function<float(const e2e::Sound&, std::int64_t, int)> expected;
    std::int64_t extraFrames;  // past the input's length
    const char* summary;       // a part of the summary line
};

TEST(Lv2Fixtures, VarkelHostProvidesTheirFeaturesAndCompensatesTheirLatency) {
    e2e::ScratchDir dir;
    const auto host = [](const std::vector<std::string>& args) {
        return e2e::runProgram(VARKEL_HOST_BINARY, args,
                               {std::string("LV2_PATH=") + VARKEL_TEST_LV2_PATH});
    };
    const auto scaled = [](float gain) {
        return [gain](const e2e::Sound& in, std::int64_t f, int c) {
            return f < in.info.frames ? in.at(f, c) * gain : 0.0f;
        };
    };
    const auto delayed = [](std::int64_t frames) {
        return [frames](const e2e::Sound& in, std::int64_t f, int c) {
            return f < frames ? 0.0f : in.at(f - frames, c);
        };
    };
    // The key is loud from frame 2000 to its end at 3000, then padded with silence.
    const auto keyed = [](const e2e::Sound& in, std::int64_t f, int c) {
        return in.at(f, c) * (f >= 2000 && f < 3000 ? 1.0f : 0.25f);
    };
    e2e::writeSound(dir / "key.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, 3000,
                    [](std::int64_t f, int) { return f < 2000 ? 0.0f : 0.5f; });
    // Each channel's key loud from its own frame on: 1000 left, 3000 right.
    e2e::writeSound(dir / "stereo-key.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 4000,
                    [](std::int64_t f, int c) { return f < (c == 0 ? 1000 : 3000) ? 0.0f : 0.5f; });
    const auto keyedByChannel = [](const e2e::Sound& in, std::int64_t f, int c) {
        return in.at(f, c) * (f >= (c == 0 ? 1000 : 3000) ? 1.0f : 0.25f);
    };
    const std::string delay = "urn:varkel:test:delay";
    const std::string ranges = "urn:varkel:test:ranges";
    const Hosted cases[] = {
        {{"--plugin", delay, "--set", "frames=10"}, 2, scaled(1.0f), 0,
         "latency of 10 frames compensated"},
        {{"--plugin", delay, "--preset", "Long"}, 2, scaled(1.0f), 0,
         "latency of 500 frames compensated"},
        {{"--plugin", delay, "--set", "frames=10", "--no-latency-compensation"}, 2, delayed(10), 0,
         "s, "},
        {{"--plugin", delay, "--tail", "0.01"}, 2, scaled(1.0f), 441, "0.010 s tail"},
        {{"--plugin", "urn:varkel:test:sidechain-gate"}, 2, scaled(0.25f), 0, "side-chain silent"},
        // A port symbol in any case.
        {{"--plugin", "urn:varkel:test:sidechain-gate", "--set", "QUIET_GAIN=0.5"}, 2,
         scaled(0.5f), 0, "side-chain silent"},
        {{"--plugin", "urn:varkel:test:sidechain-gate", "--sidechain", dir / "key.wav"}, 2, keyed,
         0, "side-chain from file"},
        {{"--plugin", "urn:varkel:test:needs-map"}, 2, scaled(0.5f), 0, "s, "},
        // Its worker's replies arrive once each, or it falls silent.
        {{"--plugin", "urn:varkel:test:worker-meter", "--block", "64"}, 2, scaled(1.0f), 0, "s, "},
        // 64-bit audio through a plug-in with more inputs than outputs.
        {{"--plugin", "urn:varkel:test:sidechain-gate", "--sidechain", dir / "key.wav",
          "--precision", "64"},
         2, keyed, 0, "side-chain from file"},
        // --set wins over the preset, whichever comes first.
        {{"--set", "frames=10", "--plugin", delay, "--preset", "Long"}, 2, scaled(1.0f), 0,
         "latency of 10 frames compensated"},
        // A range written backwards keeps its default and takes values in it.
        {{"--plugin", ranges}, 2, scaled(1.0f), 0, "s, "},
        {{"--plugin", ranges, "--set", "gain=1.5"}, 2, scaled(1.5f), 0, "s, "},
        {{"--plugin", ranges, "--automate", "gain=0:1.5"}, 2, scaled(1.5f), 0, "s, "},
        // Presets in decimal, integer, double and boolean literals.
        {{"--plugin", ranges, "--preset", "Half"}, 2, scaled(0.5f), 0, "s, "},
        {{"--plugin", ranges, "--preset", "Quarter"}, 2, scaled(0.25f), 0, "s, "},
        {{"--plugin", ranges, "--preset", "Double"}, 2, scaled(2.0f), 0, "s, "},
        {{"--plugin", ranges, "--preset", "Muted"}, 2, scaled(0.0f), 0, "s, "},
        {{"--plugin", ranges, "--preset", "Stranger"}, 2, scaled(0.5f), 0, "s, "},
        {{"--plugin", ranges, "--preset", "Rounded"}, 2, scaled(2.0000002f), 0, "s, "},
        // Side-chains known by a label and a port group, fed each from its own channel.
        {{"--plugin", "urn:varkel:test:keyed-by-label", "--sidechain", dir / "stereo-key.wav"}, 2,
         keyedByChannel, 0, "side-chain from file"},
    };
    e2e::writeSound(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 4000,
                    e2e::testSignal);
    const e2e::Sound in = e2e::readSound(dir / "in.wav");
    for (const Hosted& c : cases) {
        std::string name;
        for (const std::string& option : c.options) name += option + " ";
        SCOPED_TRACE(name);
        std::vector<std::string> args = {"render", dir / "in.wav", dir / "out.wav"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto run = host(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(c.summary), std::string::npos) << run.out;
        const e2e::Sound out = e2e::readSound(dir / "out.wav");
        ASSERT_EQ(out.info.frames, in.info.frames + c.extraFrames);
        int wrong = 0;
        for (std::int64_t f = 0; f < out.info.frames; ++f)
            for (int ch = 0; ch < 2; ++ch) wrong += out.at(f, ch) != c.expected(in, f, ch);
        EXPECT_EQ(wrong, 0);
    }

    // A preset's port the plug-in lacks is named in a warning.
    const auto stranger = host({"render", dir / "in.wav", dir / "stranger.wav", "--plugin", ranges,
                                "--preset", "Stranger"});
    EXPECT_NE(stranger.err.find("preset Stranger sets nosuch, a port Varkel test ranges does not "
                                "have"),
              std::string::npos)
        << stranger.err;

    // Values a port does not take, from a preset, --set or --automate: one
    // line naming what it takes, nothing written.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{"--preset", "Loud"}, "--preset Loud gain: the value must lie between 0 and 2"},
        {{"--set", "mute=0.5"}, "Mute takes only 0, 1"},
        {{"--set", "steps=2"}, "Steps takes only 0, 1, 3"},
        {{"--automate", "steps=0:1,0.01:2"}, "Steps takes only 0, 1, 3"},
        {{"--automate", "gain=0:0.5,0.01:2.5"}, "between 0 and 2"},
    };
    for (const auto& [options, message] : refusals) {
        SCOPED_TRACE(message);
        std::vector<std::string> args = {"render", dir / "in.wav", dir / "refused.wav", "--plugin",
                                         ranges};
        args.insert(args.end(), options.begin(), options.end());
        const auto run = host(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "refused.wav"));
    }

    // A feature it does not provide: one line naming it, nothing written.
    const auto refused = host({"render", dir / "in.wav", dir / "refused.wav", "--plugin",
                               "urn:varkel:test:needs-unknown"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_NE(refused.err.find("requires the host feature urn:varkel:test:no-such-feature"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "refused.wav"));

    // A side-chain file that stops decoding part way is a failure, not a key
    // that falls silent: nothing written.
    e2e::writeSound(dir / "broken.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, 4000,
                    e2e::testSignal);
    std::string bytes;
    {
        std::ifstream file(dir / "broken.flac", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    for (std::size_t i = bytes.size() / 2; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 73 + 11);
    e2e::writeBytes(dir / "broken.flac", bytes);
    const auto broken = host({"render", dir / "in.wav", dir / "keyless.wav", "--plugin",
                              "urn:varkel:test:sidechain-gate", "--sidechain", dir / "broken.flac"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("broken.flac: reading failed"), std::string::npos) << broken.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "keyless.wav"));

    // A side-chain file that does not fit its inputs is named as the side-chain.
    const auto wide = host({"render", dir / "in.wav", dir / "keyless.wav", "--plugin",
                            "urn:varkel:test:sidechain-gate", "--sidechain", dir / "stereo-key.wav"});
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.err.rfind("varkel-host: --sidechain " + dir / "stereo-key.wav" +
                                 ": a 2-channel side-chain file does not fit 1 side-chain input",
                             0),
              0u)
        << wide.err;
}

// The values a plug-in reports from its runs, listed by info.
TEST(Lv2Fixtures, InfoListsTheControlOutputs) {
    const std::vector<std::string> environment = {std::string("LV2_PATH=") + VARKEL_TEST_LV2_PATH};
    const auto info = e2e::runProgram(
        VARKEL_HOST_BINARY, {"info", "--json", "--plugin", "urn:varkel:test:worker-meter"}, environment);
    ASSERT_EQ(info.status, 0) << info.err;
    // A plug-in that cannot be cleaned up unless it started once, never run
    // by info, still goes away quietly; its default state, written with an
    // integer literal, is taken.
    const auto ranges = e2e::runProgram(
        VARKEL_HOST_BINARY, {"info", "--json", "--plugin", "urn:varkel:test:ranges"}, environment);
    ASSERT_EQ(ranges.status, 0) << ranges.err;
    const auto corner = nlohmann::json::parse(ranges.out)["parameters"][3];
    EXPECT_EQ(corner["symbol"], "corner");
    EXPECT_EQ(corner["value"], 500);
    EXPECT_EQ(corner["default"], 1000);
    const auto outputs = nlohmann::json::parse(info.out)["controlOutputs"];
    ASSERT_EQ(outputs.size(), 3u) << info.out;
    EXPECT_EQ(outputs[0]["symbol"], "peak");
    EXPECT_EQ(outputs[1]["symbol"], "replies");
    EXPECT_EQ(outputs[1]["maximum"], 1000000);
    // Side-chains by label and by port group, each said so.
    const auto keyed = e2e::runProgram(
        VARKEL_HOST_BINARY, {"info", "--json", "--plugin", "urn:varkel:test:keyed-by-label"},
        environment);
    const auto sides = nlohmann::json::parse(keyed.out)["sideChains"];
    ASSERT_EQ(sides.size(), 2u) << keyed.out;
    EXPECT_EQ(sides[0]["why"], "its label");
    EXPECT_EQ(sides[1]["why"], "its port group is a side-chain");
}

// A bundle whose binary is gone: list marks it, render says so in one line,
// and lilv's own complaints stay off stderr unless --verbose asks for them.
TEST(Lv2Fixtures, ABundleWithoutItsBinaryIsNamedAsSuch) {
    e2e::ScratchDir dir;
    std::filesystem::create_directories(dir / "lv2/gone.lv2");
    e2e::writeBytes(dir / "lv2/gone.lv2/manifest.ttl",
                    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                    "<urn:varkel:test:gone> a lv2:Plugin ; lv2:binary <gone.so> ;\n"
                    "  doap:name \"Gone\" ; lv2:port [ a lv2:AudioPort , lv2:InputPort ;\n"
                    "  lv2:index 0 ; lv2:symbol \"in\" ; lv2:name \"In\" ] , [ a lv2:AudioPort ,\n"
                    "  lv2:OutputPort ; lv2:index 1 ; lv2:symbol \"out\" ; lv2:name \"Out\" ] .\n");
    // And one lilv cannot read at all, which it complains about.
    std::filesystem::create_directories(dir / "lv2/broken.lv2");
    e2e::writeBytes(dir / "lv2/broken.lv2/manifest.ttl", "<urn:varkel:test:broken> syntax error\n");
    const std::vector<std::string> environment = {"LV2_PATH=" + dir / "lv2",
                                                  "VST_PATH=" + dir / "novst"};
    const auto list = e2e::runProgram(VARKEL_HOST_BINARY, {"list", "--json"}, environment);
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "");
    const auto entries = nlohmann::json::parse(list.out);
    ASSERT_EQ(entries.size(), 1u) << list.out;
    EXPECT_NE(entries[0]["failure"].get<std::string>().find("gone.so is missing"),
              std::string::npos)
        << entries;

    e2e::writeSound(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, 100,
                    e2e::testSignal);
    const auto render = e2e::runProgram(
        VARKEL_HOST_BINARY, {"render", dir / "in.wav", dir / "out.wav", "--plugin", "urn:varkel:test:gone"},
        environment);
    EXPECT_EQ(render.status, 1);
    EXPECT_EQ(std::count(render.err.begin(), render.err.end(), '\n'), 1) << render.err;
    EXPECT_NE(render.err.find("its binary " + dir / "lv2/gone.lv2/gone.so" + " is missing"),
              std::string::npos)
        << render.err;
    const auto verbose = e2e::runProgram(VARKEL_HOST_BINARY, {"list", "--verbose"}, environment);
    EXPECT_NE(verbose.err.find("rror"), std::string::npos) << verbose.err;
}

}  // namespace
