// Every way the render command can be given something wrong: one line on
// stderr naming the file or argument, a non-zero status, and no file
// written or changed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/e2e/e2e_support.h"

namespace {

struct BadRender {
    const char* what;
    std::vector<std::string> args;  // "@name" is a path in the scratch folder
    const char* message;
    int status;
};

// 1: a file, the plug-in or the render failed; 2: the command line is wrong.
const BadRender kBadRenders[] = {
    {"missing input", {"@missing.wav", "@out.wav"}, "missing.wav: no such file", 1},
    {"input is a folder", {"@folder", "@out.wav"}, "folder is a folder; --out-dir renders the files in it", 2},
    {"undecodable input", {"@garbage.wav", "@out.wav"}, "garbage.wav: not a sound file libsndfile can decode", 1},
    {"empty input", {"@empty.wav", "@out.wav"}, "empty.wav is empty", 1},
    {"input without frames", {"@noframes.wav", "@out.wav"}, "noframes.wav holds no audio frames", 1},
    {"output is the input", {"@in.wav", "@in.wav"}, "in.wav is the input file", 1},
    {"output is the input by another path", {"@in.wav", "@folder/../in.wav"}, "is the input file", 1},
    {"output folder missing", {"@in.wav", "@nowhere/out.wav"}, "output folder", 1},
    {"output is a folder", {"@in.wav", "@folder"}, "folder is a folder; OUT must be a file", 1},
    {"output missing", {"@in.wav"}, "OUT is required", 2},
    {"extra argument", {"@in.wav", "@out.wav", "more"}, "not expected: more", 2},
    {"unknown option", {"@in.wav", "@out.wav", "--loud"}, "not expected: --loud", 2},
    {"option without its value", {"@in.wav", "@out.wav", "--set"}, "--set: 1 required NAME=VALUE missing", 2},
    {"setting without a value", {"@in.wav", "@out.wav", "--set", "PreGain"}, "--set: needs NAME=VALUE", 2},
    {"value not a number", {"@in.wav", "@out.wav", "--set", "PreGain=loud"}, "'loud' is not a number", 2},
    {"value not finite", {"@in.wav", "@out.wav", "--set", "PreGain=inf"}, "'inf' is not a number", 2},
    {"value above 1", {"@in.wav", "@out.wav", "--set", "PreGain=1.5"}, "the value must lie between 0 and 1", 2},
    {"value below 0", {"@in.wav", "@out.wav", "--set", "PreGain=-0.1"}, "the value must lie between 0 and 1", 2},
    {"unknown parameter", {"@in.wav", "@out.wav", "--set", "Drive=0.5"},
     "Varkel has no parameter Drive; valid names: PreGain, LPCutOff, PostGain (or an index 0..2)", 2},
    {"parameter index too high", {"@in.wav", "@out.wav", "--set", "3=0.5"}, "has no parameter 3", 2},
    {"block zero", {"@in.wav", "@out.wav", "--block", "0"}, "--block: must be between 1 and 65536, got 0", 2},
    {"block negative", {"@in.wav", "@out.wav", "--block", "-64"}, "--block: must be between 1 and 65536", 2},
    {"block absurd", {"@in.wav", "@out.wav", "--block", "100000000"}, "--block: must be between 1 and 65536", 2},
    {"block not a number", {"@in.wav", "@out.wav", "--block", "big"}, "--block: 'big' is not a whole number", 2},
    {"precision", {"@in.wav", "@out.wav", "--precision", "16"}, "--precision: must be 32 or 64", 2},
    {"rate zero", {"@in.wav", "@out.wav", "--rate", "0"}, "--rate: must be between 1000 and 768000, got 0", 2},
    {"rate not a number", {"@in.wav", "@out.wav", "--rate", "nan"}, "--rate: 'nan' is not a whole number", 2},
    {"loudness above 0", {"@in.wav", "@out.wav", "--loudness", "0.5"}, "--loudness: must be between -70 and 0 LUFS, got 0.5", 2},
    {"loudness below the gate", {"@in.wav", "@out.wav", "--loudness", "-71"}, "--loudness: must be between -70 and 0 LUFS", 2},
    {"loudness not a number", {"@in.wav", "@out.wav", "--loudness", "nan"}, "--loudness: 'nan' is not a number", 2},
    {"true peak not a number", {"@in.wav", "@out.wav", "--true-peak-max", "nan"}, "--true-peak-max: 'nan' is not a number", 2},
    {"loudness of a silent output", {"@in.wav", "@out.wav", "--set", "PreGain=0", "--loudness", "-23"},
     "out.wav: silent, or below the loudness gate throughout, so there is no loudness to scale to --loudness -23; nothing written", 1},
    {"true peak over the ceiling", {"@in.wav", "@out.wav", "--true-peak-max", "-60"}, " dB over --true-peak-max -60; nothing written", 1},
    {"format", {"@in.wav", "@out.wav", "--format", "mp3"}, "--format: must be float, pcm24 or pcm16", 2},
    {"format the container cannot hold", {"@in.flac", "@out.flac", "--format", "float"}, "cannot hold 32-bit float samples", 1},
    {"channels that do not split among the plug-in's inputs", {"@three.wav", "@out.wav"},
     "three.wav: a 3-channel file does not split into groups of 2 for a plug-in with 2 inputs (Varkel)", 1},
    {"output container libsndfile cannot write", {"@in.wav", "@out.m4a"}, "out.m4a: libsndfile here cannot write .m4a files; it writes ", 1},
    {"output libsndfile refuses at open (Opus at 44.1 kHz)", {"@in.wav", "@out.opus"}, "out.opus: libsndfile cannot write it", 1},
    {"sample format the output's container cannot hold", {"@in.wav", "@out.mp3", "--format", "pcm16"},
     "cannot hold 16-bit integer samples (--format)", 1},
    {"precision the plug-in lacks", {"@mono.wav", "@out.wav", "--plugin", LEVEL_PLUGIN, "--precision", "64"},
     "Level Fixture cannot process 64-bit audio", 1},
    {"plug-in missing", {"@in.wav", "@out.wav", "--plugin", "@nothing.so"}, "nothing.so: no such file", 1},
    {"plug-in not loadable", {"@in.wav", "@out.wav", "--plugin", "@garbage.wav"}, "cannot load", 1},
    {"plug-in without entry point", {"@in.wav", "@out.wav", "--plugin", NO_ENTRY_PLUGIN}, "has no VST 2.4 entry point", 1},
    {"plug-in returning null", {"@in.wav", "@out.wav", "--plugin", NULL_ENTRY_PLUGIN}, "the entry point returned no effect", 1},
    {"plug-in with the wrong magic", {"@in.wav", "@out.wav", "--plugin", BAD_MAGIC_PLUGIN}, "wrong magic number", 1},
    {"plug-in output not a number, float output", {"@long.wav", "@out.wav", "--plugin", ANALYSIS_NONFINITE_PLUGIN},
     "out.wav: the plug-in's output is not a number (NaN or infinity) from frame 1000, channel 1; nothing written", 1},
    {"plug-in output not a number, 16-bit output",
     {"@long.wav", "@out.wav", "--plugin", ANALYSIS_NONFINITE_PLUGIN, "--format", "pcm16"},
     "from frame 1000, channel 1; nothing written", 1},
    // A FIFO stands for every device: as root, a test on /dev/null would
    // replace it were the check ever lost.
    {"output is a FIFO", {"@in.wav", "@fifo"}, "fifo, which is not a regular file", 1},
    {"output is a link to a FIFO", {"@in.wav", "@to-fifo"}, "to-fifo leads to ", 1},
    {"output name longer than the folder takes, found before rendering",
     {"@in.wav", "@" + std::string(252, 'n') + ".wav"},
     "bytes long; the folder takes names of at most 255", 1},
    {"side-chain missing", {"@in.wav", "@out.wav", "--sidechain", "@nosuch.wav"}, "--sidechain /", 1},
    {"failure keeps an existing output", {"@in.wav", "@keep.wav", "--set", "Drive=1"}, "has no parameter Drive", 2},
};

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        const auto signal = e2e::testSignal;
        e2e::writeSound(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 1000, signal);
        e2e::writeSound(dir / "long.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 3000, signal);
        e2e::writeSound(dir / "mono.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, 1000, signal);
        e2e::writeSound(dir / "in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 1000, signal);
        e2e::writeSound(dir / "three.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 44100, 1000, signal);
        e2e::writeSound(dir / "noframes.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 0, signal);
        e2e::writeBytes(dir / "garbage.wav", "RIFX this is not a sound file, just some bytes\n");
        e2e::writeBytes(dir / "empty.wav", "");
        e2e::writeBytes(dir / "keep.wav", "an earlier render");
        std::filesystem::create_directory(dir / "folder");
        ::mkfifo((dir / "fifo").c_str(), 0644);
        std::filesystem::create_symlink("fifo", dir / "to-fifo");
    }

    std::vector<std::string> expand(const std::vector<std::string>& args) const {
        std::vector<std::string> result{"render"};
        for (const std::string& arg : args) result.push_back(arg[0] == '@' ? dir / arg.substr(1) : arg);
        return result;
    }

    e2e::ScratchDir dir;
};

TEST_F(BadInput, EachGetsItsMessageItsStatusAndNoOutput) {
    const auto before = dir.snapshot();
    for (const BadRender& bad : kBadRenders) {
        SCOPED_TRACE(bad.what);
        e2e::expectRefusal(e2e::runHost(expand(bad.args)), bad.message, bad.status);
        // Nothing written, nothing half-written, nothing replaced.
        EXPECT_TRUE(dir.snapshot() == before) << "the scratch folder changed";
    }
}

TEST_F(BadInput, UnreadableInput) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    ::chmod((dir / "in.wav").c_str(), 0);
    const auto run = e2e::runHost(expand({"@in.wav", "@out.wav"}));
    ::chmod((dir / "in.wav").c_str(), 0644);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("in.wav: cannot read it (Permission denied)"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

}  // namespace
