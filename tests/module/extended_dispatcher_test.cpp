// The VST 2 opcodes 25..79 as a host meets them through the loaded module's
// dispatcher, plus the holes, the opcodes past the end and the negative ones.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/fresh_thread.h"
#include "loaded_module.h"
#include "stereo_render.h"

namespace {

using loaded::module;
using varkel::host::PluginInstance;

constexpr VstIntPtr kBit32 = VstIntPtr{1} << 32;
constexpr VstIntPtr kMin64 = std::numeric_limits<VstIntPtr>::min();

// Host calls made after the entry point's version query.
std::vector<VstInt32> hostOpcodes;

VstIntPtr countingHost(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (effect != nullptr) hostOpcodes.push_back(opcode);
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A buffer the plug-in may write only where a test says so; its last byte
// terminates it, so it also serves as an input text.
struct Guarded {
    static constexpr unsigned char kFill = 0xA5;
    Guarded() {
        std::memset(bytes, kFill, sizeof(bytes));
        bytes[sizeof(bytes) - 1] = 0;
    }
    bool untouchedFrom(std::size_t first) const {
        for (std::size_t i = first; i + 1 < sizeof(bytes); ++i)
            if (bytes[i] != kFill) return false;
        return bytes[sizeof(bytes) - 1] == 0;
    }
    unsigned char bytes[256];
};

class ExtendedDispatcher : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        fx = PluginInstance::create(module(), error, countingHost);
        ASSERT_TRUE(fx) << error;
        hostOpcodes.clear();
    }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return fx->dispatch(opcode, index, value, ptr, opt);
    }

    std::unique_ptr<PluginInstance> fx;
};

struct OpcodeRow {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    bool buffer;         // ptr is a guarded buffer (else null)
    float opt;
    VstIntPtr expected;
    const char* writes;  // the exact text written at the buffer's start, or nothing
};

// What Varkel answers with the hooks it does not override, and its identity.
const OpcodeRow kOpcodes[] = {
    {25, 0, 0, true, 0, 0, nullptr},        {26, 0, 0, false, 0, 1, nullptr},
    {27, 0, 0, true, 0, 0, nullptr},        {28, 1, 1, true, 1, 0, nullptr},
    {29, 0, 0, true, 0, 0, nullptr},        {30, 1, 1, true, 1, 0, nullptr},
    {31, 1, 1, true, 1, 0, nullptr},        {32, 1, 1, true, 1, 0, nullptr},
    {33, 0, 0, true, 0, 0, nullptr},        {34, 1, 0, true, 0, 0, nullptr},
    {35, 0, 0, false, 0, 0, nullptr},       {36, 1, 1, true, 1, 0, nullptr},
    {37, 1, 1, true, 1, 0, nullptr},        {38, 1, 1, true, 0, 0, nullptr},
    {39, 0, 1, true, 0, 0, nullptr},        {40, 0, 1, true, 0, 0, nullptr},
    {41, 0, 0, true, 0, 0, nullptr},        {42, 0, 0, true, 0, 0, nullptr},
    {43, 0, 256, true, 48000, 0, nullptr},  {44, 0, 1, false, 0, 0, nullptr},
    {45, 0, 0, true, 0, 1, "Varkel"},       {46, 1, 1, true, 1, 0, nullptr},
    {47, 0, 0, true, 0, 1, "Ostrelvane"},   {48, 0, 0, true, 0, 1, "Brox Varkel"},
    {49, 0, 0, false, 0, 1000, nullptr},    {50, 1, 2, true, 3, 0, nullptr},
    {51, 0, 0, true, 0, 0, nullptr},        {52, 0, 0, false, 0, 0, nullptr},
    {53, 1, 1, true, 1, 0, nullptr},        {54, 1, 1, true, 1, 0, nullptr},
    {55, 1, 1, true, 1, 0, nullptr},        {56, 0, 0, true, 0, 0, nullptr},
    {57, 1, 1, true, 1, 0, nullptr},        {58, 0, 0, false, 0, 2400, nullptr},
    {59, 'a', 0x41, false, 1, 0, nullptr},  {60, 'a', 0x41, false, 1, 0, nullptr},
    {61, 0, 1, false, 0, 0, nullptr},       {62, 0, 0, true, 0, 0, nullptr},
    {63, 0, 0, true, 0, -1, nullptr},       {64, 0, 0, true, 0, 0, nullptr},
    {65, 0, 0, false, 0, 0, nullptr},       {66, 0, 0, true, 0, 0, nullptr},
    {67, 0, 0, false, 0, 0, nullptr},       {68, 0, 0, false, 0, 0, nullptr},
    {70, 0, 0, true, 0, 0, nullptr},        {71, 0, 0, false, 0, 0, nullptr},
    {72, 0, 0, false, 0, 0, nullptr},       {73, 0, 12345, false, 0, 12345, nullptr},
    {74, 0, 1, false, 0.5f, 0, nullptr},    {75, 0, 0, true, 0, 0, nullptr},
    {76, 0, 0, true, 0, 0, nullptr},        {77, 0, 1, false, 0, 0, nullptr},
    {78, 0, 0, false, 0, 0, nullptr},       {79, 0, 0, false, 0, 0, nullptr},
};

TEST_F(ExtendedDispatcher, TheTableCoversEveryOpcodeFrom25To79) {
    std::set<VstInt32> covered = {effGetSpeakerArrangement};  // 69 has a test of its own
    for (const OpcodeRow& row : kOpcodes) EXPECT_TRUE(covered.insert(row.opcode).second);
    std::set<VstInt32> all;
    for (VstInt32 op = 25; op <= 79; ++op) all.insert(op);
    EXPECT_EQ(covered, all);
}

TEST_F(ExtendedDispatcher, EachOpcodeAnswersAsTabledAndWritesOnlyItsText) {
    for (const OpcodeRow& row : kOpcodes) {
        SCOPED_TRACE("opcode " + std::to_string(row.opcode));
        Guarded buffer;
        const VstIntPtr result =
            dispatch(row.opcode, row.index, row.value, row.buffer ? buffer.bytes : nullptr, row.opt);
        EXPECT_EQ(result, row.expected);
        if (row.writes == nullptr) {
            EXPECT_TRUE(buffer.untouchedFrom(0));
        } else {
            const std::size_t length = std::strlen(row.writes) + 1;
            EXPECT_EQ(std::memcmp(buffer.bytes, row.writes, length), 0);
            EXPECT_TRUE(buffer.untouchedFrom(length)) << "written past the terminator";
        }
    }
    EXPECT_TRUE(hostOpcodes.empty());
}

TEST_F(ExtendedDispatcher, EveryParameterIndexCanBeAutomated) {
    const VstInt32 indices[] = {0, 1, 2, 3, 1000, -1, std::numeric_limits<VstInt32>::min(),
                                std::numeric_limits<VstInt32>::max()};
    for (VstInt32 index : indices) EXPECT_EQ(dispatch(effCanBeAutomated, index), 1) << index;
}

TEST_F(ExtendedDispatcher, NoCurrentMidiProgramIsA64BitMinusOne) {
    Guarded buffer;
    const VstIntPtr result = dispatch(effGetCurrentMidiProgram, 0, 0, buffer.bytes);
    EXPECT_EQ(static_cast<std::uint64_t>(result), 0xFFFFFFFFFFFFFFFFu);
}

TEST_F(ExtendedDispatcher, TotalSamplesComeBackAsTheLow32BitsSignExtended) {
    const std::pair<VstIntPtr, VstIntPtr> rows[] = {
        {0xFFFFFFFF, -1},
        {-1, -1},
        {kBit32, 0},
        {kMin64, 0},
        {kBit32 + 5, 5},
        {0x7FFFFFFF, 0x7FFFFFFF},
        {0x80000000, std::numeric_limits<VstInt32>::min()},
    };
    for (const auto& [value, expected] : rows)
        EXPECT_EQ(dispatch(effSetTotalSampleToProcess, 0, value), expected) << value;
}

TEST_F(ExtendedDispatcher, BypassWithOnlyHighBitsSetIsAnswered) {
    for (VstIntPtr value : {kBit32, kMin64, VstIntPtr{-1} - 0xFFFFFFFF})
        EXPECT_EQ(dispatch(effSetBypass, 0, value), 0) << value;
}

TEST_F(ExtendedDispatcher, SpeakerArrangementQueryLeavesBothPointersNull) {
    Guarded dummy;
    auto* input = reinterpret_cast<VstSpeakerArrangement*>(dummy.bytes);
    auto* output = reinterpret_cast<VstSpeakerArrangement*>(dummy.bytes + 8);
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output),
              0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    EXPECT_TRUE(dummy.untouchedFrom(0));
}

TEST_F(ExtendedDispatcher, SpeakerArrangementQueryWithANullAddressWritesNothing) {
    Guarded dummy;
    auto* const sentinel = reinterpret_cast<VstSpeakerArrangement*>(dummy.bytes);
    VstSpeakerArrangement* input = sentinel;
    VstSpeakerArrangement* output = sentinel;
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, 0, &output), 0);
    EXPECT_EQ(output, sentinel);
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), nullptr),
              0);
    EXPECT_EQ(input, sentinel);
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST_F(ExtendedDispatcher, OpcodesThatNeedABufferAnswerANullOneWithoutWriting) {
    const VstInt32 opcodes[] = {effString2Parameter,     effGetProgramNameIndexed,
                                effGetInputProperties,   effGetOutputProperties,
                                effGetEffectName,        effGetVendorString,
                                effGetProductString,     effCanDo,
                                effGetParameterProperties, effGetMidiProgramName,
                                effGetMidiProgramCategory, effGetMidiKeyName,
                                effShellGetNextPlugin};
    for (VstInt32 opcode : opcodes) EXPECT_EQ(dispatch(opcode, 0, 0, nullptr), 0) << opcode;
    // For the current MIDI program the declining answer is "none".
    EXPECT_EQ(dispatch(effGetCurrentMidiProgram, 0, 0, nullptr), -1);
}

TEST_F(ExtendedDispatcher, OpcodesPastTheTableAndNegativeOnesAnswerZero) {
    const VstInt32 opcodes[] = {80, 81, 100, 4096, std::numeric_limits<VstInt32>::max(),
                                -1, -2, -25, -79, std::numeric_limits<VstInt32>::min()};
    for (VstInt32 opcode : opcodes) {
        Guarded buffer;
        EXPECT_EQ(dispatch(opcode, 1, 1, buffer.bytes, 1.0f), 0) << opcode;
        EXPECT_TRUE(buffer.untouchedFrom(0)) << opcode;
    }
}

TEST_F(ExtendedDispatcher, EveryCapabilityIsAnsweredWithZero) {
    const char* plug[] = {"bypass", "midiProgramNames", "offline", "receiveVstTimeInfo",
                          "receiveVstMidiEvent", "receiveVstEvents", "sendVstMidiEvent",
                          "sendVstEvents"};
    const char* host[] = {"sendVstMidiEventFlagIsRealtime", "shellCategory", "startStopProcess",
                          "closeFileSelector", "openFileSelector", "offline", "sizeWindow",
                          "acceptIOChanges", "reportConnectionChanges", "receiveVstMidiEvent",
                          "receiveVstEvents", "sendVstTimeInfo", "sendVstMidiEvent",
                          "sendVstEvents"};
    // The exported variables, read through the loaded module, hold these words.
    const auto variable = [&](const char* space, const std::string& word) {
        const std::string member =
            "canDo" + std::string(1, static_cast<char>(std::toupper(word[0]))) + word.substr(1);
        const std::string mangled =
            "_ZN10" + std::string(space) + std::to_string(member.size()) + member + "E";
        return static_cast<const char* const*>(module().symbol(mangled.c_str()));
    };
    std::vector<std::string> words;
    for (const char* word : plug) {
        const char* const* plugVariable = variable("PlugCanDos", word);
        ASSERT_NE(plugVariable, nullptr) << word;
        EXPECT_STREQ(*plugVariable, word);
        words.emplace_back(word);
    }
    for (const char* word : host) {
        const char* const* hostVariable = variable("HostCanDos", word);
        ASSERT_NE(hostVariable, nullptr) << word;
        EXPECT_STREQ(*hostVariable, word);
        // A word both sides use is still two variables.
        EXPECT_NE(hostVariable, variable("PlugCanDos", word)) << word;
        words.emplace_back(word);
    }
    words.insert(words.end(), {"", "anything", "plugAsChannelInsert"});
    for (std::string& word : words) EXPECT_EQ(dispatch(effCanDo, 0, 0, word.data()), 0) << word;
}

// The processor's rate shows in its output. Each render runs on a thread of
// its own, whose noise generator starts from the same state. The channels
// come out one after the other.
std::vector<float> renderOnFreshThread(const PluginInstance& instance) {
    constexpr int kFrames = 512;
    loaded::Stereo in{std::vector<float>(kFrames), std::vector<float>(kFrames)};
    for (int i = 0; i < kFrames; ++i) {
        in.left[i] = (i % 50 < 25) ? 0.6f : -0.6f;
        in.right[i] = 0.3f * in.left[i];
    }
    loaded::Stereo out;
    varkel::host::onFreshThread([&] { out = loaded::render(instance, in, kFrames); });
    out.left.insert(out.left.end(), out.right.begin(), out.right.end());
    return out.left;
}

TEST_F(ExtendedDispatcher, TheOldCombinedRateOpcodeChangesNothing) {
    std::string error;
    auto untouched = PluginInstance::create(module(), error, countingHost);
    auto retuned = PluginInstance::create(module(), error, countingHost);
    ASSERT_TRUE(untouched && retuned);
    EXPECT_EQ(dispatch(__effSetBlockSizeAndSampleRateDeprecated, 0, 256, nullptr, 48000.0f), 0);
    retuned->setSampleRate(48000.0f);
    const auto reference = renderOnFreshThread(*untouched);
    EXPECT_NE(renderOnFreshThread(*retuned), reference);  // the rate would show
    EXPECT_EQ(renderOnFreshThread(*fx), reference);
}

TEST_F(ExtendedDispatcher, SwitchingOnCallsNoHostService) {
    fx->open();
    fx->resume();
    fx->suspend();
    fx->resume();
    EXPECT_TRUE(hostOpcodes.empty());
}

}  // namespace
