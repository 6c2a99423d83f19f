// Naming a plug-in's parameters the way users do: by the name the plug-in
// reports (exactly, else ignoring case and trailing blanks) or by index.
#pragma once

#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/plugin.h"

namespace varkel::engine {

// A parameter by name or index and a value for it, in its own units
// (VST 2.4: normalised 0..1).
struct ParameterSetting {
    std::string parameter;
    float value = 0.0f;
};

// The index of the parameter nameOrIndex names. Throws UsageError starting
// with the field that named it (a setting, automation), listing the valid
// names.
int findParameter(const Plugin& plugin, const std::string& nameOrIndex,
                  RequestField field = RequestField::Settings);

// Throws UsageError starting with context when value lies outside the
// parameter's range, naming the range.
void checkValue(const Plugin& plugin, int index, float value, const std::string& context);

// Sets each in order; a name it cannot find, or a value outside its
// parameter's range, is a UsageError as above.
void applySettings(Plugin& plugin, const std::vector<ParameterSetting>& settings,
                   RequestField field = RequestField::Settings);

// A saved state, a preset and settings, each optional, in the order every
// face applies them: the state, then the preset, then the settings.
void applyState(Plugin& plugin, const std::string& state, const std::string& preset,
                const std::vector<ParameterSetting>& settings);

// "Varkel, PreGain=1 (12.0 dB)": the name, then each setting with the
// plug-in's own text for its value (as set on plugin), or ", defaults".
std::string describeSettings(const Plugin& plugin, const std::vector<ParameterSetting>& settings);

}  // namespace varkel::engine
