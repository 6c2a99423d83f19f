// varkel-host info, list, bench, demo and the command line around them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
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
    for (const char* line :
         {"Name        Varkel\n", "Vendor      Ostrelvane\n", "Product     Brox Varkel\n",
          "Unique ID   'Vrkl' (1450339180)\n", "Channels    2 in, 2 out\n",
          "Programs    1, current 0\n  0  Default\n", "Parameters  3\n",
          "canReplacing, canDoubleReplacing"})
        EXPECT_TRUE(contains(run.out, line)) << line << " in\n" << run.out;
    EXPECT_EQ(wordsOfLine(run.out, "  1 "), (Words{"1", "LPCutOff", "1.000000", "12000", "Hz"}))
        << run.out;
}

struct JsonCase {
    const char* module;
    const char* name;
    const char* uniqueId;
    int inputs;
    int flags;
    std::vector<std::string> flagNames;
    nlohmann::json lastParameter;
};

TEST(Info, JsonParsesBackWithTheSameFacts) {
    // Flag bits: canReplacing is bit 4 (16), canDoubleReplacing bit 12 (4096).
    const JsonCase cases[] = {
        {VARKEL_MODULE_PATH,
         "Varkel",
         "Vrkl",
         2,
         16 + 4096,
         {"canReplacing", "canDoubleReplacing"},
         {{"index", 2}, {"name", "PostGain"}, {"label", "dB"}}},
        {LEVEL_PLUGIN,
         "Level Fixture",
         "LvlF",
         1,
         16,
         {"canReplacing"},
         {{"index", 0}, {"name", "Level"}, {"label", "x"}, {"value", 0.5}, {"display", ""}}},
        // Each byte of a sequence that is not UTF-8 becomes '?'; the e acute stays.
        {BAD_TEXT_PLUGIN,
         "Bad?? Text ??? ???? \u00e9",
         "BdTx",
         1,
         16,
         {"canReplacing"},
         {{"index", 0}, {"name", "Gain"}}},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = runHost({"info", "--json", "--plugin", c.module});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto info = nlohmann::json::parse(run.out);  // throws on anything but JSON
        EXPECT_EQ(info["module"], c.module);
        EXPECT_EQ(info["name"], c.name);
        const auto text = runHost({"info", "--plugin", c.module});
        EXPECT_TRUE(contains(text.out, "Name        " + std::string(c.name) + "\n")) << text.out;
        EXPECT_EQ(info["uniqueId"]["text"], c.uniqueId);
        EXPECT_EQ(info["inputs"], c.inputs);
        EXPECT_EQ(info["outputs"], c.inputs);
        EXPECT_EQ(info["flags"]["value"], c.flags);
        EXPECT_EQ(info["flags"]["names"], nlohmann::json(c.flagNames));
        const auto& last = info["parameters"].back();
        for (const auto& [key, value] : c.lastParameter.items()) {
            SCOPED_TRACE(key);
            if (value.is_number_float())
                EXPECT_NEAR(last[key].get<double>(), value.get<double>(), 1e-7);
            else
                EXPECT_EQ(last[key], value);
        }
    }
}

TEST(Info, JsonCarriesVarkelsIdentity) {
    const auto run = runHost({"info", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["vendor"], "Ostrelvane");
    EXPECT_EQ(info["vendorVersion"], 1000);
    EXPECT_EQ(info["uniqueId"]["number"], 1450339180);  // 0x56726B6C, "Vrkl"
    EXPECT_EQ(info["programs"],
              nlohmann::json::parse(R"({"count": 1, "current": 0, "names": ["Default"]})"));
    EXPECT_EQ(info["parameters"].size(), 3u);
    EXPECT_EQ(
        info["parameters"][1],
        nlohmann::json::parse(
            R"({"index": 1, "name": "LPCutOff", "label": "Hz", "value": 1, "display": "12000"})"));
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

// VST_PATH and LV2_PATH for a listing of just these folders.
std::vector<std::string> searchPaths(const std::string& vst, const std::string& lv2) {
    return {"VST_PATH=" + vst, "LV2_PATH=" + lv2};
}

// varkel-host list --json of just these folders.
nlohmann::json listed(const std::string& vst, const std::string& lv2) {
    const auto run = e2e::runProgram(VARKEL_HOST_BINARY, {"list", "--json"}, searchPaths(vst, lv2));
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out);
}

// The entry whose key has the value; null when none has.
nlohmann::json entryWith(const nlohmann::json& list, const char* key, const std::string& value) {
    for (const auto& entry : list)
        if (entry[key] == value) return entry;
    return nullptr;
}

struct ListedModule {
    const char* module;     // copied in; null for a text file
    const char* subfolder;  // where it lies below the folder on VST_PATH
    const char* name;
    const char* uniqueId;  // null for a module that failed
    const char* failure;   // part of the reason, null when it loaded
};

TEST(List, ModulesThatCrashOrHangAreListedAsFailedAndTheRestStill) {
    const ListedModule modules[] = {
        {CRASH_PLUGIN, "", "crash_plugin", nullptr, "crashed (signal 6)"},
        {HANG_PLUGIN, "", "hang_plugin", nullptr, "timed out after 5 s"},
        {NO_ENTRY_PLUGIN, "", "no_entry_plugin", nullptr, "no VST 2.4 entry point"},
        {nullptr, "vendor/", "text", nullptr, "cannot load: "},
        {LEVEL_PLUGIN, "vendor/deeper/", "Level Fixture", "LvlF", nullptr},
    };
    const auto fileName = [](const ListedModule& m) {
        return m.subfolder + (m.module != nullptr
                                  ? std::filesystem::path(m.module).filename().string()
                                  : std::string("text.so"));
    };
    e2e::ScratchDir vst;
    e2e::ScratchDir lv2;
    std::filesystem::create_directories(vst / "vendor/deeper");
    for (const ListedModule& m : modules) {
        if (m.module != nullptr)
            std::filesystem::copy_file(m.module, vst / fileName(m));
        else
            e2e::writeBytes(vst / fileName(m), std::string(4096, 'x'));
    }

    const auto started = std::chrono::steady_clock::now();
    const auto list = listed(vst.path(), lv2.path());
    // The hang costs its 5 s once, while the others load beside it.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    ASSERT_EQ(list.size(), std::size(modules)) << list;
    for (const ListedModule& m : modules) {
        SCOPED_TRACE(m.name);
        const auto entry = entryWith(list, "name", m.name);
        ASSERT_FALSE(entry.is_null()) << list;
        EXPECT_EQ(entry["format"], "VST 2.4");
        EXPECT_EQ(entry["path"], vst / fileName(m));
        if (m.failure != nullptr) {
            // The reason does not name the file again.
            const std::string failure = entry["failure"].get<std::string>();
            EXPECT_TRUE(contains(failure, m.failure) && !contains(failure, "/")) << entry;
        } else {
            EXPECT_TRUE(entry["failure"].is_null()) << entry;
            EXPECT_EQ(entry["uniqueId"]["text"], m.uniqueId);
            EXPECT_EQ(entry["inputs"], 1);
        }
    }
}

TEST(List, TextIsAlignedAndEndsWithTheCount) {
    e2e::ScratchDir vst;
    for (const char* module : {LEVEL_PLUGIN, CRASH_PLUGIN, VARKEL_MODULE_PATH})
        std::filesystem::copy_file(module, vst / std::filesystem::path(module).filename().string());
    const auto run =
        e2e::runProgram(VARKEL_HOST_BINARY, {"list"}, searchPaths(vst.path(), VARKEL_LV2_PATH));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines;
    std::istringstream stream(run.out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    EXPECT_EQ(lines[0], "VST 2.4");
    EXPECT_EQ(lines[4], "LV2");
    EXPECT_EQ(lines[6], "4 plug-ins: 3 VST 2.4, 1 LV2; 1 failed");
    const std::string folder = vst.path() + "/";
    EXPECT_EQ(wordsOfLine(run.out, "  crash_plugin"),
              (Words{"crash_plugin", "-", "-", folder + "crash_plugin.so", "failed:", "crashed",
                     "(signal", "6)"}))
        << run.out;
    EXPECT_EQ(wordsOfLine(run.out, "  Level Fixture"),
              (Words{"Level", "Fixture", "'LvlF'", "(1282829382)", "1", "in,", "1", "out",
                     folder + "level_plugin.so"}))
        << run.out;
    EXPECT_EQ(wordsOfLine(lines[5], "  Varkel"),
              (Words{"Varkel", "urn:ostrelvane:varkel", "2", "in,", "2", "out",
                     std::string(VARKEL_LV2_PATH) + "/Varkel.lv2/"}))
        << run.out;
    // Every row's path starts in one column.
    for (int row : {1, 2, 3, 5})
        EXPECT_EQ(lines[static_cast<std::size_t>(row)].find("  /"), lines[1].find("  /"))
            << run.out;
}

TEST(List, Lv2PluginsComeFromTheirDescriptions) {
    struct Lv2Case {
        const char* uri;
        const char* name;
        int inputs;
        int outputs;
        const char* bundle;
    };
    const Lv2Case cases[] = {
        {"urn:ostrelvane:varkel", "Varkel", 2, 2, "/Varkel.lv2/"},
        {"urn:varkel:test:delay", "Varkel test delay", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:sidechain-gate", "Varkel test side-chain gate", 3, 2,
         "/varkel-test.lv2/"},
        {"urn:varkel:test:needs-map", "Varkel test needs map", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:needs-unknown", "Varkel test needs unknown", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:worker-meter", "Varkel test worker meter", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:ranges", "Varkel test ranges", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:keyed-by-label", "Varkel test keyed by label", 4, 2,
         "/varkel-test.lv2/"},
        {"urn:varkel:test:state-gain", "Varkel test state gain", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:slow-start", "Varkel test slow start", 2, 2, "/varkel-test.lv2/"},
        {"urn:varkel:test:sine-instrument", "Varkel test sine instrument", 0, 2,
         "/varkel-test.lv2/"},
    };
    e2e::ScratchDir noVst;
    const auto list =
        listed(noVst.path(), std::string(VARKEL_LV2_PATH) + ":" + VARKEL_TEST_LV2_PATH);
    ASSERT_EQ(list.size(), std::size(cases)) << list;
    for (const Lv2Case& c : cases) {
        SCOPED_TRACE(c.uri);
        const auto entry = entryWith(list, "uri", c.uri);
        ASSERT_FALSE(entry.is_null()) << list;
        EXPECT_EQ(entry["format"], "LV2");
        EXPECT_EQ(entry["name"], c.name);
        EXPECT_EQ(entry["inputs"], c.inputs);
        EXPECT_EQ(entry["outputs"], c.outputs);
        EXPECT_TRUE(entry["failure"].is_null()) << entry;
        EXPECT_TRUE(entry["path"].get<std::string>().ends_with(c.bundle)) << entry;
    }
}

TEST(Bench, ReportsCostPerChannelSampleAndRealtimeFactor) {
    for (const char* precision : {"32", "64"}) {
        SCOPED_TRACE(precision);
        const auto run =
            runHost({"bench", "--seconds", "0.5", "--block", "128", "--precision", precision});
        ASSERT_EQ(run.status, 0) << run.err;
        double seconds = 0.0;
        double nanoseconds = 0.0;
        double speed = 0.0;
        const auto line = run.out.substr(run.out.find('\n') + 1);
        ASSERT_EQ(
            std::sscanf(line.c_str(),
                        "0.500 s of signal in %lf s: %lf ns per channel-sample, %lfx realtime",
                        &seconds, &nanoseconds, &speed),
            3)
            << run.out;
        // The three numbers are one measurement: 22050 frames times 2 channels.
        EXPECT_NEAR(nanoseconds, seconds * 1e9 / 44100.0, nanoseconds * 0.01 + 0.01);
        EXPECT_NEAR(speed, 0.5 / seconds, speed * 0.01 + 0.1);
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
        EXPECT_TRUE(std::find(seen.begin(), seen.end(), bytes) == seen.end())
            << "same as another render";
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

struct HelpCase {
    std::vector<std::string> args;
    const char* shows;
};

TEST(CommandLine, HelpGoesToStandardOutput) {
    const HelpCase cases[] = {
        {{"--help"}, "Commands:\n  demo "},
        {{"help"}, "Run varkel-host COMMAND --help"},
        {{"render", "--help"}, "Usage: varkel-host render [OPTIONS] FILES...\n"},
        {{"render", "--help"}, "--out-dir DIR"},
        {{"render", "in.wav", "-h"}, "--format float|pcm24|pcm16"},
        {{"bench", "-h"}, "--seconds S"},
        {{"info", "--json", "--help"}, "--json"},
        {{"list", "--help"}, "Usage: varkel-host list [OPTIONS]\n"},
        {{"--help"}, "  list "},
        {{"demo", "--help"}, "--out DIR"},
    };
    for (const HelpCase& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const auto run = runHost(c.args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(contains(run.out, c.shows)) << run.out;
    }
}

struct Mistake {
    std::vector<std::string> args;
    const char* named;  // in the message
    int status;
};

TEST(CommandLine, EachMistakeIsOneLineNamingTheArgument) {
    const Mistake mistakes[] = {
        {{}, "no command given", 2},
        {{"play"}, "unknown command 'play'", 2},
        {{"--fast"}, "unknown command '--fast'", 2},
        {{"info", "--fast"}, "--fast", 2},
        {{"info", "extra"}, "extra", 2},
        {{"list", "extra"}, "extra", 2},
        {{"list", "--plugin", "x.so"}, "--plugin", 2},
        {{"render", "in.wav"}, "OUT", 2},
        {{"render", "in.wav", "out.wav", "--unknown"}, "--unknown", 2},
        {{"render", "in.wav", "out.wav", "--set"}, "--set", 2},
        {{"render", "in.wav", "out.wav", "--set", "PreGain"}, "--set", 2},
        {{"render", "in.wav", "out.wav", "--format", "2"}, "--format", 2},
        {{"render", "in.wav", "out.wav", "one", "two"}, "not expected: one two", 2},
        {{"bench", "--block"}, "--block", 2},
        {{"bench", "--block", "0"}, "--block", 2},
        {{"bench", "--block", "65537"}, "--block", 2},
        {{"bench", "--block", "0x10"}, "--block", 2},
        {{"bench", "--seconds", "0"}, "--seconds", 2},
        {{"bench", "--seconds", "soon"}, "--seconds", 2},
        {{"bench", "--seconds", "nan"}, "--seconds", 2},
        {{"bench", "--precision", "1"}, "--precision", 2},
        {{"demo", "--out"}, "--out", 2},
        {{"demo", "--out", ""}, "--out", 2},
        // "--" ends the options: what follows is a file name, or one too many.
        {{"render", "--", "-h", "out.wav"}, "-h: no such file", 1},
        {{"render", "in.wav", "out.wav", "--", "-h"}, "-h", 2},
        {{"info", "--", "-h"}, "-h", 2},
        {{"info", "--", "--help"}, "--help", 2},
    };
    for (const Mistake& m : mistakes) {
        std::string line;
        for (const std::string& arg : m.args) line += arg + " ";
        SCOPED_TRACE(line);
        const auto run = runHost(m.args);
        EXPECT_EQ(run.status, m.status);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.err.starts_with("varkel-host: ")) << run.err;
        EXPECT_TRUE(contains(run.err, m.named)) << run.err;
    }
}

}  // namespace
