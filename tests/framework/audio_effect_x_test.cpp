// AudioEffectX as a derived class meets it: the order of its hooks, the
// arguments its dispatcher hands them, the conversion of their results, the
// editor key opcodes, and the refusal of null pointers a hook would write through.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/audio_effect_x.h"

namespace {

constexpr VstIntPtr kBit32 = VstIntPtr{1} << 32;

#if defined(__GNUC__) && !defined(_MSC_VER)
// Under the Itanium C++ ABI a pointer to a virtual member holds 1 plus the
// member's byte offset in the virtual table.
template <typename Method>
std::ptrdiff_t slotOf(Method method) {
    struct Representation {
        std::uintptr_t ptr;
        std::ptrdiff_t adjustment;
    } representation;
    static_assert(sizeof(Method) == sizeof(Representation));
    std::memcpy(&representation, &method, sizeof(representation));
    if ((representation.ptr & 1) == 0) return -1;
    return static_cast<std::ptrdiff_t>((representation.ptr - 1) / sizeof(void*));
}

TEST(AudioEffectXLayout, HooksFollowTheBaseOperationsInTheirOrder) {
    using X = AudioEffectX;
    const std::vector<std::ptrdiff_t> slots = {
        slotOf(&X::canParameterBeAutomated), slotOf(&X::string2parameter),
        slotOf(&X::getParameterProperties), slotOf(&X::beginEdit), slotOf(&X::endEdit),
        slotOf(&X::getProgramNameIndexed), slotOf(&X::beginSetProgram), slotOf(&X::endSetProgram),
        slotOf(&X::beginLoadBank), slotOf(&X::beginLoadProgram), slotOf(&X::ioChanged),
        slotOf(&X::updateSampleRate), slotOf(&X::updateBlockSize), slotOf(&X::getInputLatency),
        slotOf(&X::getOutputLatency), slotOf(&X::getInputProperties),
        slotOf(&X::getOutputProperties), slotOf(&X::setSpeakerArrangement),
        slotOf(&X::getSpeakerArrangement), slotOf(&X::setBypass), slotOf(&X::setPanLaw),
        slotOf(&X::setProcessPrecision), slotOf(&X::getNumMidiInputChannels),
        slotOf(&X::getNumMidiOutputChannels), slotOf(&X::getTimeInfo),
        slotOf(&X::getCurrentProcessLevel), slotOf(&X::getAutomationState),
        slotOf(&X::processEvents), slotOf(&X::startProcess), slotOf(&X::stopProcess),
        slotOf(&X::processVariableIo), slotOf(&X::setTotalSampleToProcess),
        slotOf(&X::getHostVendorString), slotOf(&X::getHostProductString),
        slotOf(&X::getHostVendorVersion), slotOf(&X::hostVendorSpecific), slotOf(&X::canHostDo),
        slotOf(&X::getHostLanguage), slotOf(&X::isSynth), slotOf(&X::noTail),
        slotOf(&X::getGetTailSize), slotOf(&X::getDirectory), slotOf(&X::getEffectName),
        slotOf(&X::getVendorString), slotOf(&X::getProductString), slotOf(&X::getVendorVersion),
        slotOf(&X::vendorSpecific), slotOf(&X::canDo), slotOf(&X::getVstVersion),
        slotOf(&X::getPlugCategory), slotOf(&X::getMidiProgramName),
        slotOf(&X::getCurrentMidiProgram), slotOf(&X::getMidiProgramCategory),
        slotOf(&X::hasMidiProgramsChanged), slotOf(&X::getMidiKeyName), slotOf(&X::updateDisplay),
        slotOf(&X::sizeWindow), slotOf(&X::openFileSelector), slotOf(&X::closeFileSelector),
        slotOf(&X::getNextShellPlugin), slotOf(&X::allocateArrangement),
        slotOf(&X::deallocateArrangement), slotOf(&X::copySpeaker), slotOf(&X::matchArrangement),
        slotOf(&X::offlineRead), slotOf(&X::offlineWrite), slotOf(&X::offlineStart),
        slotOf(&X::offlineGetCurrentPass), slotOf(&X::offlineGetCurrentMetaPass),
        slotOf(&X::offlineNotify), slotOf(&X::offlinePrepare), slotOf(&X::offlineRun),
        slotOf(&X::offlineGetNumPasses), slotOf(&X::offlineGetNumMetaPasses),
        slotOf(&X::__wantEventsDeprecated), slotOf(&X::__tempoAtDeprecated),
        slotOf(&X::__getNumAutomatableParametersDeprecated),
        slotOf(&X::__getParameterQuantizationDeprecated), slotOf(&X::__getNumCategoriesDeprecated),
        slotOf(&X::__copyProgramDeprecated), slotOf(&X::__needIdleDeprecated),
        slotOf(&X::__getPreviousPlugDeprecated), slotOf(&X::__getNextPlugDeprecated),
        slotOf(&X::__inputConnectedDeprecated), slotOf(&X::__outputConnectedDeprecated),
        slotOf(&X::__willProcessReplacingDeprecated), slotOf(&X::__wantAsyncOperationDeprecated),
        slotOf(&X::__hasExternalBufferDeprecated), slotOf(&X::__reportCurrentPositionDeprecated),
        slotOf(&X::__reportDestinationBufferDeprecated),
        slotOf(&X::__setOutputSamplerateDeprecated),
        slotOf(&X::__getInputSpeakerArrangementDeprecated),
        slotOf(&X::__getOutputSpeakerArrangementDeprecated), slotOf(&X::__openWindowDeprecated),
        slotOf(&X::__closeWindowDeprecated), slotOf(&X::__setBlockSizeAndSampleRateDeprecated),
        slotOf(&X::__getErrorTextDeprecated), slotOf(&X::__getIconDeprecated),
        slotOf(&X::__setViewPositionDeprecated), slotOf(&X::__fxIdleDeprecated),
        slotOf(&X::__keysRequiredDeprecated), slotOf(&X::__getChunkFileDeprecated),
    };
    ASSERT_EQ(slots.size(), 102u);
    const std::ptrdiff_t lastOfBase = slotOf(&AudioEffect::__isOutputConnectedDeprecated);
    ASSERT_GE(lastOfBase, 0);
    for (std::size_t i = 0; i < slots.size(); ++i)
        EXPECT_EQ(slots[i], lastOfBase + 1 + static_cast<std::ptrdiff_t>(i)) << "hook " << i;
}
#endif

// Records which hooks the dispatcher reached and with what; each answers
// something other than its default so that a result shows where it came from.
class ProbeEffect : public AudioEffectX {
public:
    ProbeEffect() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}

    bool string2parameter(VstInt32, char*) override { return reached("string2parameter"); }
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override {
        ints = {category, index};
        pointer = text;
        return reached("getProgramNameIndexed");
    }
    bool getInputProperties(VstInt32, VstPinProperties*) override {
        return reached("getInputProperties");
    }
    bool getOutputProperties(VstInt32, VstPinProperties*) override {
        return reached("getOutputProperties");
    }
    VstPlugCategory getPlugCategory() override { return category; }
    bool offlineNotify(VstAudioFile* files, VstInt32 count, bool start) override {
        ints = {count};
        flag = start;
        pointer = files;
        return reached("offlineNotify");
    }
    bool setSpeakerArrangement(VstSpeakerArrangement* input, VstSpeakerArrangement* output) override {
        pointer = input;
        secondPointer = output;
        return reached("setSpeakerArrangement");
    }
    bool setBypass(bool onOff) override {
        flag = onOff;
        return false;
    }
    bool getEffectName(char*) override { return reached("getEffectName"); }
    bool getVendorString(char*) override { return reached("getVendorString"); }
    bool getProductString(char*) override { return reached("getProductString"); }
    VstInt32 getVendorVersion() override { return -5; }
    VstIntPtr vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        ints = {index};
        wide = value;
        pointer = ptr;
        option = opt;
        return 0x123456789ABCDEF0;
    }
    VstInt32 canDo(char*) override { return reached("canDo") ? 5 : 0; }
    bool getParameterProperties(VstInt32, VstParameterProperties*) override {
        return reached("getParameterProperties");
    }
    VstInt32 getMidiProgramName(VstInt32, MidiProgramName*) override {
        return reached("getMidiProgramName") ? 5 : 0;
    }
    VstInt32 getCurrentMidiProgram(VstInt32, MidiProgramName*) override {
        return reached("getCurrentMidiProgram") ? 5 : 0;
    }
    VstInt32 getMidiProgramCategory(VstInt32, MidiProgramCategory*) override {
        return reached("getMidiProgramCategory") ? 5 : 0;
    }
    bool getMidiKeyName(VstInt32, MidiKeyName*) override { return reached("getMidiKeyName"); }
    bool getSpeakerArrangement(VstSpeakerArrangement** input,
                               VstSpeakerArrangement** output) override {
        pointer = input;
        secondPointer = output;
        return reached("getSpeakerArrangement");
    }
    VstInt32 getNextShellPlugin(char*) override { return reached("getNextShellPlugin") ? 5 : 0; }
    bool setPanLaw(VstInt32 type, float value) override {
        ints = {type};
        option = value;
        return reached("setPanLaw");
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return getAeffect()->dispatcher(getAeffect(), opcode, index, value, ptr, opt);
    }

    std::vector<std::string> hooks;
    std::vector<VstInt32> ints;
    VstIntPtr wide = 0;
    void* pointer = nullptr;
    void* secondPointer = nullptr;
    bool flag = false;
    float option = 0.0f;
    VstPlugCategory category = kPlugCategUnknown;

private:
    bool reached(const char* hook) {
        hooks.emplace_back(hook);
        return true;
    }
};

struct PointerOpcode {
    VstInt32 opcode;
    const char* hook;
    VstIntPtr answered;  // with a pointer, through the probe's hook
    VstIntPtr refused;   // with a null pointer, hook not called
};

// Opcodes whose hook reads or writes through ptr.
const PointerOpcode kPointerOpcodes[] = {
    {effString2Parameter, "string2parameter", 1, 0},
    {effGetProgramNameIndexed, "getProgramNameIndexed", 1, 0},
    {effGetInputProperties, "getInputProperties", 1, 0},
    {effGetOutputProperties, "getOutputProperties", 1, 0},
    {effGetEffectName, "getEffectName", 1, 0},
    {effGetVendorString, "getVendorString", 1, 0},
    {effGetProductString, "getProductString", 1, 0},
    {effCanDo, "canDo", 5, 0},
    {effGetParameterProperties, "getParameterProperties", 1, 0},
    {effGetMidiProgramName, "getMidiProgramName", 5, 0},
    {effGetCurrentMidiProgram, "getCurrentMidiProgram", 5, -1},  // "no current program"
    {effGetMidiProgramCategory, "getMidiProgramCategory", 5, 0},
    {effGetMidiKeyName, "getMidiKeyName", 1, 0},
    {effShellGetNextPlugin, "getNextShellPlugin", 5, 0},
};

TEST(ExtendedDispatcherHooks, PointerOpcodesReachTheirHookOnlyWithAPointer) {
    char buffer[256] = "text";
    for (const PointerOpcode& row : kPointerOpcodes) {
        SCOPED_TRACE(row.hook);
        ProbeEffect fx;
        EXPECT_EQ(fx.dispatch(row.opcode, 0, 0, nullptr), row.refused);
        EXPECT_TRUE(fx.hooks.empty());
        EXPECT_EQ(fx.dispatch(row.opcode, 0, 0, buffer), row.answered);
        EXPECT_EQ(fx.hooks, std::vector<std::string>{row.hook});
    }
}

TEST(ExtendedDispatcherHooks, SpeakerArrangementQueryNeedsBothAddresses) {
    VstSpeakerArrangement* input = nullptr;
    VstSpeakerArrangement* output = nullptr;
    const VstIntPtr inputAddress = reinterpret_cast<VstIntPtr>(&input);
    ProbeEffect fx;
    EXPECT_EQ(fx.dispatch(effGetSpeakerArrangement, 0, 0, &output), 0);
    EXPECT_EQ(fx.dispatch(effGetSpeakerArrangement, 0, inputAddress, nullptr), 0);
    EXPECT_TRUE(fx.hooks.empty());
    EXPECT_EQ(fx.dispatch(effGetSpeakerArrangement, 0, inputAddress, &output), 1);
    EXPECT_EQ(fx.pointer, &input);
    EXPECT_EQ(fx.secondPointer, &output);
}

TEST(ExtendedDispatcherHooks, HooksReceiveTheArgumentsAsConverted) {
    ProbeEffect fx;
    char text[32];
    EXPECT_EQ(fx.dispatch(effGetProgramNameIndexed, 4, kBit32 + 7, text), 1);
    EXPECT_EQ(fx.ints, (std::vector<VstInt32>{7, 4}));  // category from value's low 32 bits
    EXPECT_EQ(fx.pointer, text);

    EXPECT_EQ(fx.dispatch(effOfflineNotify, 2, 0xFFFFFFFF, text), 1);
    EXPECT_EQ(fx.ints, std::vector<VstInt32>{-1});
    EXPECT_TRUE(fx.flag);
    fx.dispatch(effOfflineNotify, 0, 3, text);
    EXPECT_FALSE(fx.flag);

    VstSpeakerArrangement input{}, output{};
    EXPECT_EQ(fx.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output),
              1);
    EXPECT_EQ(fx.pointer, &input);
    EXPECT_EQ(fx.secondPointer, &output);

    EXPECT_EQ(fx.dispatch(effSetPanLaw, 0, kBit32 + 1, nullptr, 0.707f), 1);
    EXPECT_EQ(fx.ints, std::vector<VstInt32>{1});
    EXPECT_EQ(fx.option, 0.707f);
}

TEST(ExtendedDispatcherHooks, BypassIsTestedOnAllSixtyFourBits) {
    const std::pair<VstIntPtr, bool> rows[] = {{0, false},
                                               {1, true},
                                               {kBit32, true},
                                               {std::numeric_limits<VstIntPtr>::min(), true}};
    for (const auto& [value, expected] : rows) {
        ProbeEffect fx;
        fx.flag = !expected;
        EXPECT_EQ(fx.dispatch(effSetBypass, 0, value), 0);
        EXPECT_EQ(fx.flag, expected) << value;
    }
}

TEST(ExtendedDispatcherHooks, ResultsKeepTheirWidthAndSign) {
    ProbeEffect fx;
    char data;
    EXPECT_EQ(fx.dispatch(effVendorSpecific, -3, 0x7000000000000001, &data, 1.5f),
              0x123456789ABCDEF0);
    EXPECT_EQ(fx.ints, std::vector<VstInt32>{-3});
    EXPECT_EQ(fx.wide, 0x7000000000000001);
    EXPECT_EQ(fx.pointer, &data);
    EXPECT_EQ(fx.option, 1.5f);

    EXPECT_EQ(fx.dispatch(effGetVendorVersion), -5);  // int: sign-extended

    fx.category = static_cast<VstPlugCategory>(-1);  // unsigned: zero-extended
    EXPECT_EQ(fx.dispatch(effGetPlugCategory), 0xFFFFFFFF);
    fx.category = kPlugCategUnknown;
    fx.isSynth(true);  // the probe's override ignores the flag
    EXPECT_EQ(fx.dispatch(effGetPlugCategory), 0);
}

TEST(ExtendedDispatcherHooks, TheDefaultCategoryOfASynthIsTwo) {
    class Synth : public AudioEffectX {
    public:
        Synth() : AudioEffectX(nullptr, 1, 1) { isSynth(true); }
        void processReplacing(float**, float**, VstInt32) override {}
    } fx;
    EXPECT_EQ(fx.getAeffect()->dispatcher(fx.getAeffect(), effGetPlugCategory, 0, 0, nullptr, 0.0f),
              2);
}

TEST(ExtendedDispatcherHooks, TheOldCombinedSetterIsReachedByNoOpcode) {
    ProbeEffect fx;
    EXPECT_EQ(fx.dispatch(__effSetBlockSizeAndSampleRateDeprecated, 0, 256, nullptr, 48000.0f), 0);
    EXPECT_EQ(fx.getSampleRate(), 44100.0f);
    EXPECT_EQ(fx.getBlockSize(), 1024);
    fx.__setBlockSizeAndSampleRateDeprecated(256, 48000.0f);
    EXPECT_EQ(fx.getSampleRate(), 48000.0f);
    EXPECT_EQ(fx.getBlockSize(), 256);
}

// --- editor opcodes ---

class KeyEditor : public AEffEditor {
public:
    bool onKeyDown(VstKeyCode& key) override {
        keys.push_back(key);
        downs++;
        return true;
    }
    bool onKeyUp(VstKeyCode& key) override {
        keys.push_back(key);
        return false;
    }
    bool setKnobMode(VstInt32 mode) override {
        knobMode = mode;
        return true;
    }
    std::vector<VstKeyCode> keys;
    int downs = 0;
    VstInt32 knobMode = -99;
};

TEST(ExtendedDispatcherHooks, EditorOpcodesWithoutAnEditorAnswerZero) {
    ProbeEffect fx;
    EXPECT_EQ(fx.dispatch(effEditKeyDown, 'a', 0x41, nullptr, 1.0f), 0);
    EXPECT_EQ(fx.dispatch(effEditKeyUp, 'a', 0x41, nullptr, 1.0f), 0);
    EXPECT_EQ(fx.dispatch(effSetEditKnobMode, 0, 2), 0);
}

TEST(ExtendedDispatcherHooks, KeyOpcodesBuildTheKeyCode) {
    struct Row {
        VstInt32 index;
        VstIntPtr value;
        float opt;
        VstInt32 character;
        unsigned char virt;
        unsigned char modifier;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Row rows[] = {
        {'q', 0x141, 2.9f, 'q', 0x41, 2},
        {-7, 0xFF, -1.5f, -7, 0xFF, 255},  // -1.5 truncates to -1, whose low byte is 255
        {0x12345678, kBit32 + 0x0A, 259.0f, 0x12345678, 0x0A, 3},
        // A NaN or out-of-range option has no integer value: no modifier.
        {1, 1, nan, 1, 1, 0},
        {1, 1, 1e10f, 1, 1, 0},
        {1, 1, -3e9f, 1, 1, 0},
        {1, 1, std::numeric_limits<float>::infinity(), 1, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.opt);
        ProbeEffect fx;
        auto* editor = new KeyEditor;  // owned by the effect from here on
        fx.setEditor(editor);
        EXPECT_EQ(fx.dispatch(effEditKeyDown, row.index, row.value, nullptr, row.opt), 1);
        EXPECT_EQ(fx.dispatch(effEditKeyUp, row.index, row.value, nullptr, row.opt), 0);
        ASSERT_EQ(editor->keys.size(), 2u);
        EXPECT_EQ(editor->downs, 1);
        for (const VstKeyCode& key : editor->keys) {
            EXPECT_EQ(key.character, row.character);
            EXPECT_EQ(key.virt, row.virt);
            EXPECT_EQ(key.modifier, row.modifier);
        }
    }
}

TEST(ExtendedDispatcherHooks, KnobModeTakesTheLow32BitsOfValue) {
    ProbeEffect fx;
    auto* editor = new KeyEditor;
    fx.setEditor(editor);
    EXPECT_EQ(fx.dispatch(effSetEditKnobMode, 0, kBit32 + 3), 1);
    EXPECT_EQ(editor->knobMode, 3);
}

}  // namespace
