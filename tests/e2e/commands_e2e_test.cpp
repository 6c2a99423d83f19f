// varkel-host info, bench, demo and the command line around them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

using e2e::runHost;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The blank-separated words of the first line that starts with prefix.
std::vector<std::string> wordsOfLine(const std::string& text, const std::string& prefix) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::istringstream stream(line);
        std::vector<std::string> words;
        for (std::string word; stream >> word;) words.push_back(word);
        return words;
    }
    return {};
}

using Words = std::vector<std::string>;

TEST(Info, ShowsVarkelsIdentity) {
    const auto run = runHost({"info"});  // the default plug-in is Varkel
    ASSERT_EQ(run.status, 0) << run.err;
    // 'V' 'r' 'k' 'l' = 0x56 0x72 0x6B 0x6C, most significant first.
    for (const char* line : {"Name        Varkel\n", "Vendor      Ostrelvane\n",
                             "Product     Brox Varkel\n", "Unique ID   'Vrkl' (1450339180)\n",
                             "Channels    2 in, 2 out\n", "Programs    1, current 0\n  0  Default\n",
                             "Parameters  3\n", "canReplacing, canDoubleReplacing"})
        EXPECT_TRUE(contains(run.out, line)) << line << " in\n" << run.out;
    EXPECT_EQ(wordsOfLine(run.out, "  1 "), (Words{"1", "LPCutOff", "1.000000", "12000", "Hz"}))
        << run.out;
}

TEST(Info, JsonCarriesTheSameFacts) {
    const auto run = runHost({"info", "--json", "--plugin", VARKEL_MODULE_PATH});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* field : {R"("name": "Varkel")", R"("vendor": "Ostrelvane")",
                              R"("vendorVersion": 1000)",
                              R"("uniqueId": {"text": "Vrkl", "number": 1450339180})",
                              R"("inputs": 2)", R"("outputs": 2)", R"("names": ["Default"])",
                              R"({"index": 1, "name": "LPCutOff", "label": "Hz", "value": 1, "display": "12000"})"})
        EXPECT_TRUE(contains(run.out, field)) << field << " in\n" << run.out;
}

TEST(Info, DescribesAPluginThatIsNotVarkel) {
    const auto run = runHost({"info", "--plugin", LEVEL_PLUGIN});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* line : {"Name        Level Fixture\n", "Unique ID   'LvlF'",
                             "Channels    1 in, 1 out\n", "Flags       0x10 (canReplacing)\n"})
        EXPECT_TRUE(contains(run.out, line)) << line << " in\n" << run.out;
    // The fixture has no value texts.
    EXPECT_EQ(wordsOfLine(run.out, "  0 "), (Words{"0", "Level", "0.500000", "x"})) << run.out;
}

TEST(Info, BrokenModulesFailWithOneLine) {
    for (const char* module : {NO_ENTRY_PLUGIN, NULL_ENTRY_PLUGIN, BAD_MAGIC_PLUGIN}) {
        SCOPED_TRACE(module);
        const auto run = runHost({"info", "--plugin", module});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST(Bench, ReportsCostPerChannelSampleAndRealtimeFactor) {
    for (const char* precision : {"32", "64"}) {
        SCOPED_TRACE(precision);
        const auto run = runHost({"bench", "--seconds", "0.5", "--block", "128", "--precision", precision});
        ASSERT_EQ(run.status, 0) << run.err;
        double seconds = 0.0;
        double nanoseconds = 0.0;
        double speed = 0.0;
        const auto line = run.out.substr(run.out.find('\n') + 1);
        ASSERT_EQ(std::sscanf(line.c_str(),
                              "0.500 s of signal in %lf s: %lf ns per channel-sample, %lfx realtime",
                              &seconds, &nanoseconds, &speed), 3)
            << run.out;
        // The three numbers are one measurement: 22050 frames times 2 channels.
        EXPECT_NEAR(nanoseconds, seconds * 1e9 / 44100.0, nanoseconds * 0.01 + 0.01);
        EXPECT_NEAR(speed, 0.5 / seconds, speed * 0.01 + 0.1);
    }
}

TEST(Bench, RejectsBadArguments) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"bench", "--seconds", "0"}, {"bench", "--seconds", "soon"}, {"bench", "--block", "0"}}) {
        const auto run = runHost(args);
        EXPECT_EQ(run.status, 2) << args[1];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST(Demo, WritesTheSourceAndThreeRendersThatRenderReproduces) {
    e2e::ScratchDir dir;
    const std::string folder = dir / "demo";  // made by the demo
    const auto run = runHost({"demo", "--out", folder});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 4) << run.out;

    const e2e::Sound source = e2e::readSound(folder + "/source.wav");
    EXPECT_EQ(source.info.channels, 2);
    EXPECT_EQ(source.info.samplerate, 44100);
    EXPECT_GE(source.info.frames, 10 * 44100);

    // Each demo render is what render gives with the settings it names.
    const std::vector<std::pair<const char*, std::vector<std::string>>> renders = {
        {"varkel-default.wav", {}},
        {"varkel-pregain-1.0.wav", {"--set", "PreGain=1"}},
        {"varkel-lpcutoff-0.3.wav", {"--set", "LPCutOff=0.3"}},
    };
    std::vector<std::string> seen;
    for (const auto& [file, settings] : renders) {
        SCOPED_TRACE(file);
        std::vector<std::string> args{"render", folder + "/source.wav", dir / "again.wav"};
        args.insert(args.end(), settings.begin(), settings.end());
        ASSERT_EQ(runHost(args).status, 0);
        const std::string bytes = e2e::fileBytes(folder + "/" + file);
        EXPECT_TRUE(bytes == e2e::fileBytes(dir / "again.wav")) << "differs from render";
        EXPECT_TRUE(contains(run.out, folder + "/" + file + ": ")) << run.out;
        EXPECT_TRUE(std::find(seen.begin(), seen.end(), bytes) == seen.end()) << "same as another render";
        seen.push_back(bytes);
    }
}

TEST(Demo, FailsCleanlyWhenTheFolderCannotBeMade) {
    e2e::ScratchDir dir;
    e2e::writeBytes(dir / "file", "x");
    const auto run = runHost({"demo", "--out", dir / "file"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "cannot create the folder")) << run.err;
}

TEST(CommandLine, HelpAndMistakes) {
    const auto help = runHost({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "varkel-host render IN OUT"));
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"play"}, {"info", "--fast"}, {"info", "extra"}}) {
        const auto run = runHost(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

}  // namespace
