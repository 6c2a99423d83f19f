#include "framework/audio_effect_x.h"

#include <cstdint>

#include "framework/capability_strings.h"

namespace {
constexpr VstIntPtr kNoCurrentMidiProgram = -1;

VstIntPtr fromBool(bool b) { return b ? 1 : 0; }
VstIntPtr fromInt(VstInt32 v) { return v; }
VstIntPtr fromUnsigned(VstInt32 v) { return static_cast<VstIntPtr>(static_cast<std::uint32_t>(v)); }
VstInt32 intOf(VstIntPtr value) { return static_cast<VstInt32>(value); }
template <typename T>
T* pointerOf(VstIntPtr value) {
    return reinterpret_cast<T*>(value);
}
// The option truncated toward zero. Converting a NaN or an out-of-range float
// is undefined, so such an option counts as 0.
VstInt32 truncatedOption(float opt) {
    if (!(opt >= -2147483648.0f && opt < 2147483648.0f)) return 0;
    return static_cast<VstInt32>(opt);
}
}  // namespace

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
    // Opcodes whose hook reads or writes through ptr (or the pointer in value)
    // answer a null one as a declining hook would, without calling it: a
    // careless host must not crash the plug-in.
    switch (opcode) {
        case effProcessEvents:
            return fromInt(processEvents(static_cast<VstEvents*>(ptr)));
        case effCanBeAutomated:
            return fromBool(canParameterBeAutomated(index));
        case effString2Parameter:
            if (ptr == nullptr) return 0;
            return fromBool(string2parameter(index, static_cast<char*>(ptr)));
        case effGetProgramNameIndexed:
            if (ptr == nullptr) return 0;
            return fromBool(getProgramNameIndexed(intOf(value), index, static_cast<char*>(ptr)));
        case effGetInputProperties:
            if (ptr == nullptr) return 0;
            return fromBool(getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
        case effGetOutputProperties:
            if (ptr == nullptr) return 0;
            return fromBool(getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
        case effGetPlugCategory:
            return fromUnsigned(getPlugCategory());
        case effOfflineNotify:
            return fromBool(
                offlineNotify(static_cast<VstAudioFile*>(ptr), intOf(value), index != 0));
        case effOfflinePrepare:
            return fromBool(offlinePrepare(static_cast<VstOfflineTask*>(ptr), intOf(value)));
        case effOfflineRun:
            return fromBool(offlineRun(static_cast<VstOfflineTask*>(ptr), intOf(value)));
        case effProcessVarIo:
            return fromBool(processVariableIo(static_cast<VstVariableIo*>(ptr)));
        case effSetSpeakerArrangement:
            return fromBool(setSpeakerArrangement(pointerOf<VstSpeakerArrangement>(value),
                                                  static_cast<VstSpeakerArrangement*>(ptr)));
        case effSetBypass:
            return fromBool(setBypass(value != 0));
        case effGetEffectName:
            if (ptr == nullptr) return 0;
            return fromBool(getEffectName(static_cast<char*>(ptr)));
        case effGetVendorString:
            if (ptr == nullptr) return 0;
            return fromBool(getVendorString(static_cast<char*>(ptr)));
        case effGetProductString:
            if (ptr == nullptr) return 0;
            return fromBool(getProductString(static_cast<char*>(ptr)));
        case effGetVendorVersion:
            return fromInt(getVendorVersion());
        case effVendorSpecific:
            return vendorSpecific(index, value, ptr, opt);
        case effCanDo:
            if (ptr == nullptr) return 0;
            return fromInt(canDo(static_cast<char*>(ptr)));
        case effGetTailSize:
            return fromInt(getGetTailSize());
        case effGetParameterProperties:
            if (ptr == nullptr) return 0;
            return fromBool(
                getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)));
        case effGetVstVersion:
            return fromInt(getVstVersion());
        case effEditKeyDown:
        case effEditKeyUp: {
            if (editor == nullptr) return 0;
            VstKeyCode key{};
            key.character = index;
            key.virt = static_cast<unsigned char>(value);
            key.modifier = static_cast<unsigned char>(truncatedOption(opt));
            return fromBool(opcode == effEditKeyDown ? editor->onKeyDown(key)
                                                     : editor->onKeyUp(key));
        }
        case effSetEditKnobMode:
            if (editor == nullptr) return 0;
            return fromBool(editor->setKnobMode(intOf(value)));
        case effGetMidiProgramName:
            if (ptr == nullptr) return 0;
            return fromInt(getMidiProgramName(index, static_cast<MidiProgramName*>(ptr)));
        case effGetCurrentMidiProgram:
            if (ptr == nullptr) return kNoCurrentMidiProgram;
            return fromInt(getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr)));
        case effGetMidiProgramCategory:
            if (ptr == nullptr) return 0;
            return fromInt(getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr)));
        case effHasMidiProgramsChanged:
            return fromBool(hasMidiProgramsChanged(index));
        case effGetMidiKeyName:
            if (ptr == nullptr) return 0;
            return fromBool(getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)));
        case effBeginSetProgram:
            return fromBool(beginSetProgram());
        case effEndSetProgram:
            return fromBool(endSetProgram());
        case effGetSpeakerArrangement:
            if (value == 0 || ptr == nullptr) return 0;
            return fromBool(getSpeakerArrangement(pointerOf<VstSpeakerArrangement*>(value),
                                                  static_cast<VstSpeakerArrangement**>(ptr)));
        case effShellGetNextPlugin:
            if (ptr == nullptr) return 0;
            return fromInt(getNextShellPlugin(static_cast<char*>(ptr)));
        case effStartProcess:
            return fromInt(startProcess());
        case effStopProcess:
            return fromInt(stopProcess());
        case effSetTotalSampleToProcess:
            return fromInt(setTotalSampleToProcess(intOf(value)));
        case effSetPanLaw:
            return fromBool(setPanLaw(intOf(value), opt));
        case effBeginLoadBank:
            return fromInt(beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr)));
        case effBeginLoadProgram:
            return fromInt(beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr)));
        case effSetProcessPrecision:
            return fromBool(setProcessPrecision(intOf(value)));
        case effGetNumMidiInputChannels:
            return fromInt(getNumMidiInputChannels());
        case effGetNumMidiOutputChannels:
            return fromInt(getNumMidiOutputChannels());
        default:
            return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

// Asks the host for MIDI when the plug-in is an instrument or says it
// receives MIDI events.
void AudioEffectX::resume() {
    if ((effectRecord.flags & effFlagsIsSynth) == 0 &&
        canDo(const_cast<char*>(PlugCanDos::canDoReceiveVstMidiEvent)) != 1)
        return;
    __wantEventsDeprecated(1);
}
