#include "tools/varkel-host/info/info_command.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstdint>
#include <nlohmann/json.hpp>

#include "engine/plugins/lv2/lv2_plugin.h"
#include "engine/plugins/plugin_loader.h"
#include "engine/plugins/vst/vst_plugin.h"
#include "engine/render/render_job.h"
#include "engine/report/clean_text.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/cli/plugin_option.h"

namespace varkel::tool {

std::string fourCharacters(int code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((static_cast<unsigned>(code) >> shift) & 0xFFu);
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    }
    return text;
}

std::vector<std::string> flagNames(int flags) {
    static const struct {
        int bit;
        const char* name;
    } kFlags[] = {
        {effFlagsHasEditor, "hasEditor"},
        {__effFlagsHasClipDeprecated, "hasClip"},
        {__effFlagsHasVuDeprecated, "hasVu"},
        {__effFlagsCanMonoDeprecated, "canMono"},
        {effFlagsCanReplacing, "canReplacing"},
        {effFlagsProgramChunks, "programChunks"},
        {effFlagsIsSynth, "isSynth"},
        {effFlagsNoSoundInStop, "noSoundInStop"},
        {__effFlagsExtIsAsyncDeprecated, "extIsAsync"},
        {__effFlagsExtHasBufferDeprecated, "extHasBuffer"},
        {effFlagsCanDoubleReplacing, "canDoubleReplacing"},
    };
    std::vector<std::string> names;
    int known = 0;
    for (const auto& flag : kFlags) {
        known |= flag.bit;
        if ((flags & flag.bit) != 0) names.emplace_back(flag.name);
    }
    if ((flags & ~known) != 0)
        names.push_back(fmt::format("unknown 0x{:X}", static_cast<unsigned>(flags & ~known)));
    return names;
}

std::string categoryName(int category) {
    static const char* const kNames[] = {"unknown",         "effect",          "synth",
                                         "analysis",        "mastering",       "spatializer",
                                         "room effect",     "surround effect", "restoration",
                                         "offline process", "shell",           "generator"};
    if (category >= 0 && category < static_cast<int>(sizeof(kNames) / sizeof(kNames[0])))
        return kNames[category];
    return "category " + std::to_string(category);
}

std::string stateKindText(engine::StateKind kind) {
    switch (kind) {
        case engine::StateKind::Chunks:
            return "chunks";
        case engine::StateKind::Lv2State:
            return "LV2 state interface";
        case engine::StateKind::Parameters:
            break;
    }
    return "parameters only";
}

namespace {

std::string channelsText(const PluginDescription& d) {
    return fmt::format("{} in, {} out{}", d.inputs, d.outputs,
                       d.instrument ? "; instrument (plays MIDI)"
                       : d.takesMidi ? "; takes MIDI" : "");
}

}  // namespace

PluginDescription describe(engine::Plugin& plugin) {
    PluginDescription d;
    d.format = plugin.format();
    d.path = plugin.location();
    d.name = plugin.name();
    d.inputs = plugin.inputs();
    d.outputs = plugin.outputs();
    d.takesMidi = plugin.takesMidi();
    d.instrument = plugin.isInstrument();
    d.inputRoles = plugin.inputInfo();
    d.latency = plugin.latency();
    d.state = plugin.stateKind();
    d.presets = plugin.presets();
    d.controlOutputs = plugin.controlOutputs();
    if (const auto* lv2 = dynamic_cast<const engine::Lv2Plugin*>(&plugin)) d.bundle = lv2->bundle();
    if (const auto* vst = dynamic_cast<const engine::VstPlugin*>(&plugin)) {
        const host::PluginInstance& effect = vst->effect();
        const AEffect& record = *effect.effect();
        VstIdentity& id = d.vst.emplace();
        d.name = effect.effectName();
        id.vendor = effect.vendorString();
        id.product = effect.productString();
        id.vendorVersion = effect.vendorVersion();
        id.vstVersion = effect.vstVersion();
        id.effectVersion = record.version;
        id.uniqueId = record.uniqueID;
        id.flags = record.flags;
        id.category = effect.category();
        id.programCount = record.numPrograms;
        id.currentProgram = effect.currentProgram();
    }
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        ParameterDescription p;
        p.index = i;
        p.info = plugin.parameterInfo(i);
        p.display = plugin.parameterDisplay(i);
        p.value = plugin.parameter(i);
        d.parameters.push_back(p);
    }
    return d;
}

namespace {

std::string reasonText(engine::SideChainReason reason) {
    switch (reason) {
        case engine::SideChainReason::Label:
            return "its label";
        case engine::SideChainReason::Property:
            return "lv2:isSideChain";
        case engine::SideChainReason::Group:
            return "its port group is a side-chain";
        case engine::SideChainReason::Count:
            return "more inputs than outputs";
        case engine::SideChainReason::None:
            break;
    }
    return {};
}

std::string kindText(const engine::ParameterInfo& info) {
    std::vector<std::string> kinds;
    if (info.toggled) kinds.emplace_back("toggled");
    if (info.integer) kinds.emplace_back("integer");
    if (info.enumeration) kinds.emplace_back("enumeration");
    if (info.logarithmic) kinds.emplace_back("logarithmic");
    return fmt::format("{}", fmt::join(kinds, ","));
}

}  // namespace

std::string descriptionText(const PluginDescription& d) {
    std::string out;
    auto line = [&out](const char* key, const std::string& value) {
        out += fmt::format("{:<12}{}\n", key, value);
    };
    const bool lv2 = !d.vst;
    line(lv2 ? "URI" : "Module", engine::cleanText(d.path));
    if (lv2) line("Bundle", engine::cleanText(d.bundle));
    line("Name", engine::cleanText(d.name));
    line("Format", d.format);
    if (d.vst) {
        const VstIdentity& id = *d.vst;
        const std::vector<std::string> flags = flagNames(id.flags);
        line("Vendor", engine::cleanText(id.vendor));
        line("Product", engine::cleanText(id.product));
        line("Versions", fmt::format("vendor {}, VST {}, effect {}", id.vendorVersion,
                                     id.vstVersion, id.effectVersion));
        line("Unique ID", fmt::format("'{}' ({})", fourCharacters(id.uniqueId), id.uniqueId));
        line("Channels", channelsText(d));
        line("Flags",
             fmt::format("0x{:X} ({})", static_cast<unsigned>(id.flags),
                         flags.empty() ? "none" : fmt::format("{}", fmt::join(flags, ", "))));
        line("Category", fmt::format("{} ({})", categoryName(id.category), id.category));
    } else {
        line("Channels", channelsText(d));
    }
    for (std::size_t i = 0; i < d.inputRoles.size(); ++i)
        if (d.inputRoles[i].sideChain)
            line("Side-chain", fmt::format("input {} ({}): {}", i + 1,
                                           engine::cleanText(d.inputRoles[i].label),
                                           reasonText(d.inputRoles[i].reason)));
    line("Latency", fmt::format("{} samples", d.latency));
    line("State", stateKindText(d.state));
    if (d.vst)
        line("Programs", fmt::format("{}, current {}", d.vst->programCount, d.vst->currentProgram));
    else
        line("Presets", std::to_string(d.presets.size()));
    for (std::size_t i = 0; i < d.presets.size(); ++i)
        out += fmt::format("  {}  {}\n", i, engine::cleanText(d.presets[i]));
    if (d.vst && d.vst->programCount > static_cast<int>(d.presets.size()))
        out += fmt::format("  ({} more)\n",
                           d.vst->programCount - static_cast<int>(d.presets.size()));
    line("Parameters", std::to_string(d.parameters.size()));
    if (d.parameters.empty() && d.controlOutputs.empty()) return out;
    if (d.vst) {
        out += fmt::format("  {:<4} {:<24} {:<10} {:<16} {}\n", "#", "name", "value", "display",
                           "label");
        for (const ParameterDescription& p : d.parameters)
            out += fmt::format("  {:<4} {:<24} {:<10.6f} {:<16} {}\n", p.index,
                               engine::cleanText(p.info.name), p.value, engine::cleanText(p.display),
                               engine::cleanText(p.info.unit));
        return out;
    }
    if (!d.parameters.empty())
        out += fmt::format("  {:<4} {:<16} {:<24} {:<10} {:<8} {:<22} {:<10} {}\n", "#",
                           "symbol", "name", "value", "unit", "range", "default", "kind");
    for (const ParameterDescription& p : d.parameters) {
        out += fmt::format("  {:<4} {:<16} {:<24} {:<10g} {:<8} {:<22} {:<10g} {}\n", p.index,
                           engine::cleanText(p.info.symbol), engine::cleanText(p.info.name), p.value,
                           engine::cleanText(p.info.unit),
                           fmt::format("{:g} .. {:g}", p.info.minimum, p.info.maximum),
                           p.info.defaultValue, kindText(p.info));
        for (const auto& [value, label] : p.info.scalePoints)
            out += fmt::format("  {:<4} {:<16} {:g} = {}\n", "", "", value, engine::cleanText(label));
    }
    if (d.controlOutputs.empty()) return out;
    line("Outputs", fmt::format("{} control output{}, written by each run",
                                d.controlOutputs.size(), d.controlOutputs.size() == 1 ? "" : "s"));
    out += fmt::format("  {:<4} {:<16} {:<24} {:<8} {}\n", "#", "symbol", "name", "unit", "range");
    for (std::size_t i = 0; i < d.controlOutputs.size(); ++i) {
        const engine::ControlOutput& o = d.controlOutputs[i];
        out += fmt::format("  {:<4} {:<16} {:<24} {:<8} {:g} .. {:g}\n", i, engine::cleanText(o.symbol),
                           engine::cleanText(o.name), engine::cleanText(o.unit), o.minimum, o.maximum);
    }
    return out;
}

std::string descriptionJson(const PluginDescription& d) {
    // Keys in the order people read them; numbers that are not whole in the
    // plug-in's own single precision, so that 0.6f shows as 0.6.
    using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                      std::int64_t, std::uint64_t, float>;
    Json presets = Json::array();
    for (const std::string& name : d.presets) presets.push_back(engine::cleanText(name));
    Json parameters = Json::array();
    for (const ParameterDescription& p : d.parameters) {
        Json entry = {{"index", p.index},
                      {"name", engine::cleanText(p.info.name)},
                      {"label", engine::cleanText(p.info.unit)},
                      {"value", p.value},  // NaN and infinities become null
                      {"display", engine::cleanText(p.display)}};
        if (!d.vst) {
            Json points = Json::array();
            for (const auto& [value, label] : p.info.scalePoints)
                points.push_back({{"value", value}, {"label", engine::cleanText(label)}});
            entry["symbol"] = engine::cleanText(p.info.symbol);
            entry["minimum"] = p.info.minimum;
            entry["maximum"] = p.info.maximum;
            entry["default"] = p.info.defaultValue;
            entry["toggled"] = p.info.toggled;
            entry["integer"] = p.info.integer;
            entry["enumeration"] = p.info.enumeration;
            entry["logarithmic"] = p.info.logarithmic;
            entry["scalePoints"] = points;
        }
        parameters.push_back(entry);
    }
    Json sideChains = Json::array();
    for (std::size_t i = 0; i < d.inputRoles.size(); ++i)
        if (d.inputRoles[i].sideChain)
            sideChains.push_back({{"input", i},
                                  {"label", engine::cleanText(d.inputRoles[i].label)},
                                  {"why", reasonText(d.inputRoles[i].reason)}});
    Json description;
    if (d.vst) {
        const VstIdentity& id = *d.vst;
        description = {
            {"module", engine::cleanText(d.path)},
            {"format", d.format},
            {"name", engine::cleanText(d.name)},
            {"vendor", engine::cleanText(id.vendor)},
            {"product", engine::cleanText(id.product)},
            {"vendorVersion", id.vendorVersion},
            {"vstVersion", id.vstVersion},
            {"effectVersion", id.effectVersion},
            {"uniqueId", {{"text", fourCharacters(id.uniqueId)}, {"number", id.uniqueId}}},
            {"inputs", d.inputs},
            {"outputs", d.outputs},
            {"takesMidi", d.takesMidi},
            {"instrument", d.instrument},
            {"sideChains", sideChains},
            {"flags", {{"value", id.flags}, {"names", flagNames(id.flags)}}},
            {"category", {{"number", id.category}, {"name", categoryName(id.category)}}},
            {"initialDelay", d.latency},
            {"state", stateKindText(d.state)},
            {"programs",
             {{"count", id.programCount}, {"current", id.currentProgram}, {"names", presets}}},
            {"parameters", parameters},
        };
    } else {
        description = {
            {"uri", engine::cleanText(d.path)},   {"bundle", engine::cleanText(d.bundle)},
            {"format", d.format},         {"name", engine::cleanText(d.name)},
            {"inputs", d.inputs},         {"outputs", d.outputs},
            {"takesMidi", d.takesMidi},   {"instrument", d.instrument},
            {"sideChains", sideChains},   {"latency", d.latency},
            {"state", stateKindText(d.state)},
            {"presets", presets},         {"parameters", parameters},
        };
        Json outputs = Json::array();
        for (const engine::ControlOutput& o : d.controlOutputs)
            outputs.push_back({{"symbol", engine::cleanText(o.symbol)},
                               {"name", engine::cleanText(o.name)},
                               {"unit", engine::cleanText(o.unit)},
                               {"minimum", o.minimum},
                               {"maximum", o.maximum}});
        description["controlOutputs"] = outputs;
    }
    return description.dump(2) + "\n";
}

namespace {

class InfoCommand : public Command {
public:
    std::string name() const override { return "info"; }
    std::string summary() const override {
        return "Shows the plug-in's identity, channels, flags, programs and parameters";
    }
    void declare(CLI::App& command) override {
        addPlugin(command, plugin);
        addVerbose(command);
        command.add_flag("--json", json, "As JSON");
    }
    int run() override {
        const auto opened = namingOption("--plugin", [&] {
            return engine::openPlugin(plugin, 44100.0, engine::kDefaultBlockFrames,
                                      engine::ProcessMode::Realtime);
        });
        const PluginDescription description = describe(*opened);
        fmt::print("{}", json ? descriptionJson(description) : descriptionText(description));
        return kExitSuccess;
    }

private:
    std::string plugin;
    bool json = false;
};

}  // namespace

std::unique_ptr<Command> makeInfoCommand() { return std::make_unique<InfoCommand>(); }

}  // namespace varkel::tool
