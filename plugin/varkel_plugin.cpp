#include "plugin/varkel_plugin.h"

#include <cstring>
#include <optional>

#include "dsp/state_control.h"

namespace {
constexpr VstInt32 kNumPrograms = 1;
constexpr VstInt32 kUniqueId = fourCharCode('V', 'r', 'k', 'l');

void copyProgramName(char* to, const char* from) {
    const std::size_t length = strnlen(from, kVstMaxProgNameLen);
    std::memcpy(to, from, length);
    std::memset(to + length, 0, kVstMaxProgNameLen + 1 - length);
}
}  // namespace

// --- construction ---

Varkel::Varkel(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParameters), processor(nullptr), programName{} {
    setUniqueID(kUniqueId);
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    canDoubleReplacing(true);
    copyProgramName(programName, "Default");
    processor = Varkel_new(static_cast<int>(getSampleRate()));
}

Varkel::~Varkel() { Varkel_delete(processor); }

// --- sample rate ---

void Varkel::retuneProcessor(float rate) {
    if (const std::optional<int> rateHz = varkel::usableRate(rate))
        varkel::retune(*processor, *rateHz);
}

void Varkel::setSampleRate(float newRate) {
    AudioEffectX::setSampleRate(newRate);
    retuneProcessor(newRate);
}

double Varkel::updateSampleRate() {
    const double rate = AudioEffectX::updateSampleRate();
    retuneProcessor(getSampleRate());
    return rate;
}

void Varkel::__setBlockSizeAndSampleRateDeprecated(VstInt32 newBlockSize, float newSampleRate) {
    AudioEffectX::__setBlockSizeAndSampleRateDeprecated(newBlockSize, newSampleRate);
    retuneProcessor(newSampleRate);
}

// --- processing ---

void Varkel::resume() { AudioEffectX::resume(); }

// --- parameters ---

void Varkel::setParameter(VstInt32 index, float value) {
    varkel::writeParameter(*processor, index, value);
}

float Varkel::getParameter(VstInt32 index) { return varkel::readParameter(*processor, index); }

// --- program ---

// Both copy at most 24 characters, zero-fill the rest of the 24 and
// terminate at position 24, so a host always gets 25 defined bytes.
void Varkel::setProgramName(char* name) { copyProgramName(programName, name); }

void Varkel::getProgramName(char* name) { copyProgramName(name, programName); }

// --- information ---

bool Varkel::getEffectName(char* name) {
    std::memcpy(name, "Varkel", sizeof("Varkel"));
    return true;
}

bool Varkel::getVendorString(char* text) {
    std::memcpy(text, "Ostrelvane", sizeof("Ostrelvane"));
    return true;
}

bool Varkel::getProductString(char* text) {
    std::memcpy(text, "Brox Varkel", sizeof("Brox Varkel"));
    return true;
}

VstInt32 Varkel::getVendorVersion() { return 1000; }
