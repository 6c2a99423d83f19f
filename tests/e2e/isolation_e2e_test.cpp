// varkel-host with --isolate: the plug-in in a process of its own. A crash,
// an abort or a hang there (at load or in a block), or the child killed from
// outside, fails the file with one line and status 1, leaving nothing; a
// batch goes on past it; and what renders is the in-process render's bytes.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::kWavFloat;

class Isolation : public ::testing::Test {
protected:
    e2e::RunResult host(const std::vector<std::string>& args, const std::string& fault = "") {
        std::vector<std::string> environment = {std::string("LV2_PATH=") + VARKEL_TEST_LV2_PATH};
        if (!fault.empty()) environment.push_back("STUCK_FIXTURE_FAULT=" + fault);
        return e2e::runProgram(VARKEL_HOST_BINARY, args, environment);
    }
    std::string input(const std::string& name, int channels, std::int64_t frames) {
        e2e::writeSound(dir / name, kWavFloat, channels, 44100, frames, e2e::testSignal);
        return dir / name;
    }
    // Anything a render leaves while it runs: a temporary or a staging folder.
    bool temporariesLeft() const {
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with(".vk-")) return true;
        return false;
    }
    static std::size_t lines(const std::string& text) {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    e2e::ScratchDir dir;
};

TEST_F(Isolation, EachFailureOfThePluginIsOneLineNamingItTheFileAndTheFrame) {
    const std::string in = input("in.wav", 1, 44100);
    struct Row {
        const char* what;
        const char* plugin;
        const char* fault;  // STUCK_FIXTURE_FAULT
        std::vector<std::string> words;
    };
    const Row rows[] = {
        {"crash on the third block", STUCK_PLUGIN, "segv:3",
         {"Stuck Fixture", "crashed with signal 11", "at frame 1024"}},
        {"abort in the first block", STUCK_PLUGIN, "abort:1",
         {"Stuck Fixture", "crashed with signal 6", "at frame 0"}},
        {"hang in the second block", STUCK_PLUGIN, "hang:2",
         {"Stuck Fixture", "did not answer within 1 s (--plugin-timeout 1) and was stopped",
          "at frame 512"}},
        {"hang while loading", HANG_PLUGIN, "",
         {HANG_PLUGIN, "did not answer within 1 s", "while loading"}},
        {"abort while loading", CRASH_PLUGIN, "",
         {CRASH_PLUGIN, "crashed with signal 6", "while loading"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto run = host({"render", in, dir / "out.wav", "--plugin", row.plugin, "--isolate",
                               "--plugin-timeout", "1"},
                              row.fault);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lines(run.err), 1u) << run.err;
        EXPECT_TRUE(run.err.starts_with("varkel-host: " + in + ": the plug-in ")) << run.err;
        for (const std::string& word : row.words)
            EXPECT_NE(run.err.find(word), std::string::npos) << word << " in " << run.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav"));
        EXPECT_FALSE(temporariesLeft());
    }
    // analyze and bench fail alike, without a file to name.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"analyze", "--out", dir / "analysis", "--what", "harmonics"},
          std::vector<std::string>{"bench", "--seconds", "1"}}) {
        SCOPED_TRACE(command.front());
        std::vector<std::string> args = command;
        args.insert(args.end(), {"--plugin", STUCK_PLUGIN, "--isolate"});
        const auto run = host(args, "segv:2");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("crashed with signal 11 (Segmentation fault) at frame 512"),
                  std::string::npos)
            << run.err;
    }
}

// The child's pid, found by the plug-in's path on its command line.
pid_t childRunning(const std::string& plugin) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream file(entry.path() / "cmdline");
        std::string line;
        std::getline(file, line, '\x01');
        if (line.find("varkel-plugin-host") != std::string::npos &&
            line.find(plugin) != std::string::npos)
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
    }
    return 0;
}

TEST_F(Isolation, AChildKilledFromOutsideIsReported) {
    const std::string in = input("in.wav", 1, 44100);
    // A copy of its own, so that only this test's child has it on its command line.
    const std::string plugin = dir / "stuck.so";
    fs::copy_file(STUCK_PLUGIN, plugin);
    bool killed = false;
    int polls = 0;
    // Stuck in its first block (the output's temporary made, and a moment
    // more) until killed; the host then gets a harmless SIGCONT.
    const auto run = e2e::runHost(
        {"render", in, dir / "out.wav", "--plugin", plugin, "--isolate", "--plugin-timeout", "60"},
        SIGCONT, [&] {
            if ((polls = temporariesLeft() ? polls + 1 : 0) < 200) return false;
            const pid_t child = childRunning(plugin);
            if (child != 0) killed = ::kill(child, SIGKILL) == 0;
            return killed;
        });
    ASSERT_TRUE(killed);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find(in + ": the plug-in Stuck Fixture (" + plugin +
                           ") crashed with signal 9 (Killed) at frame 0"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
    EXPECT_FALSE(temporariesLeft());
}

TEST_F(Isolation, ABatchGoesOnPastFilesWhosePluginCrashes) {
    // Five files long enough to reach the third block, where the plug-in
    // crashes, and five of two blocks that never do; a fresh child each.
    fs::create_directory(dir / "in");
    std::vector<std::string> failing;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "in/" + std::to_string(i) + ".wav";
        input(name, 1, i % 2 == 0 ? 4000 : 1000);
        if (i % 2 == 0) failing.push_back(dir / name);
    }
    const auto run = host({"render", dir / "in", "--out-dir", dir / "out", "--plugin",
                           STUCK_PLUGIN, "--isolate", "-j", "3"},
                          "segv:3");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines(run.err), 5u) << run.err;
    for (const std::string& file : failing)
        EXPECT_NE(run.err.find(file + ": the plug-in Stuck Fixture (" STUCK_PLUGIN
                                      ") crashed with signal 11 (Segmentation fault) at frame 1024"),
                  std::string::npos)
            << file;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(fs::exists(dir / ("out/" + std::to_string(i) + "-stuck-fixture.wav")), i % 2 == 1)
            << i;
    EXPECT_FALSE(temporariesLeft());
}

TEST_F(Isolation, RendersTheSameBytesAsInProcess) {
    const std::string stereo = input("stereo.wav", 2, 10007);
    const std::string quad = input("quad.wav", 4, 3001);
    e2e::writeSound(dir / "key.wav", kWavFloat, 1, 44100, 3000,
                    [](std::int64_t f, int) { return f < 2000 ? 0.0f : 0.5f; });
    e2e::writeBytes(dir / "factor.txt", "0.5\n");
    fs::copy_file(STATE_GAIN_STATE, dir / "hand.ttl");
    const std::string varkelLv2 = std::string(VARKEL_LV2_PATH) + "/Varkel.lv2/";
    struct Row {
        const char* what;
        std::string input;
        std::vector<std::string> options;
    };
    const Row rows[] = {
        {"VST 2.4, 32-bit", stereo, {"--set", "PreGain=0.8"}},
        {"VST 2.4, 64-bit, block 100", stereo, {"--precision", "64", "--block", "100"}},
        {"VST 2.4, block 1", quad, {"--block", "1"}},
        {"automation, ramped", stereo,
         {"--automate", "PreGain=0:0.2,0.1:0.9", "--ramp", "--block", "333"}},
        {"LV2 Varkel, 64-bit", stereo, {"--plugin", varkelLv2, "--precision", "64"}},
        {"two instances of a mono plug-in", quad, {"--plugin", LEVEL_PLUGIN, "--set", "Level=0.3"}},
        {"side-chain", stereo,
         {"--plugin", "urn:varkel:test:sidechain-gate", "--sidechain", dir / "key.wav"}},
        {"LV2 state", stereo, {"--plugin", "urn:varkel:test:state-gain", "--state", dir / "hand.ttl"}},
        {"latency and tail", stereo,
         {"--plugin", "urn:varkel:test:delay", "--set", "frames=10", "--tail", "0.01"}},
        {"pcm16 with dither", stereo, {"--format", "pcm16", "--dither"}},
        // A failure inside the plug-in reads the same, in the command line's words.
        {"a state that is not the plug-in's", stereo,
         {"--plugin", "urn:varkel:test:delay", "--state", dir / "hand.ttl"}},
    };
    // One output name in two folders: the dither's seed is the name.
    fs::create_directory(dir / "in-process");
    fs::create_directory(dir / "isolated");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> args = {"render", row.input, dir / "in-process/out.wav"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const auto inProcess = host(args);
        args[2] = dir / "isolated/out.wav";
        args.push_back("--isolate");
        const auto isolated = host(args);
        EXPECT_EQ(isolated.status, inProcess.status);
        if (inProcess.status != 0) {
            EXPECT_NE(inProcess.err.find("--state"), std::string::npos) << inProcess.err;
            EXPECT_EQ(isolated.err, inProcess.err);
            continue;
        }
        EXPECT_EQ(isolated.err, inProcess.err);
        EXPECT_TRUE(e2e::fileBytes(dir / "isolated/out.wav") ==
                    e2e::fileBytes(dir / "in-process/out.wav"));
    }
}

}  // namespace
