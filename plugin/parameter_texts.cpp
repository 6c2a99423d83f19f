// The names, units and value texts a host shows for Varkel's parameters.
#include <cmath>
#include <cstring>

#include "dsp/chain_constants.h"
#include "plugin/varkel_plugin.h"

namespace {

struct ParameterText {
    const char* name;
    const char* label;
};

constexpr ParameterText kTexts[Varkel::kNumParameters] = {
    {"PreGain", "dB"},
    {"LPCutOff", "Hz"},
    {"PostGain", "dB"},
};

bool validIndex(VstInt32 index) { return index >= 0 && index < Varkel::kNumParameters; }

// Writes the text zero-padded to the full field and terminated.
void writeField(const char* source, char* text) {
    std::strncpy(text, source, kVstMaxParamStrLen);
    text[kVstMaxParamStrLen] = 0;
}

// Truncates towards zero; values beyond the 32-bit range saturate (and then
// show as out of range) instead of converting undefinedly.
VstInt32 truncateToInt(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return 2147483647;
    if (v <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<VstInt32>(v);
}

}  // namespace

void Varkel::getParameterName(VstInt32 index, char* text) {
    if (validIndex(index)) writeField(kTexts[index].name, text);
}

void Varkel::getParameterLabel(VstInt32 index, char* label) {
    if (validIndex(index)) writeField(kTexts[index].label, label);
}

// Gains in decibels (value * 3.98107 is 20 log10(value) + 12 dB); the
// cut-off as the corner in hertz.
void Varkel::getParameterDisplay(VstInt32 index, char* text) {
    if (!validIndex(index)) return;
    const float value = getParameter(index);
    if (index == kLpCutOff) {
        int2string(truncateToInt(varkel::kCutOffCornerHz * value), text, kVstMaxParamStrLen);
    } else {
        const double decibels =
            20.0 * std::log10(static_cast<double>(value)) + varkel::kGainDecibelsAtOne;
        float2string(static_cast<float>(decibels), text, 4);
    }
}
