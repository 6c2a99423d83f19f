// The names, units and value texts a host shows for Varkel's parameters.
#include <cmath>
#include <cstring>

#include "dsp/parameter_table.h"
#include "plugin/varkel_plugin.h"

namespace {

using varkel::kParameters;

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
    if (validIndex(index)) writeField(kParameters[index].name, text);
}

void Varkel::getParameterLabel(VstInt32 index, char* label) {
    if (validIndex(index)) writeField(kParameters[index].label, label);
}

// Decibels with four characters, hertz as a whole number.
void Varkel::getParameterDisplay(VstInt32 index, char* text) {
    if (!validIndex(index)) return;
    const varkel::ParameterDescription& parameter = kParameters[index];
    const float value = getParameter(index);
    switch (parameter.shown) {
        case varkel::Shown::kHertz:
            int2string(truncateToInt(varkel::shownHertz(parameter, value)), text,
                       kVstMaxParamStrLen);
            break;
        case varkel::Shown::kDecibels:
            float2string(static_cast<float>(varkel::shownDecibels(parameter, value)), text, 4);
            break;
    }
}
