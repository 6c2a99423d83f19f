#include "framework/audio_effect.h"

#include <cstring>

namespace {
constexpr VstInt32 kDefaultUniqueId = fourCharCode('N', 'o', 'E', 'f');
constexpr VstIntPtr kIdentifyAnswer = fourCharCode('N', 'v', 'E', 'f');
}  // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 programs, VstInt32 params)
    : hostCallback(audioMaster),
      editor(nullptr),
      sampleRate(44100.0f),
      blockSize(1024),
      numPrograms(programs),
      numParams(params),
      currentProgram(0) {
    std::memset(&effectRecord, 0, sizeof(effectRecord));
    effectRecord.magic = kEffectMagic;
    effectRecord.dispatcher = dispatchEffectClass;
    effectRecord.process = __processClassDeprecated;
    effectRecord.setParameter = setParameterClass;
    effectRecord.getParameter = getParameterClass;
    effectRecord.numPrograms = programs;
    effectRecord.numParams = params;
    effectRecord.numInputs = 1;
    effectRecord.numOutputs = 2;
    effectRecord.flags = effFlagsCanReplacing;
    effectRecord.ioRatio = 1.0f;
    effectRecord.object = this;
    effectRecord.uniqueID = kDefaultUniqueId;
    effectRecord.version = 1;
    effectRecord.processReplacing = processClassReplacing;
    effectRecord.processDoubleReplacing = processClassDoubleReplacing;
}

AudioEffect::~AudioEffect() { delete editor; }

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt) {
    // Opcodes that write through ptr answer 0 to a null pointer instead of
    // handing it on: a misbehaving host must not crash the plug-in.
    switch (opcode) {
        case effOpen:
            open();
            return 0;
        case effClose:
            close();
            return 0;
        case effSetProgram:
            if (value >= 0 && value < static_cast<VstIntPtr>(numPrograms))
                setProgram(static_cast<VstInt32>(value));
            return 0;
        case effGetProgram:
            return getProgram();
        case effSetProgramName:
            if (ptr != nullptr) setProgramName(static_cast<char*>(ptr));
            return 0;
        case effGetProgramName:
            if (ptr != nullptr) getProgramName(static_cast<char*>(ptr));
            return 0;
        case effGetParamLabel:
            if (ptr != nullptr) getParameterLabel(index, static_cast<char*>(ptr));
            return 0;
        case effGetParamDisplay:
            if (ptr != nullptr) getParameterDisplay(index, static_cast<char*>(ptr));
            return 0;
        case effGetParamName:
            if (ptr != nullptr) getParameterName(index, static_cast<char*>(ptr));
            return 0;
        case effSetSampleRate:
            setSampleRate(opt);
            return 0;
        case effSetBlockSize:
            setBlockSize(static_cast<VstInt32>(value));
            return 0;
        case effMainsChanged:
            if (value != 0)
                resume();
            else
                suspend();
            return 0;
        case effEditGetRect:
            if (editor != nullptr && ptr != nullptr)
                return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
            return 0;
        case effEditOpen:
            if (editor != nullptr) return editor->open(ptr) ? 1 : 0;
            return 0;
        case effEditClose:
            if (editor != nullptr) editor->close();
            return 0;
        case effEditIdle:
            if (editor != nullptr) editor->idle();
            return 0;
        case __effIdentifyDeprecated:
            return kIdentifyAnswer;
        case effGetChunk:
            if (ptr == nullptr) return 0;
            return getChunk(static_cast<void**>(ptr), index != 0);
        case effSetChunk:
            if (ptr == nullptr) return 0;
            return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
        default:
            return 0;
    }
}

// Trampolines. No exception may unwind into the host, so each one stops them
// here and answers as for a failed call.

VstIntPtr AudioEffect::dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index,
                                           VstIntPtr value, void* ptr, float opt) {
    auto* effect = static_cast<AudioEffect*>(e->object);
    if (opcode == effClose) {
        try {
            effect->dispatcher(opcode, index, value, ptr, opt);
        } catch (...) {
        }
        delete effect;
        return 1;
    }
    try {
        return effect->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void AudioEffect::__processClassDeprecated(AEffect* e, float** inputs, float** outputs,
                                           VstInt32 sampleFrames) {
    try {
        static_cast<AudioEffect*>(e->object)->__processDeprecated(inputs, outputs, sampleFrames);
    } catch (...) {
    }
}

void AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                        VstInt32 sampleFrames) {
    try {
        static_cast<AudioEffect*>(e->object)->processReplacing(inputs, outputs, sampleFrames);
    } catch (...) {
    }
}

void AudioEffect::processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs,
                                              VstInt32 sampleFrames) {
    try {
        static_cast<AudioEffect*>(e->object)->processDoubleReplacing(inputs, outputs, sampleFrames);
    } catch (...) {
    }
}

float AudioEffect::getParameterClass(AEffect* e, VstInt32 index) {
    try {
        return static_cast<AudioEffect*>(e->object)->getParameter(index);
    } catch (...) {
        return 0.0f;
    }
}

void AudioEffect::setParameterClass(AEffect* e, VstInt32 index, float value) {
    try {
        static_cast<AudioEffect*>(e->object)->setParameter(index, value);
    } catch (...) {
    }
}
