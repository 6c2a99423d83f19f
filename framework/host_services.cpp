// The services through which a plug-in object calls its host. Each sends one
// opcode with this object's record and converts the answer; without a host
// callback each answers a neutral default and calls nothing.
#include <cstdint>

#include "framework/audio_effect_x.h"

namespace {
VstInt32 low32(VstIntPtr answer) { return static_cast<VstInt32>(answer); }
VstIntPtr widenSigned(VstInt32 v) { return static_cast<VstIntPtr>(v); }
VstIntPtr widenUnsigned(VstInt32 v) {
    return static_cast<VstIntPtr>(static_cast<std::uint32_t>(v));
}
}  // namespace

// --- AudioEffect ---

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    if (hostCallback != nullptr) callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getMasterVersion() {
    if (hostCallback == nullptr) return 1;
    const VstInt32 version = low32(callHost(audioMasterVersion));
    return version != 0 ? version : 1;
}

VstInt32 AudioEffect::getCurrentUniqueId() {
    return hostCallback != nullptr ? low32(callHost(audioMasterCurrentId)) : 0;
}

void AudioEffect::masterIdle() {
    if (hostCallback != nullptr) callHost(audioMasterIdle);
}

// The host answers 0 for a connected pin.
bool AudioEffect::__isInputConnectedDeprecated(VstInt32 input) {
    if (hostCallback == nullptr) return true;
    return low32(callHost(__audioMasterPinConnectedDeprecated, input, 0)) == 0;
}

bool AudioEffect::__isOutputConnectedDeprecated(VstInt32 output) {
    if (hostCallback == nullptr) return true;
    return low32(callHost(__audioMasterPinConnectedDeprecated, output, 1)) == 0;
}

// --- AudioEffectX ---

void AudioEffectX::__wantEventsDeprecated(VstInt32 filter) {
    if (hostCallback != nullptr) callHost(__audioMasterWantMidiDeprecated, 0, widenSigned(filter));
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter) {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<VstTimeInfo*>(callHost(audioMasterGetTime, 0, widenSigned(filter)));
}

bool AudioEffectX::sendVstEventsToHost(VstEvents* events) {
    if (hostCallback == nullptr) return false;
    return callHost(audioMasterProcessEvents, 0, 0, events) == 1;
}

VstInt32 AudioEffectX::__tempoAtDeprecated(VstInt32 pos) {
    if (hostCallback == nullptr) return 0;
    return low32(callHost(__audioMasterTempoAtDeprecated, 0, widenSigned(pos)));
}

VstInt32 AudioEffectX::__getNumAutomatableParametersDeprecated() {
    if (hostCallback == nullptr) return 0;
    return low32(callHost(__audioMasterGetNumAutomatableParametersDeprecated));
}

VstInt32 AudioEffectX::__getParameterQuantizationDeprecated() {
    if (hostCallback == nullptr) return 0;
    return low32(callHost(__audioMasterGetParameterQuantizationDeprecated));
}

bool AudioEffectX::ioChanged() {
    return hostCallback != nullptr && callHost(audioMasterIOChanged) != 0;
}

bool AudioEffectX::__needIdleDeprecated() {
    return hostCallback != nullptr && callHost(__audioMasterNeedIdleDeprecated) != 0;
}

bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height) {
    return hostCallback != nullptr &&
           callHost(audioMasterSizeWindow, width, widenSigned(height)) != 0;
}

double AudioEffectX::updateSampleRate() {
    if (hostCallback != nullptr) {
        const VstIntPtr answer = callHost(audioMasterGetSampleRate);
        if (answer > 0) sampleRate = static_cast<float>(answer);
    }
    return sampleRate;
}

VstInt32 AudioEffectX::updateBlockSize() {
    if (hostCallback != nullptr) {
        const VstInt32 answer = low32(callHost(audioMasterGetBlockSize));
        if (answer > 0) blockSize = answer;
    }
    return blockSize;
}

VstInt32 AudioEffectX::getInputLatency() {
    return hostCallback != nullptr ? low32(callHost(audioMasterGetInputLatency)) : 0;
}

VstInt32 AudioEffectX::getOutputLatency() {
    return hostCallback != nullptr ? low32(callHost(audioMasterGetOutputLatency)) : 0;
}

// The pin number is not passed on: the host is asked with index 0 and value 0.
AEffect* AudioEffectX::__getPreviousPlugDeprecated(VstInt32 /*input*/) {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<AEffect*>(callHost(__audioMasterGetPreviousPlugDeprecated));
}

AEffect* AudioEffectX::__getNextPlugDeprecated(VstInt32 /*output*/) {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<AEffect*>(callHost(__audioMasterGetNextPlugDeprecated));
}

VstInt32 AudioEffectX::__willProcessReplacingDeprecated() {
    if (hostCallback == nullptr) return 0;
    return low32(callHost(__audioMasterWillReplaceOrAccumulateDeprecated));
}

VstInt32 AudioEffectX::getCurrentProcessLevel() {
    return hostCallback != nullptr ? low32(callHost(audioMasterGetCurrentProcessLevel)) : 0;
}

VstInt32 AudioEffectX::getAutomationState() {
    return hostCallback != nullptr ? low32(callHost(audioMasterGetAutomationState)) : 0;
}

bool AudioEffectX::offlineStart(VstAudioFile* ptr, VstInt32 numAudioFiles,
                                VstInt32 numNewAudioFiles) {
    return hostCallback != nullptr && callHost(audioMasterOfflineStart, numNewAudioFiles,
                                               widenSigned(numAudioFiles), ptr) != 0;
}

bool AudioEffectX::offlineRead(VstOfflineTask* offline, VstOfflineOption option, bool readSource) {
    return hostCallback != nullptr && callHost(audioMasterOfflineRead, readSource ? 1 : 0,
                                               widenUnsigned(option), offline) != 0;
}

bool AudioEffectX::offlineWrite(VstOfflineTask* offline, VstOfflineOption option) {
    return hostCallback != nullptr &&
           callHost(audioMasterOfflineWrite, 0, widenUnsigned(option), offline) != 0;
}

VstInt32 AudioEffectX::offlineGetCurrentPass() {
    return hostCallback != nullptr && callHost(audioMasterOfflineGetCurrentPass) != 0 ? 1 : 0;
}

VstInt32 AudioEffectX::offlineGetCurrentMetaPass() {
    return hostCallback != nullptr && callHost(audioMasterOfflineGetCurrentMetaPass) != 0 ? 1 : 0;
}

void AudioEffectX::__setOutputSamplerateDeprecated(float samplerate) {
    if (hostCallback != nullptr)
        callHost(__audioMasterSetOutputSampleRateDeprecated, 0, 0, nullptr, samplerate);
}

VstSpeakerArrangement* AudioEffectX::__getOutputSpeakerArrangementDeprecated() {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<VstSpeakerArrangement*>(
        callHost(__audioMasterGetOutputSpeakerArrangementDeprecated));
}

VstSpeakerArrangement* AudioEffectX::__getInputSpeakerArrangementDeprecated() {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<VstSpeakerArrangement*>(
        callHost(__audioMasterGetInputSpeakerArrangementDeprecated));
}

bool AudioEffectX::getHostVendorString(char* text) {
    return hostCallback != nullptr && callHost(audioMasterGetVendorString, 0, 0, text) != 0;
}

bool AudioEffectX::getHostProductString(char* text) {
    return hostCallback != nullptr && callHost(audioMasterGetProductString, 0, 0, text) != 0;
}

VstInt32 AudioEffectX::getHostVendorVersion() {
    return hostCallback != nullptr ? low32(callHost(audioMasterGetVendorVersion)) : 0;
}

VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg,
                                           float floatArg) {
    if (hostCallback == nullptr) return 0;
    return callHost(audioMasterVendorSpecific, lArg1, lArg2, ptrArg, floatArg);
}

VstInt32 AudioEffectX::canHostDo(char* text) {
    return hostCallback != nullptr && callHost(audioMasterCanDo, 0, 0, text) != 0 ? 1 : 0;
}

VstInt32 AudioEffectX::getHostLanguage() {
    return hostCallback != nullptr ? low32(callHost(audioMasterGetLanguage)) : 0;
}

void* AudioEffectX::__openWindowDeprecated(__VstWindowDeprecated* window) {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<void*>(callHost(__audioMasterOpenWindowDeprecated, 0, 0, window));
}

bool AudioEffectX::__closeWindowDeprecated(__VstWindowDeprecated* window) {
    return hostCallback != nullptr &&
           callHost(__audioMasterCloseWindowDeprecated, 0, 0, window) != 0;
}

void* AudioEffectX::getDirectory() {
    if (hostCallback == nullptr) return nullptr;
    return reinterpret_cast<void*>(callHost(audioMasterGetDirectory));
}

bool AudioEffectX::updateDisplay() {
    return hostCallback != nullptr && callHost(audioMasterUpdateDisplay) != 0;
}

bool AudioEffectX::beginEdit(VstInt32 index) {
    return hostCallback != nullptr && callHost(audioMasterBeginEdit, index) != 0;
}

bool AudioEffectX::endEdit(VstInt32 index) {
    return hostCallback != nullptr && callHost(audioMasterEndEdit, index) != 0;
}

bool AudioEffectX::openFileSelector(VstFileSelect* ptr) {
    return hostCallback != nullptr && ptr != nullptr &&
           callHost(audioMasterOpenFileSelector, 0, 0, ptr) != 0;
}

bool AudioEffectX::closeFileSelector(VstFileSelect* ptr) {
    return hostCallback != nullptr && ptr != nullptr &&
           callHost(audioMasterCloseFileSelector, 0, 0, ptr) != 0;
}

bool AudioEffectX::__getChunkFileDeprecated(void* nativePath) {
    return hostCallback != nullptr && nativePath != nullptr &&
           callHost(__audioMasterGetChunkFileDeprecated, 0, 0, nativePath) != 0;
}

VstPlugCategory AudioEffectX::getPlugCategory() {
    return (effectRecord.flags & effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
}
