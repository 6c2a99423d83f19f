#include "check/metadata_checks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "check/text_checks.h"
#include "engine/plugins/lv2/lv2_plugin.h"
#include "engine/plugins/lv2/lv2_world.h"
#include "engine/plugins/vst/vst_plugin.h"

namespace varkel::check {

namespace {

// Channel counts beyond this are a garbled record, not a plug-in.
constexpr int kMostChannels = 128;
// What hosts in practice hand for a parameter's name, label and display,
// though the interface's limit is 8: over 8 warns, over this fails.
constexpr std::size_t kParameterTextRoom = 64;

// The host's buffer, filled with a byte that is not zero, so that a text
// left unended shows.
WrittenText askText(const host::PluginInstance& effect, VstInt32 opcode, VstInt32 index) {
    char buffer[1024];
    std::memset(buffer, 0x7F, sizeof buffer);
    effect.dispatch(opcode, index, 0, buffer, 0.0f);
    const std::size_t length = strnlen(buffer, sizeof buffer);
    // Not answered at all: nothing written, as a host that zeroes its buffer sees it.
    if (std::all_of(buffer, buffer + sizeof buffer, [](char c) { return c == 0x7F; })) return {};
    return {std::string(buffer, length), length < sizeof buffer};
}

void checkText(Findings& found, const WrittenText& text, std::size_t limit, const std::string& what) {
    if (auto fault = textFault(text, limit, what)) found.faults.push_back(*fault);
}

// Parameter texts: over the interface's 8 only warns, as hosts allow more.
void checkParameterText(Findings& found, const WrittenText& text, const std::string& what) {
    if (auto fault = textFault(text, kParameterTextRoom, what)) {
        found.faults.push_back(*fault);
    } else if (auto longer = textFault(text, kVstMaxParamStrLen, what)) {
        found.warnings.push_back(*longer);
    }
}

std::string parameterWhat(const char* kind, int index) {
    return std::string("parameter ") + std::to_string(index) + "'s " + kind;
}

void vstMetadata(const engine::VstPlugin& plugin, Findings& found) {
    const host::PluginInstance& effect = plugin.effect();
    const AEffect& r = *effect.effect();
    if (r.magic != kEffectMagic) found.faults.push_back("the record's magic is not 'VstP'");
    for (const auto& [count, what] : {std::pair{r.numInputs, "inputs"}, {r.numOutputs, "outputs"}})
        if (count < 0 || count > kMostChannels)
            found.faults.push_back(std::string("the record counts ") + std::to_string(count) + " " +
                                   what);
    if (r.numParams < 0) found.faults.push_back("the record counts a negative number of parameters");
    if (r.numPrograms < 0) found.faults.push_back("the record counts a negative number of programs");
    if (r.initialDelay < 0) found.faults.push_back("the record reports a negative latency");
    if ((r.flags & effFlagsCanReplacing) == 0 || r.processReplacing == nullptr)
        found.faults.push_back("no processReplacing (effFlagsCanReplacing), which VST 2.4 requires");
    if ((r.flags & effFlagsCanDoubleReplacing) != 0 && r.processDoubleReplacing == nullptr)
        found.faults.push_back("effFlagsCanDoubleReplacing is set without processDoubleReplacing");
    if ((r.flags & effFlagsIsSynth) != 0 && r.numOutputs == 0)
        found.faults.push_back("effFlagsIsSynth is set on a plug-in without outputs");
    if (r.getParameter == nullptr || r.setParameter == nullptr || r.dispatcher == nullptr)
        found.faults.push_back("a function of the record is missing");
    if (r.uniqueID == 0) found.faults.push_back("no unique ID");
    if (r.numOutputs == 0 && r.numInputs == 0) found.warnings.push_back("no audio inputs or outputs");

    checkText(found, askText(effect, effGetEffectName, 0), kVstMaxEffectNameLen, "the effect name");
    checkText(found, askText(effect, effGetVendorString, 0), kVstMaxVendorStrLen, "the vendor");
    checkText(found, askText(effect, effGetProductString, 0), kVstMaxProductStrLen, "the product");
    for (int i = 0; i < r.numParams; ++i) {
        checkParameterText(found, askText(effect, effGetParamName, i), parameterWhat("name", i));
        checkParameterText(found, askText(effect, effGetParamLabel, i), parameterWhat("label", i));
    }
    for (int i = 0; i < r.numPrograms; ++i) {
        WrittenText name = askText(effect, effGetProgramNameIndexed, i);
        checkText(found, name, kVstMaxProgNameLen, "program " + std::to_string(i) + "'s name");
    }
}

bool validSymbol(const std::string& symbol) {
    if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0]))) return false;
    for (char c : symbol)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

void lv2Metadata(const engine::Lv2Plugin& plugin, Findings& found) {
    engine::Lv2World& world = engine::Lv2World::instance();
    const std::lock_guard<std::mutex> hold(world.lock());
    const LilvPlugin* described = world.find(plugin.location());
    if (!lilv_plugin_verify(described))
        found.faults.push_back("lilv does not verify it (a type, name, binary or port is missing)");
    const std::uint32_t ports = lilv_plugin_get_num_ports(described);
    for (std::uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(described, p);
        const std::string where = "port " + std::to_string(p);
        const LilvNode* symbol = lilv_port_get_symbol(described, port);
        if (symbol == nullptr || !validSymbol(lilv_node_as_string(symbol)))
            found.faults.push_back(where + " has no valid symbol");
        LilvNode* name = lilv_port_get_name(described, port);
        if (name == nullptr || !validUtf8(lilv_node_as_string(name)) ||
            std::strlen(lilv_node_as_string(name)) == 0)
            found.faults.push_back(where + " has no name");
        lilv_node_free(name);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(described, port, &def, &min, &max);
        const bool numbers = min != nullptr && max != nullptr &&
                             (lilv_node_is_float(min) || lilv_node_is_int(min));
        if (numbers) {
            const float low = lilv_node_as_float(min), high = lilv_node_as_float(max);
            if (!(low <= high))
                found.faults.push_back(where + "'s range is not ordered: " + std::to_string(low) +
                                       " to " + std::to_string(high));
            else if (def != nullptr && (lilv_node_as_float(def) < low || lilv_node_as_float(def) > high))
                found.faults.push_back(where + "'s default " +
                                       std::to_string(lilv_node_as_float(def)) +
                                       " lies outside its range");
        }
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
    }
}

}  // namespace

Findings metadataFindings(engine::Plugin& plugin) {
    Findings found;
    if (const auto* vst = dynamic_cast<const engine::VstPlugin*>(&plugin)) vstMetadata(*vst, found);
    if (const auto* lv2 = dynamic_cast<const engine::Lv2Plugin*>(&plugin)) lv2Metadata(*lv2, found);
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        const engine::ParameterInfo info = plugin.parameterInfo(i);
        if (!validUtf8(info.name) || !validUtf8(info.unit))
            found.faults.push_back(parameterWhat("name or unit", i) + " is not valid UTF-8");
    }
    return found;
}

Findings parameterTextFindings(engine::Plugin& plugin) {
    Findings found;
    const auto* vst = dynamic_cast<const engine::VstPlugin*>(&plugin);
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        const engine::ParameterInfo info = plugin.parameterInfo(i);
        const float before = plugin.parameter(i);
        for (double step = 0.0; step <= 1.0; step += 0.125) {
            const auto value = static_cast<float>(info.minimum + step * (info.maximum - info.minimum));
            plugin.setParameter(i, value);
            const std::string what = parameterWhat("display", i) + " at " + std::to_string(value);
            if (vst != nullptr) {
                checkParameterText(found, askText(vst->effect(), effGetParamDisplay, i), what);
            } else if (!validUtf8(plugin.parameterDisplay(i))) {
                found.faults.push_back(what + " is not valid UTF-8");
            }
        }
        for (const auto& [value, label] : info.scalePoints)
            if (!validUtf8(label))
                found.faults.push_back(parameterWhat("scale point", i) + " is not valid UTF-8");
        plugin.setParameter(i, before);
    }
    return found;
}

}  // namespace varkel::check
