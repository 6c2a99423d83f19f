// Saved plug-in states end to end: .fxp and .fxb files this test writes
// byte by byte from their published layout, loaded by render, refused when
// damaged, and saved again by the state command.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace state_test {

using e2e::readSound;
using e2e::runHost;

constexpr std::int64_t kFrames = 1000;

// Big-endian fields, as the files hold them.
std::string be32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}
std::string beFloat(float value) { return be32(std::bit_cast<std::uint32_t>(value)); }
std::string padded(const std::string& text, std::size_t size) {
    std::string field = text;
    field.resize(size, '\0');
    return field;
}
// 'CcnK', then byteSize: the bytes after it.
std::string container(const std::string& body) { return "CcnK" + be32(body.size()) + body; }

struct Identity {
    std::string id = "ChkF";
    std::uint32_t version = 1;
};

std::string fxp(const Identity& who, const std::vector<float>& values, const std::string& name) {
    std::string body = "FxCk" + be32(1) + who.id + be32(who.version) + be32(values.size()) +
                       padded(name, 28);
    for (const float value : values) body += beFloat(value);
    return container(body);
}
std::string fxpChunk(const Identity& who, const std::string& chunk, const std::string& name) {
    return container("FPCh" + be32(1) + who.id + be32(who.version) + be32(1) + padded(name, 28) +
                     be32(chunk.size()) + chunk);
}
std::string fxb(const Identity& who, const std::vector<std::string>& programs) {
    std::string body = "FxBk" + be32(1) + who.id + be32(who.version) + be32(programs.size()) +
                       std::string(128, '\0');
    for (const std::string& program : programs) body += program;
    return container(body);
}
std::string fxbChunk(const Identity& who, const std::string& chunk, std::uint32_t current) {
    return container("FBCh" + be32(2) + who.id + be32(who.version) + be32(2) + be32(current) +
                     std::string(124, '\0') + be32(chunk.size()) + chunk);
}
// The fixture's own chunk: its tag and the gain, in the machine's order.
std::string gainChunk(const char* tag, float gain) {
    std::string chunk(tag, 4);
    chunk.append(reinterpret_cast<const char*>(&gain), 4);
    return chunk;
}

class State : public ::testing::Test {
protected:
    State() { e2e::writeSound(in, e2e::kWavFloat, 1, 48000, kFrames, e2e::testSignal); }

    std::string file(const std::string& name, const std::string& bytes) {
        e2e::writeBytes(dir / name, bytes);
        return dir / name;
    }
    // Renders through the chunk fixture and returns the output's gain over
    // the input, checked to be one gain for every frame.
    float gainOf(std::vector<std::string> options) {
        const std::string out = dir / "out.wav";
        std::vector<std::string> args = {"render", in, out, "--plugin", CHUNK_PLUGIN};
        args.insert(args.end(), options.begin(), options.end());
        const auto run = runHost(args);
        EXPECT_EQ(run.status, 0) << run.err;
        if (run.status != 0) return -1.0f;
        const e2e::Sound input = readSound(in);
        const e2e::Sound output = readSound(out);
        const float gain = output.at(1, 0) / input.at(1, 0);
        for (std::int64_t i = 0; i < kFrames; ++i)
            EXPECT_FLOAT_EQ(output.at(i, 0), input.at(i, 0) * gain) << i;
        return gain;
    }

    e2e::ScratchDir dir;
    const std::string in = dir / "in.wav";
};

struct FormCase {
    const char* name;
    std::string bytes;
    float gain;
};

// Each form sets what it holds: the parameter list the Level, a chunk its
// gain (the program's and the bank's each by its own index), a bank its
// programs.
TEST_F(State, EachFileFormRendersWithWhatItHolds) {
    const Identity chunkFixture;
    const FormCase cases[] = {
        {"program.fxp", fxp(chunkFixture, {0.25f}, "Init"), 0.25f},
        {"chunk.fxp", fxpChunk(chunkFixture, gainChunk("PROG", 3.0f), "Init"), 0.5f * 3.0f},
        {"bank.fxb",
         fxb(chunkFixture, {fxp(chunkFixture, {0.75f}, "A"), fxp(chunkFixture, {0.2f}, "B")}),
         0.75f},
        {"chunk.fxb", fxbChunk(chunkFixture, gainChunk("BANK", 0.5f), 1), 0.1f * 0.5f},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(gainOf({"--state", file(c.name, c.bytes)}), c.gain);
    }
}

// The state first, then the preset, then the settings: a program's values
// replace the state's, a setting both.
TEST_F(State, PresetAndSettingsApplyAfterTheState) {
    const Identity chunkFixture;
    const std::string level = file("level.fxp", fxp(chunkFixture, {0.25f}, "Init"));
    const std::string gain = file("gain.fxp", fxpChunk(chunkFixture, gainChunk("PROG", 2.0f), ""));
    EXPECT_FLOAT_EQ(gainOf({"--state", level, "--preset", "Quiet"}), 0.1f);
    EXPECT_FLOAT_EQ(gainOf({"--preset", "Quiet", "--state", level}), 0.1f);
    EXPECT_FLOAT_EQ(gainOf({"--state", level, "--set", "Level=0.3"}), 0.3f);
    EXPECT_FLOAT_EQ(gainOf({"--state", gain, "--preset", "Quiet", "--set", "Level=0.3"}),
                    0.3f * 2.0f);
}

struct RefusalCase {
    const char* name;
    std::string bytes;
    const char* message;
};

TEST_F(State, DamagedOrForeignFilesAreRefusedWithOneLine) {
    const Identity chunkFixture;
    const std::string program = fxp(chunkFixture, {0.25f}, "Init");
    std::string oversized = program;
    oversized.replace(4, 4, be32(300u << 20));
    std::string longer = program + "xx";
    std::string chunk = fxpChunk(chunkFixture, gainChunk("PROG", 2.0f), "");
    std::string shortChunk = chunk;
    shortChunk.replace(56, 4, be32(7));
    std::string wrongMagic = program;
    wrongMagic.replace(8, 4, "FxZz");
    const RefusalCase cases[] = {
        {"other.fxp", fxp({"Othr", 1}, {0.25f}, ""), "'Othr', not Chunk Fixture (ID 'ChkF')"},
        {"truncated.fxp", program.substr(0, program.size() - 1), "cut short"},
        {"header.fxp", program.substr(0, 20), "cut short"},
        {"oversized.fxp", oversized, "256 MiB"},
        {"longer.fxp", longer, "byteSize says 52 bytes follow, but 54 do"},
        {"chunk.fxp", shortChunk, "chunkSize says 7 bytes follow, but 8 do"},
        {"magic.fxp", wrongMagic, "'FxZz'"},
        {"container.fxp", "RIFF" + program.substr(4), "not a VST 2.4 program or bank"},
        {"newer.fxp", fxp({"ChkF", 2}, {0.25f}, ""), "Chunk Fixture refuses it"},
        {"newer.fxb", fxb({"ChkF", 2}, {}), "Chunk Fixture refuses it"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = runHost({"render", in, dir / "out.wav", "--plugin", CHUNK_PLUGIN,
                                  "--state", file(c.name, c.bytes)});
        e2e::expectRefusal(run, "--state " + dir / c.name + ": ", 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

// What the state command saves is the layout the files above were written
// from, and renders as the state it was made from.
TEST_F(State, SavedStatesAreTheDocumentedLayoutAndRoundTrip) {
    const Identity chunkFixture;
    const std::string original =
        file("in.fxp", fxpChunk(chunkFixture, gainChunk("PROG", 3.0f), "Init"));
    const auto saved = runHost({"state", "--plugin", CHUNK_PLUGIN, "--state", original, "--save",
                                dir / "saved.fxp"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(e2e::fileBytes(dir / "saved.fxp"), e2e::fileBytes(original));
    EXPECT_FLOAT_EQ(gainOf({"--state", dir / "saved.fxp"}), 1.5f);

    const auto bank = runHost({"state", "--plugin", CHUNK_PLUGIN, "--state", original, "--preset",
                               "Quiet", "--save", dir / "saved.fxb"});
    ASSERT_EQ(bank.status, 0) << bank.err;
    EXPECT_EQ(e2e::fileBytes(dir / "saved.fxb"), fxbChunk(chunkFixture, gainChunk("BANK", 3.0f), 1));
    EXPECT_FLOAT_EQ(gainOf({"--state", dir / "saved.fxb"}), 0.1f * 3.0f);

    // A plug-in of parameters only: its bank is every program's values.
    const auto levels = runHost({"state", "--plugin", LEVEL_PLUGIN, "--set", "Level=0.125",
                                 "--save", dir / "level.fxb"});
    ASSERT_EQ(levels.status, 0) << levels.err;
    const Identity levelFixture{"LvlF", 1};
    EXPECT_EQ(e2e::fileBytes(dir / "level.fxb"),
              container("FxBk" + be32(2) + "LvlF" + be32(1) + be32(1) + be32(0) +
                        std::string(124, '\0') + fxp(levelFixture, {0.125f}, "")));
    const auto odd = runHost({"state", "--plugin", CHUNK_PLUGIN, "--save", dir / "state.txt"});
    e2e::expectRefusal(odd, ".fxp (a program) or .fxb (a bank)", 2);
}

// Varkel keeps its three parameters as its only state: a program of them
// renders exactly as the same values given with --set.
TEST_F(State, VarkelsProgramRendersAsItsSettings) {
    const auto info = runHost({"info", "--json"});
    ASSERT_EQ(info.status, 0);
    const auto id = nlohmann::json::parse(info.out)["uniqueId"]["number"].get<std::int32_t>();
    const Identity varkel{be32(static_cast<std::uint32_t>(id)), 1};
    const std::string program = file("varkel.fxp", fxp(varkel, {0.8f, 0.35f, 0.6f}, "Warm"));
    e2e::writeSound(dir / "stereo.wav", e2e::kWavFloat, 2, 48000, 4000, e2e::testSignal);
    const auto fromState = runHost({"render", dir / "stereo.wav", dir / "state.wav", "--state",
                                    program});
    const auto fromSet = runHost({"render", dir / "stereo.wav", dir / "set.wav", "--set", "0=0.8",
                                  "--set", "1=0.35", "--set", "2=0.6"});
    ASSERT_EQ(fromState.status, 0) << fromState.err;
    ASSERT_EQ(fromSet.status, 0) << fromSet.err;
    EXPECT_EQ(e2e::fileBytes(dir / "state.wav"), e2e::fileBytes(dir / "set.wav"));
    const auto defaults = runHost({"render", dir / "stereo.wav", dir / "plain.wav"});
    EXPECT_NE(e2e::fileBytes(dir / "plain.wav"), e2e::fileBytes(dir / "set.wav"));
}

// Each command that takes --state loads it before it measures or renders,
// and words a bad one alike.
TEST_F(State, EveryCommandLoadsTheStateAndRefusesABadOneAlike) {
    const std::string bad = file("bad.fxp", fxp({"Othr", 1}, {0.25f}, ""));
    const std::string missing = dir / "missing.fxp";
    const std::vector<std::vector<std::string>> commands = {
        {"render", in, dir / "out.wav"},
        {"render", in, "--out-dir", dir / "batch"},
        {"analyze", "--what", "response", "--out", dir / "analysis", "--quiet"},
        {"bench", "--seconds", "0.1"},
        {"state", "--save", dir / "saved.fxp"},
    };
    for (const std::vector<std::string>& command : commands) {
        SCOPED_TRACE(command.front());
        std::vector<std::string> args = command;
        args.insert(args.end(), {"--plugin", CHUNK_PLUGIN, "--state"});
        args.push_back(bad);
        e2e::expectRefusal(runHost(args), "varkel-host: --state " + bad + ": made for", 1);
        args.back() = missing;
        e2e::expectRefusal(runHost(args), "varkel-host: --state " + missing + ": no such file", 1);
    }
}

TEST_F(State, InfoSaysHowThePluginKeepsItsState) {
    const auto chunks = runHost({"info", "--plugin", CHUNK_PLUGIN});
    EXPECT_NE(chunks.out.find("State       chunks\n"), std::string::npos) << chunks.out;
    const auto parameters = runHost({"info", "--plugin", LEVEL_PLUGIN, "--json"});
    EXPECT_NE(parameters.out.find("\"state\": \"parameters only\""), std::string::npos)
        << parameters.out;
}


// Saved by one process and loaded by another, the state renders the same
// bytes; the file it names travels inside the bundle, so the original may go.
TEST(Lv2State, SavedBundleLoadsInAFreshProcessWithItsFileCopied) {
    namespace fs = std::filesystem;
    e2e::ScratchDir dir;
    const auto host = [](const std::vector<std::string>& args) {
        return e2e::runProgram(VARKEL_HOST_BINARY, args,
                               {std::string("LV2_PATH=") + VARKEL_TEST_LV2_PATH});
    };
    const std::string plugin = "urn:varkel:test:state-gain";
    e2e::writeSound(dir / "in.wav", e2e::kWavFloat, 2, 48000, kFrames, e2e::testSignal);
    e2e::writeBytes(dir / "factor.txt", "0.5\n");
    std::filesystem::copy_file(STATE_GAIN_STATE, dir / "hand.ttl");
    const auto render = [&](const std::string& out, const std::vector<std::string>& options) {
        std::vector<std::string> args = {"render", dir / "in.wav", dir / out, "--plugin", plugin};
        args.insert(args.end(), options.begin(), options.end());
        const auto run = host(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return readSound(dir / out);
    };
    const e2e::Sound input = readSound(dir / "in.wav");
    const e2e::Sound fromHand = render("hand.wav", {"--state", dir / "hand.ttl"});
    for (std::int64_t i = 0; i < kFrames; i += 97)
        EXPECT_FLOAT_EQ(fromHand.at(i, 1), input.at(i, 1) * 0.75f * 0.25f * 0.5f) << i;

    const auto saved = host({"state", "--plugin", plugin, "--state", dir / "hand.ttl", "--save",
                             dir / "saved.lv2"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_FALSE(fs::is_symlink(dir / "saved.lv2/factor.txt"));
    EXPECT_EQ(e2e::fileBytes(dir / "saved.lv2/factor.txt"), "0.5\n");
    fs::remove(dir / "factor.txt");
    render("bundle.wav", {"--state", dir / "saved.lv2"});
    EXPECT_EQ(e2e::fileBytes(dir / "bundle.wav"), e2e::fileBytes(dir / "hand.wav"));
    render("ttl.wav", {"--state", dir / "saved.lv2/state.ttl"});
    EXPECT_EQ(e2e::fileBytes(dir / "ttl.wav"), e2e::fileBytes(dir / "hand.wav"));
    // The settings still apply after it.
    const e2e::Sound louder = render("set.wav", {"--state", dir / "saved.lv2", "--set", "level=1.5"});
    EXPECT_FLOAT_EQ(louder.at(100, 0), input.at(100, 0) * 1.5f * 0.25f * 0.5f);

    const auto other = host({"render", dir / "in.wav", dir / "x.wav", "--plugin",
                             "urn:varkel:test:delay", "--state", dir / "saved.lv2"});
    e2e::expectRefusal(other, "the state of urn:varkel:test:state-gain, not of", 1);
    const auto info = host({"info", "--plugin", plugin});
    EXPECT_NE(info.out.find("State       LV2 state interface\n"), std::string::npos) << info.out;
}

}  // namespace state_test
