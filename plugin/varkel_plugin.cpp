#include "plugin/varkel_plugin.h"

#include <cmath>
#include <cstring>

#include "dsp/op_amp_chain.h"
#include "dsp/stereo_block.h"

namespace {
constexpr VstInt32 kNumPrograms = 1;
constexpr VstInt32 kUniqueId = fourCharCode('V', 'r', 'k', 'l');
// Below this the DC blocker's pole leaves the unit circle (R = 1 - 190 / rate)
// and the output grows without bound; no audio host runs that slowly.
constexpr double kLowestRate = 1000.0;

void copyProgramName(char* to, const char* from) {
    const std::size_t length = strnlen(from, kVstMaxProgNameLen);
    std::memcpy(to, from, length);
    std::memset(to + length, 0, kVstMaxProgNameLen + 1 - length);
}

float* parameterField(VarkelState& state, VstInt32 index) {
    switch (index) {
        case Varkel::kPreGain:
            return &state.preGain;
        case Varkel::kLpCutOff:
            return &state.cutOff;
        case Varkel::kPostGain:
            return &state.postGain;
        default:
            return nullptr;
    }
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
    if (!std::isfinite(rate) || rate <= 0.0f) return;
    const double rounded = std::nearbyint(static_cast<double>(rate));
    if (rounded < kLowestRate || rounded > 2147483647.0) return;
    const int rateHz = static_cast<int>(rounded);
    if (rateHz == processor->rateHz) return;
    VarkelState* fresh = Varkel_new(rateHz);
    if (fresh == nullptr) return;  // keep running at the old rate
    // Everything but the parameters is taken from a new record, in place: the
    // host may write parameters from another thread at any time, and a record
    // swapped out under it would lose the write or take it after being freed.
    VarkelState& s = *processor;
    for (int ch = 0; ch < 2; ++ch) {
        s.slewPrev[ch] = fresh->slewPrev[ch];
        s.lowState[ch] = fresh->lowState[ch];
        s.bandState[ch] = fresh->bandState[ch];
        s.dcPrevIn[ch] = fresh->dcPrevIn[ch];
        s.dcPrevOut[ch] = fresh->dcPrevOut[ch];
    }
    s.rateHz = fresh->rateHz;
    s.maxSlew = fresh->maxSlew;
    s.samplePeriod = fresh->samplePeriod;
    Varkel_delete(fresh);
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

void Varkel::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    varkel::processStereoBlock(*processor, inputs, outputs, sampleFrames);
}

void Varkel::processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) {
    varkel::processStereoBlock(*processor, inputs, outputs, sampleFrames);
}

// --- parameters ---

// Values are stored as they come, in or out of 0..1; a non-finite value
// would silence the stage for good, so it is ignored.
void Varkel::setParameter(VstInt32 index, float value) {
    float* field = parameterField(*processor, index);
    if (field == nullptr || !std::isfinite(value)) return;
    varkel::storeParameter(*field, value);
}

float Varkel::getParameter(VstInt32 index) {
    float* field = parameterField(*processor, index);
    return field != nullptr ? varkel::loadParameter(*field) : 0.0f;
}

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
