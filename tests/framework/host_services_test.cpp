// The services through which an effect calls its host, seen from a host that
// records every call it receives.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "framework/audio_effect_x.h"
#include "framework/capability_strings.h"
#include "recording_host.h"

namespace {

using recording::HostCall;
using recording::HostServices;
using recording::recordingCallback;

class TestEffect : public AudioEffectX {
public:
    explicit TestEffect(audioMasterCallback callback) : AudioEffectX(callback, 1, 4) {}

    void processReplacing(float**, float**, VstInt32) override {}
    void setParameter(VstInt32 index, float value) override {
        ++setParameterCalls;
        lastIndex = index;
        lastValue = value;
    }
    // The update services write the fields directly; these count if they do not.
    void setSampleRate(float rate) override {
        ++setSampleRateCalls;
        AudioEffectX::setSampleRate(rate);
    }
    void setBlockSize(VstInt32 size) override {
        ++setBlockSizeCalls;
        AudioEffectX::setBlockSize(size);
    }
    VstInt32 canDo(char* text) override {
        askedCanDo.emplace_back(text);
        return canDoAnswer;
    }

    int setParameterCalls = 0;
    VstInt32 lastIndex = -1;
    float lastValue = 0.0f;
    int setSampleRateCalls = 0;
    int setBlockSizeCalls = 0;
    VstInt32 canDoAnswer = 0;
    std::vector<std::string> askedCanDo;
};

// Stand-ins for the records the services only pass through; never read.
char eventsRecord, audioFiles, offlineTask, windowRecord, fileSelect, chunkPath,
    vendorData;
char textBuffer[80];
char capability[] = "sendVstTimeInfo";

template <typename T>
T* fake(char& storage) {
    return reinterpret_cast<T*>(&storage);
}
VstIntPtr asInt(const void* p) { return reinterpret_cast<VstIntPtr>(p); }
VstIntPtr fromBool(bool b) { return b ? 1 : 0; }

constexpr VstIntPtr kHighWordOnly = VstIntPtr{1} << 32;  // an answer whose low 32 bits are 0

// (host's answer, the service's result) pairs for each way of converting.
using Conversions = std::vector<std::pair<VstIntPtr, VstIntPtr>>;
const Conversions kLow32 = {{7, 7},          {-1, -1},        {0xFFFFFFFF, -1}, {kHighWordOnly + 5, 5},
                            {kHighWordOnly, 0},     {0x80000000, std::numeric_limits<VstInt32>::min()}};
const Conversions kNonZero = {{0, 0}, {1, 1}, {-1, 1}, {2, 1}, {kHighWordOnly, 1}};
const Conversions kExactlyOne = {{1, 1}, {0, 0}, {2, 0}, {-1, 0}, {kHighWordOnly + 1, 0}};
const Conversions kConnected = {{0, 1}, {1, 0}, {-1, 0}, {kHighWordOnly, 1}};
const Conversions kMasterVersion = {{2400, 2400}, {0, 1}, {kHighWordOnly, 1}, {kHighWordOnly + 2400, 2400}};
const Conversions kPointer = {{0, 0}, {0x7F00DEADBEE0, 0x7F00DEADBEE0}, {-16, -16}};
const Conversions kWhole = {{-5, -5}, {0x7FFF000000000003, 0x7FFF000000000003}, {kHighWordOnly, kHighWordOnly}};
const Conversions kIgnored = {{0, 0}, {1, 0}, {-1, 0}};
// The update services keep the old value (44100, 1024) for a non-positive answer.
const Conversions kSampleRate = {{48000, 48000}, {0, 44100}, {-1, 44100}, {kHighWordOnly, kHighWordOnly}};
const Conversions kBlockSize = {
    {512, 512}, {0, 1024}, {-1, 1024}, {kHighWordOnly, 1024}, {kHighWordOnly + 512, 512}, {0xFFFFFFFF, 1024}};

struct ServiceRow {
    const char* name;
    std::function<VstIntPtr(TestEffect&)> call;  // the result, widened for comparison
    HostCall expected;                           // effect is filled in per object
    Conversions conversions;
    VstIntPtr withoutHost;
};

std::vector<ServiceRow> serviceRows() {
    const auto none = [](auto f) { return [f](TestEffect& fx) { f(fx); return VstIntPtr{0}; }; };
    auto* events = fake<VstEvents>(eventsRecord);
    auto* files = fake<VstAudioFile>(audioFiles);
    auto* task = fake<VstOfflineTask>(offlineTask);
    auto* window = fake<__VstWindowDeprecated>(windowRecord);
    auto* selector = fake<VstFileSelect>(fileSelect);
    return {
        {"setParameterAutomated", none([](TestEffect& fx) { fx.setParameterAutomated(3, 0.75f); }),
         {nullptr, 0, 3, 0, nullptr, 0.75f}, kIgnored, 0},
        {"getMasterVersion", [](TestEffect& fx) { return VstIntPtr{fx.getMasterVersion()}; },
         {nullptr, 1, 0, 0, nullptr, 0.0f}, kMasterVersion, 1},
        {"getCurrentUniqueId", [](TestEffect& fx) { return VstIntPtr{fx.getCurrentUniqueId()}; },
         {nullptr, 2, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"masterIdle", none([](TestEffect& fx) { fx.masterIdle(); }),
         {nullptr, 3, 0, 0, nullptr, 0.0f}, kIgnored, 0},
        {"__isInputConnectedDeprecated",
         [](TestEffect& fx) { return fromBool(fx.__isInputConnectedDeprecated(5)); },
         {nullptr, 4, 5, 0, nullptr, 0.0f}, kConnected, 1},
        {"__isOutputConnectedDeprecated",
         [](TestEffect& fx) { return fromBool(fx.__isOutputConnectedDeprecated(6)); },
         {nullptr, 4, 6, 1, nullptr, 0.0f}, kConnected, 1},
        {"__wantEventsDeprecated", none([](TestEffect& fx) { fx.__wantEventsDeprecated(-2); }),
         {nullptr, 6, 0, -2, nullptr, 0.0f}, kIgnored, 0},
        {"getTimeInfo", [](TestEffect& fx) { return asInt(fx.getTimeInfo(-2147483647)); },
         {nullptr, 7, 0, -2147483647, nullptr, 0.0f}, kPointer, 0},
        {"sendVstEventsToHost",
         [events](TestEffect& fx) { return fromBool(fx.sendVstEventsToHost(events)); },
         {nullptr, 8, 0, 0, events, 0.0f}, kExactlyOne, 0},
        {"__tempoAtDeprecated",
         [](TestEffect& fx) { return VstIntPtr{fx.__tempoAtDeprecated(-44100)}; },
         {nullptr, 10, 0, -44100, nullptr, 0.0f}, kLow32, 0},
        {"__getNumAutomatableParametersDeprecated",
         [](TestEffect& fx) { return VstIntPtr{fx.__getNumAutomatableParametersDeprecated()}; },
         {nullptr, 11, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"__getParameterQuantizationDeprecated",
         [](TestEffect& fx) { return VstIntPtr{fx.__getParameterQuantizationDeprecated()}; },
         {nullptr, 12, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"ioChanged", [](TestEffect& fx) { return fromBool(fx.ioChanged()); },
         {nullptr, 13, 0, 0, nullptr, 0.0f}, kNonZero, 0},
        {"__needIdleDeprecated", [](TestEffect& fx) { return fromBool(fx.__needIdleDeprecated()); },
         {nullptr, 14, 0, 0, nullptr, 0.0f}, kNonZero, 0},
        {"sizeWindow", [](TestEffect& fx) { return fromBool(fx.sizeWindow(640, -480)); },
         {nullptr, 15, 640, -480, nullptr, 0.0f}, kNonZero, 0},
        {"updateSampleRate",
         [](TestEffect& fx) { return static_cast<VstIntPtr>(fx.updateSampleRate()); },
         {nullptr, 16, 0, 0, nullptr, 0.0f}, kSampleRate, 44100},
        {"updateBlockSize", [](TestEffect& fx) { return VstIntPtr{fx.updateBlockSize()}; },
         {nullptr, 17, 0, 0, nullptr, 0.0f}, kBlockSize, 1024},
        {"getInputLatency", [](TestEffect& fx) { return VstIntPtr{fx.getInputLatency()}; },
         {nullptr, 18, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"getOutputLatency", [](TestEffect& fx) { return VstIntPtr{fx.getOutputLatency()}; },
         {nullptr, 19, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"__getPreviousPlugDeprecated",
         [](TestEffect& fx) { return asInt(fx.__getPreviousPlugDeprecated(5)); },
         {nullptr, 20, 0, 0, nullptr, 0.0f}, kPointer, 0},
        {"__getNextPlugDeprecated",
         [](TestEffect& fx) { return asInt(fx.__getNextPlugDeprecated(6)); },
         {nullptr, 21, 0, 0, nullptr, 0.0f}, kPointer, 0},
        {"__willProcessReplacingDeprecated",
         [](TestEffect& fx) { return VstIntPtr{fx.__willProcessReplacingDeprecated()}; },
         {nullptr, 22, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"getCurrentProcessLevel",
         [](TestEffect& fx) { return VstIntPtr{fx.getCurrentProcessLevel()}; },
         {nullptr, 23, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"getAutomationState", [](TestEffect& fx) { return VstIntPtr{fx.getAutomationState()}; },
         {nullptr, 24, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"offlineStart", [files](TestEffect& fx) { return fromBool(fx.offlineStart(files, -3, 7)); },
         {nullptr, 25, 7, -3, files, 0.0f}, kNonZero, 0},
        {"offlineRead (read source)",
         [task](TestEffect& fx) {
             return fromBool(fx.offlineRead(task, static_cast<VstOfflineOption>(-1), true));
         },
         {nullptr, 26, 1, 0xFFFFFFFF, task, 0.0f}, kNonZero, 0},
        {"offlineRead (not the source)",
         [task](TestEffect& fx) { return fromBool(fx.offlineRead(task, kVstOfflineWaveForm, false)); },
         {nullptr, 26, 0, 2, task, 0.0f}, kNonZero, 0},
        {"offlineWrite",
         [task](TestEffect& fx) {
             return fromBool(fx.offlineWrite(task, static_cast<VstOfflineOption>(0x80000000u)));
         },
         {nullptr, 27, 0, 0x80000000, task, 0.0f}, kNonZero, 0},
        {"offlineGetCurrentPass", [](TestEffect& fx) { return VstIntPtr{fx.offlineGetCurrentPass()}; },
         {nullptr, 28, 0, 0, nullptr, 0.0f}, kNonZero, 0},
        {"offlineGetCurrentMetaPass",
         [](TestEffect& fx) { return VstIntPtr{fx.offlineGetCurrentMetaPass()}; },
         {nullptr, 29, 0, 0, nullptr, 0.0f}, kNonZero, 0},
        {"__setOutputSamplerateDeprecated",
         none([](TestEffect& fx) { fx.__setOutputSamplerateDeprecated(96000.5f); }),
         {nullptr, 30, 0, 0, nullptr, 96000.5f}, kIgnored, 0},
        {"__getOutputSpeakerArrangementDeprecated",
         [](TestEffect& fx) { return asInt(fx.__getOutputSpeakerArrangementDeprecated()); },
         {nullptr, 31, 0, 0, nullptr, 0.0f}, kPointer, 0},
        {"getHostVendorString", [](TestEffect& fx) { return fromBool(fx.getHostVendorString(textBuffer)); },
         {nullptr, 32, 0, 0, textBuffer, 0.0f}, kNonZero, 0},
        {"getHostProductString",
         [](TestEffect& fx) { return fromBool(fx.getHostProductString(textBuffer)); },
         {nullptr, 33, 0, 0, textBuffer, 0.0f}, kNonZero, 0},
        {"getHostVendorVersion", [](TestEffect& fx) { return VstIntPtr{fx.getHostVendorVersion()}; },
         {nullptr, 34, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"hostVendorSpecific",
         [](TestEffect& fx) {
             return fx.hostVendorSpecific(-9, 0x123456789ABCDEF0, &vendorData, -2.5f);
         },
         {nullptr, 35, -9, 0x123456789ABCDEF0, &vendorData, -2.5f}, kWhole, 0},
        {"canHostDo", [](TestEffect& fx) { return VstIntPtr{fx.canHostDo(capability)}; },
         {nullptr, 37, 0, 0, capability, 0.0f}, kNonZero, 0},
        {"getHostLanguage", [](TestEffect& fx) { return VstIntPtr{fx.getHostLanguage()}; },
         {nullptr, 38, 0, 0, nullptr, 0.0f}, kLow32, 0},
        {"__openWindowDeprecated",
         [window](TestEffect& fx) { return asInt(fx.__openWindowDeprecated(window)); },
         {nullptr, 39, 0, 0, window, 0.0f}, kPointer, 0},
        {"__closeWindowDeprecated",
         [window](TestEffect& fx) { return fromBool(fx.__closeWindowDeprecated(window)); },
         {nullptr, 40, 0, 0, window, 0.0f}, kNonZero, 0},
        {"getDirectory", [](TestEffect& fx) { return asInt(fx.getDirectory()); },
         {nullptr, 41, 0, 0, nullptr, 0.0f}, kPointer, 0},
        {"updateDisplay", [](TestEffect& fx) { return fromBool(fx.updateDisplay()); },
         {nullptr, 42, 0, 0, nullptr, 0.0f}, kNonZero, 0},
        {"beginEdit", [](TestEffect& fx) { return fromBool(fx.beginEdit(2)); },
         {nullptr, 43, 2, 0, nullptr, 0.0f}, kNonZero, 0},
        {"endEdit", [](TestEffect& fx) { return fromBool(fx.endEdit(-1)); },
         {nullptr, 44, -1, 0, nullptr, 0.0f}, kNonZero, 0},
        {"openFileSelector",
         [selector](TestEffect& fx) { return fromBool(fx.openFileSelector(selector)); },
         {nullptr, 45, 0, 0, selector, 0.0f}, kNonZero, 0},
        {"closeFileSelector",
         [selector](TestEffect& fx) { return fromBool(fx.closeFileSelector(selector)); },
         {nullptr, 46, 0, 0, selector, 0.0f}, kNonZero, 0},
        {"__getChunkFileDeprecated",
         [](TestEffect& fx) { return fromBool(fx.__getChunkFileDeprecated(&chunkPath)); },
         {nullptr, 48, 0, 0, &chunkPath, 0.0f}, kNonZero, 0},
        {"__getInputSpeakerArrangementDeprecated",
         [](TestEffect& fx) { return asInt(fx.__getInputSpeakerArrangementDeprecated()); },
         {nullptr, 49, 0, 0, nullptr, 0.0f}, kPointer, 0},
    };
}

TEST_F(HostServices, EachServiceSendsItsOneCallAndConvertsTheAnswer) {
    for (const ServiceRow& row : serviceRows()) {
        for (const auto& [answer, result] : row.conversions) {
            SCOPED_TRACE(std::string(row.name) + ", host answers " + std::to_string(answer));
            host.calls.clear();
            host.answer = answer;
            TestEffect fx(recordingCallback);
            EXPECT_EQ(row.call(fx), result);
            ASSERT_EQ(host.calls.size(), 1u);
            const HostCall& call = host.calls[0];
            EXPECT_EQ(call.effect, fx.getAeffect());
            EXPECT_EQ(call.opcode, row.expected.opcode);
            EXPECT_EQ(call.index, row.expected.index);
            EXPECT_EQ(call.value, row.expected.value);
            EXPECT_EQ(call.ptr, row.expected.ptr);
            EXPECT_EQ(call.opt, row.expected.opt);
        }
    }
}

TEST_F(HostServices, WithoutAHostCallbackEachServiceAnswersItsDefault) {
    for (const ServiceRow& row : serviceRows()) {
        SCOPED_TRACE(row.name);
        TestEffect fx(nullptr);
        EXPECT_EQ(row.call(fx), row.withoutHost);
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(HostServices, WithoutAHostCallbackTextBuffersStayAsTheyWere) {
    TestEffect fx(nullptr);
    char buffer[8];
    std::memset(buffer, 0x5A, sizeof(buffer));
    EXPECT_FALSE(fx.getHostVendorString(buffer));
    EXPECT_FALSE(fx.getHostProductString(buffer));
    for (char c : buffer) EXPECT_EQ(c, 0x5A);
}

TEST_F(HostServices, WithoutAHostCallbackAutomationStillSetsTheParameter) {
    TestEffect fx(nullptr);
    fx.setParameterAutomated(1, 0.5f);
    EXPECT_EQ(fx.setParameterCalls, 1);
    EXPECT_EQ(fx.lastIndex, 1);
    EXPECT_EQ(fx.lastValue, 0.5f);
}

TEST_F(HostServices, GuardedPointerServicesDoNotCallTheHostForANullPointer) {
    host.answer = 1;
    TestEffect fx(recordingCallback);
    EXPECT_FALSE(fx.openFileSelector(nullptr));
    EXPECT_FALSE(fx.closeFileSelector(nullptr));
    EXPECT_FALSE(fx.__getChunkFileDeprecated(nullptr));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(HostServices, AutomationReachesTheHostAfterTheParameterIsSet) {
    TestEffect fx(recordingCallback);
    int setBeforeHostHeard = -1;
    host.onCall = [&](const HostCall&) { setBeforeHostHeard = fx.setParameterCalls; };
    fx.setParameterAutomated(2, 0.25f);
    EXPECT_EQ(setBeforeHostHeard, 1);
    EXPECT_EQ(fx.lastIndex, 2);
    EXPECT_EQ(fx.lastValue, 0.25f);
}

TEST_F(HostServices, UpdatesWriteTheFieldsWithoutTheSetters) {
    host.answer = 48000;
    TestEffect fx(recordingCallback);
    EXPECT_EQ(fx.updateSampleRate(), 48000.0);
    EXPECT_EQ(fx.getSampleRate(), 48000.0f);
    host.answer = 0;
    EXPECT_EQ(fx.updateSampleRate(), 48000.0);  // a 0 answer keeps the last rate
    EXPECT_EQ(fx.getSampleRate(), 48000.0f);

    host.answer = 512;
    EXPECT_EQ(fx.updateBlockSize(), 512);
    EXPECT_EQ(fx.getBlockSize(), 512);
    host.answer = -1;
    EXPECT_EQ(fx.updateBlockSize(), 512);
    EXPECT_EQ(fx.getBlockSize(), 512);

    EXPECT_EQ(fx.setSampleRateCalls, 0);
    EXPECT_EQ(fx.setBlockSizeCalls, 0);
}

TEST_F(HostServices, AWholeHostRateIsRoundedToSinglePrecision) {
    host.answer = 16777217;  // 2^24 + 1 has no float of its own
    TestEffect fx(recordingCallback);
    EXPECT_EQ(fx.updateSampleRate(), 16777216.0);
    EXPECT_EQ(fx.getSampleRate(), 16777216.0f);
}

// --- flags and category ---

struct FlagRow {
    const char* name;
    void (AudioEffectX::*setter)(bool);
    VstInt32 bit;
};

TEST_F(HostServices, FlagSettersTouchOnlyTheirBitAndNeverCallTheHost) {
    const FlagRow rows[] = {
        {"isSynth", &AudioEffectX::isSynth, 0x100},
        {"noTail", &AudioEffectX::noTail, 0x200},
        {"__wantAsyncOperationDeprecated", &AudioEffectX::__wantAsyncOperationDeprecated, 0x400},
        {"__hasExternalBufferDeprecated", &AudioEffectX::__hasExternalBufferDeprecated, 0x800},
    };
    for (const FlagRow& row : rows) {
        SCOPED_TRACE(row.name);
        TestEffect fx(recordingCallback);
        fx.canDoubleReplacing();
        const VstInt32& flags = fx.getAeffect()->flags;
        ASSERT_EQ(flags, 0x1010);
        (fx.*row.setter)(true);
        EXPECT_EQ(flags, 0x1010 | row.bit);
        (fx.*row.setter)(true);
        EXPECT_EQ(flags, 0x1010 | row.bit);
        (fx.*row.setter)(false);
        EXPECT_EQ(flags, 0x1010);
        (fx.*row.setter)(false);
        EXPECT_EQ(flags, 0x1010);
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(HostServices, CategoryFollowsTheSynthBitAlone) {
    TestEffect fx(recordingCallback);
    fx.canDoubleReplacing();
    EXPECT_EQ(fx.getPlugCategory(), kPlugCategUnknown);
    fx.isSynth(true);
    EXPECT_EQ(fx.getAeffect()->flags, 0x1110);
    EXPECT_EQ(fx.getPlugCategory(), kPlugCategSynth);
    fx.isSynth(false);
    EXPECT_EQ(fx.getAeffect()->flags, 0x1010);
    EXPECT_EQ(fx.getPlugCategory(), kPlugCategUnknown);

    fx.getAeffect()->flags = ~effFlagsIsSynth;  // every other bit set
    EXPECT_EQ(fx.getPlugCategory(), kPlugCategUnknown);
}

// --- resume ---

TEST_F(HostServices, ResumeAsksForEventsOnlyWhenCanDoAnswersExactlyOne) {
    const std::pair<VstInt32, bool> rows[] = {{1, true}, {0, false}, {-1, false}, {2, false},
                                              {257, false}};
    for (const auto& [answer, wantsEvents] : rows) {
        SCOPED_TRACE("canDo answers " + std::to_string(answer));
        host.calls.clear();
        TestEffect fx(recordingCallback);
        fx.canDoAnswer = answer;
        fx.resume();
        ASSERT_EQ(fx.askedCanDo.size(), 1u);
        EXPECT_EQ(fx.askedCanDo[0], "receiveVstMidiEvent");
        if (wantsEvents) {
            ASSERT_EQ(host.calls.size(), 1u);
            EXPECT_EQ(host.calls[0].effect, fx.getAeffect());
            EXPECT_EQ(host.calls[0].opcode, __audioMasterWantMidiDeprecated);
            EXPECT_EQ(host.calls[0].index, 0);
            EXPECT_EQ(host.calls[0].value, 1);
            EXPECT_EQ(host.calls[0].ptr, nullptr);
            EXPECT_EQ(host.calls[0].opt, 0.0f);
        } else {
            EXPECT_TRUE(host.calls.empty());
        }
    }
}

TEST_F(HostServices, ResumeOfASynthAsksForEventsWithoutAskingCanDo) {
    TestEffect fx(recordingCallback);
    fx.isSynth(true);
    fx.resume();
    EXPECT_TRUE(fx.askedCanDo.empty());
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].opcode, __audioMasterWantMidiDeprecated);
    EXPECT_EQ(host.calls[0].value, 1);
}

TEST_F(HostServices, ResumeAsksWithWhatTheCapabilityVariableHoldsNow) {
    const char* const original = PlugCanDos::canDoReceiveVstMidiEvent;
    PlugCanDos::canDoReceiveVstMidiEvent = "somethingElse";
    TestEffect fx(recordingCallback);
    fx.resume();
    PlugCanDos::canDoReceiveVstMidiEvent = original;
    ASSERT_EQ(fx.askedCanDo.size(), 1u);
    EXPECT_EQ(fx.askedCanDo[0], "somethingElse");
}

}  // namespace
