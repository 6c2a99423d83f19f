// Every way analyze can be given something wrong: one line on stderr, exit
// status 2 for the command line and 1 for the plug-in or the folder, and
// nothing written into the output folder, half or whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <signal.h>
#include <unistd.h>

#include "tests/e2e/e2e_support.h"

namespace {

struct BadAnalysis {
    const char* what;
    std::vector<std::string> args;  // "@name" is a path in the scratch folder
    const char* message;
    int status;
};

const BadAnalysis kBadAnalyses[] = {
    {"unknown measurement", {"--what", "response,loudness"}, "unknown measurement 'loudness'", 2},
    {"empty measurement", {"--what", "response,"}, "unknown measurement ''", 2},
    {"response level above full scale",
     {"--level", "3"},
     "--level: must be between -120 and 0 dBFS, got 3",
     2},
    {"tone level above full scale",
     {"--tone-level", "0.5"},
     "--tone-level: must be between -120 and 0 dBFS, got 0.5",
     2},
    {"level not a number", {"--level", "loud"}, "'loud' is not a number", 2},
    {"rate Varkel ignores",
     {"--rate", "500"},
     "--rate: must be between 8000 and 768000 Hz, got 500",
     2},
    {"rate too high", {"--rate", "1000000"}, "--rate: must be between 8000 and 768000 Hz", 2},
    {"rate not a number", {"--rate", "fast"}, "'fast' is not a number", 2},
    {"tone above the band",
     {"--tone-frequency", "30000"},
     "--tone-frequency 30000 Hz: must lie below 19845 Hz at 44100 Hz (see varkel-host analyze "
     "--help)",
     2},
    {"negative tolerance", {"--tolerance-db", "-1"}, "--tolerance-db: must be 0 dB or more, got -1 (see", 2},
    {"unknown parameter", {"--set", "Drive=1"}, "has no parameter Drive", 2},
    {"unknown parameter to compare", {"--vs-set", "Drive=1"}, "has no parameter Drive", 2},
    {"setting out of range", {"--set", "PreGain=2"}, "between 0 and 1", 2},
    {"stray argument", {"more"}, "not expected: more", 2},
    {"plug-in with non-finite output",
     {"--plugin", ANALYSIS_NONFINITE_PLUGIN},
     "NaN Fixture, defaults produced non-finite samples (NaN or infinity) on output 1",
     1},
    {"compared plug-in with non-finite output",
     {"--vs-plugin", ANALYSIS_NONFINITE_PLUGIN},
     "non-finite samples",
     1},
    {"plug-in without outputs", {"--plugin", ANALYSIS_NO_OUTPUTS_PLUGIN}, "has no outputs", 1},
    {"plug-in missing", {"--plugin", "@nothing.so"}, "--plugin /", 1},
    {"compared plug-in missing", {"--vs-plugin", "@nothing.so"}, "--vs-plugin /", 1},
    {"plug-in not loadable", {"--plugin", "@keep/old.txt"}, "cannot load", 1},
    {"output is a file", {"--out", "@file.txt"}, "file.txt exists and is not a folder", 1},
    {"output folder's parent missing", {"--out", "@nowhere/out"}, "does not exist", 1},
    {"output folder not writable", {"--out", "/proc/varkel-analysis"}, "cannot write in /proc", 1},
};

class AnalyzeBadInput : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir / "keep");
        e2e::writeBytes(dir / "keep/old.txt", "an earlier analysis");
        e2e::writeBytes(dir / "file.txt", "not a folder");
    }

    // The output folder is <dir>/keep unless the case names its own.
    std::vector<std::string> expand(const std::vector<std::string>& args) const {
        std::vector<std::string> result{"analyze", "--out", dir / "keep"};
        for (const std::string& arg : args)
            result.push_back(arg[0] == '@' ? dir / arg.substr(1) : arg);
        return result;
    }

    e2e::ScratchDir dir;
};

TEST_F(AnalyzeBadInput, EachGetsItsMessageItsStatusAndNoOutput) {
    const auto before = dir.snapshot();
    for (const BadAnalysis& bad : kBadAnalyses) {
        SCOPED_TRACE(bad.what);
        e2e::expectRefusal(e2e::runHost(expand(bad.args)), bad.message, bad.status);
        // Nothing written, nothing half-written, no staging folder left.
        EXPECT_TRUE(dir.snapshot() == before) << "the scratch folder changed";
    }
}

// The hidden staging folder beside the output folder, if there is one.
std::string stagingFolder(const e2e::ScratchDir& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().filename().string().starts_with(".vk-"))
            return entry.path().filename().string();
    return "";
}

TEST_F(AnalyzeBadInput, InterruptedAnalysisLeavesNothingBehind) {
    const auto before = dir.snapshot();
    // Two plug-ins, so there is time to interrupt once the staging folder exists.
    const std::vector<std::string> args{"analyze", "--out", dir / "keep", "--vs-set", "PreGain=1",
                                        "--quiet"};
    const auto run = e2e::runHost(args, SIGINT, [&] { return !stagingFolder(dir).empty(); });
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(dir.snapshot() == before) << "the scratch folder changed";

    // Killed, it cannot clean up; the next run removes what it left, but
    // not the staging folder of a process still running.
    const auto killed = e2e::runHost(args, SIGKILL, [&] { return !stagingFolder(dir).empty(); });
    EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.err;
    const std::string left = stagingFolder(dir);
    ASSERT_FALSE(left.empty());
    // .vk-<machine>-<pid>-<random>, with this test's own pid.
    const std::size_t pid = left.find('-', 4) + 1;
    const std::string alive = left.substr(0, pid) + std::to_string(::getpid()) +
                              left.substr(left.find('-', pid));
    std::filesystem::create_directory(dir / alive);
    ASSERT_EQ(e2e::runHost({"analyze", "--out", dir / "keep", "--what", "harmonics", "--quiet"})
                  .status,
              0);
    EXPECT_FALSE(std::filesystem::exists(dir / left));
    EXPECT_TRUE(std::filesystem::exists(dir / alive));
}

}  // namespace
