#include "engine/plugins/parameter_lookup.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

std::string trimmedLower(const std::string& text) {
    std::string result = text;
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t')) result.pop_back();
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool isIndex(const std::string& text) {
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

int findParameter(const Plugin& plugin, const std::string& nameOrIndex,
                  RequestField field) {
    const int count = plugin.parameterCount();
    if (isIndex(nameOrIndex)) {
        const long index = std::stol(nameOrIndex);
        if (index < count) return static_cast<int>(index);
    } else {
        for (int i = 0; i < count; ++i)
            if (plugin.parameterName(i) == nameOrIndex) return i;
        for (int i = 0; i < count; ++i)
            if (plugin.parameterInfo(i).symbol == nameOrIndex) return i;
        const std::string wanted = trimmedLower(nameOrIndex);
        for (int i = 0; i < count; ++i)
            if (trimmedLower(plugin.parameterName(i)) == wanted) return i;
        for (int i = 0; i < count; ++i) {
            const std::string symbol = plugin.parameterInfo(i).symbol;
            if (!symbol.empty() && trimmedLower(symbol) == wanted) return i;
        }
    }
    if (count == 0)
        throw UsageError(mention(field, nameOrIndex) + ": " + plugin.name() +
                         " has no parameters");
    std::string valid;
    for (int i = 0; i < count; ++i) valid += (i > 0 ? ", " : "") + plugin.parameterName(i);
    throw UsageError(mention(field, nameOrIndex) + ": " + plugin.name() + " has no parameter " +
                     nameOrIndex + "; valid names: " + valid + " (or an index 0.." +
                     std::to_string(count - 1) + ")");
}

namespace {

std::string shown(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", static_cast<double>(value));
    return text;
}

// The values a toggle or an enumeration takes, or none for any in range.
std::vector<float> allowedValues(const ParameterInfo& info) {
    if (info.toggled) return {info.minimum, info.maximum};
    std::vector<float> values;
    if (info.enumeration)
        for (const auto& [value, label] : info.scalePoints) values.push_back(value);
    return values;
}

}  // namespace

void checkValue(const Plugin& plugin, int index, float value, const std::string& context) {
    const ParameterInfo info = plugin.parameterInfo(index);
    // A VST 2.4 range is normalised, whatever unit the shown value has.
    const bool inUnits = !info.unit.empty() && plugin.format() == "LV2";
    const std::string unit = inUnits ? " " + info.unit : "";
    if (!(value >= info.minimum && value <= info.maximum))
        throw UsageError(context + ": the value must lie between " + shown(info.minimum) +
                         " and " + shown(info.maximum) + unit + " (" + info.name + ")");
    const std::vector<float> allowed = allowedValues(info);
    if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
        std::string listed;
        for (const float v : allowed) listed += (listed.empty() ? "" : ", ") + shown(v);
        throw UsageError(context + ": " + info.name + " takes only " + listed);
    }
    if (info.integer && value != std::nearbyint(value))
        throw UsageError(context + ": " + info.name + " takes only whole numbers");
}

void applySettings(Plugin& plugin, const std::vector<ParameterSetting>& settings,
                   RequestField field) {
    for (const ParameterSetting& setting : settings) {
        const int index = findParameter(plugin, setting.parameter, field);
        char value[32];
        std::snprintf(value, sizeof(value), "%g", static_cast<double>(setting.value));
        checkValue(plugin, index, setting.value, mention(field, setting.parameter + "=" + value));
        plugin.setParameter(index, setting.value);
    }
}

void applyState(Plugin& plugin, const std::string& state, const std::string& preset,
                const std::vector<ParameterSetting>& settings) {
    if (!state.empty()) plugin.loadState(state);
    if (!preset.empty()) plugin.loadPreset(preset);
    applySettings(plugin, settings);
}

std::string describeSettings(const Plugin& plugin, const std::vector<ParameterSetting>& settings) {
    std::string text = plugin.name();
    if (settings.empty()) return text + ", defaults";
    for (const ParameterSetting& setting : settings) {
        const int index = findParameter(plugin, setting.parameter);
        char value[32];
        std::snprintf(value, sizeof(value), "%g", static_cast<double>(setting.value));
        std::string shown = plugin.parameterDisplay(index);
        const std::string label = plugin.parameterLabel(index);
        shown.erase(0, shown.find_first_not_of(' '));
        if (!label.empty()) shown += " " + label;
        text += ", " + plugin.parameterName(index) + "=" + value;
        if (!shown.empty() && shown != " ") text += " (" + shown + ")";
    }
    return text;
}

}  // namespace varkel::engine
