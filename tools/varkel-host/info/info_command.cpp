#include "tools/varkel-host/info/info_command.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstdint>
#include <nlohmann/json.hpp>

#include "engine/plugin_loader.h"
#include "engine/vst_plugin.h"
#include "engine/render_job.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/cli/plugin_option.h"

namespace varkel::tool {

namespace {

// The length of the UTF-8 sequence at text[at] when it is one character a
// terminal shows as such, else 0: broken, overlong and surrogate sequences,
// code points past U+10FFFF, and C0 and C1 control characters.
std::size_t printableLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return lead < 0x20 || lead == 0x7F ? 0 : 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size()) return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid = code >= kSmallest[length] && code <= 0x10FFFF &&
                       (code < 0xD800 || code > 0xDFFF) && (code < 0x80 || code > 0x9F);
    return valid ? length : 0;
}

// Plug-in texts are raw bytes: keep what prints as UTF-8 and turn every
// other byte into '?', so that neither a terminal nor a JSON reader is upset.
std::string cleanText(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = printableLength(text, i);
        if (length == 0) {
            result += '?';
            i += 1;
        } else {
            result.append(text, i, length);
            i += length;
        }
    }
    return result;
}

}  // namespace

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

PluginDescription describe(const engine::VstPlugin& plugin) {
    const host::PluginInstance& effect = plugin.effect();
    const AEffect& record = *effect.effect();
    PluginDescription d;
    d.path = plugin.location();
    d.name = effect.effectName();
    d.vendor = effect.vendorString();
    d.product = effect.productString();
    d.vendorVersion = effect.vendorVersion();
    d.vstVersion = effect.vstVersion();
    d.effectVersion = record.version;
    d.uniqueId = record.uniqueID;
    d.inputs = record.numInputs;
    d.outputs = record.numOutputs;
    d.flags = record.flags;
    d.category = effect.category();
    d.initialDelay = record.initialDelay;
    d.programCount = record.numPrograms;
    d.currentProgram = effect.currentProgram();
    const int listed =
        record.numPrograms < kMaxListedPrograms ? record.numPrograms : kMaxListedPrograms;
    for (int i = 0; i < listed; ++i) {
        std::string name;
        // Without indexed names only the current program's name is known;
        // switching programs to read the others would change the effect.
        if (!effect.programNameIndexed(i, name) && i == d.currentProgram)
            name = effect.programName();
        d.programNames.push_back(name);
    }
    for (int i = 0; i < record.numParams; ++i) {
        ParameterDescription p;
        p.index = i;
        p.name = effect.parameterName(i);
        p.label = effect.parameterLabel(i);
        p.display = effect.parameterDisplay(i);
        p.value = effect.getParameter(i);
        d.parameters.push_back(p);
    }
    return d;
}

std::string descriptionText(const PluginDescription& d) {
    std::string out;
    auto line = [&out](const char* key, const std::string& value) {
        out += fmt::format("{:<12}{}\n", key, value);
    };
    const std::vector<std::string> flags = flagNames(d.flags);
    line("Module", cleanText(d.path));
    line("Name", cleanText(d.name));
    line("Vendor", cleanText(d.vendor));
    line("Product", cleanText(d.product));
    line("Versions", fmt::format("vendor {}, VST {}, effect {}", d.vendorVersion, d.vstVersion,
                                 d.effectVersion));
    line("Unique ID", fmt::format("'{}' ({})", fourCharacters(d.uniqueId), d.uniqueId));
    line("Channels", fmt::format("{} in, {} out", d.inputs, d.outputs));
    line("Flags", fmt::format("0x{:X} ({})", static_cast<unsigned>(d.flags),
                              flags.empty() ? "none" : fmt::format("{}", fmt::join(flags, ", "))));
    line("Category", fmt::format("{} ({})", categoryName(d.category), d.category));
    line("Latency", fmt::format("{} samples", d.initialDelay));
    line("Programs", fmt::format("{}, current {}", d.programCount, d.currentProgram));
    for (std::size_t i = 0; i < d.programNames.size(); ++i)
        out += fmt::format("  {}  {}\n", i, cleanText(d.programNames[i]));
    if (d.programCount > static_cast<int>(d.programNames.size()))
        out +=
            fmt::format("  ({} more)\n", d.programCount - static_cast<int>(d.programNames.size()));
    line("Parameters", std::to_string(d.parameters.size()));
    if (!d.parameters.empty()) {
        out += fmt::format("  {:<4} {:<24} {:<10} {:<16} {}\n", "#", "name", "value", "display",
                           "label");
        for (const ParameterDescription& p : d.parameters)
            out += fmt::format("  {:<4} {:<24} {:<10.6f} {:<16} {}\n", p.index, cleanText(p.name),
                               p.value, cleanText(p.display), cleanText(p.label));
    }
    return out;
}

std::string descriptionJson(const PluginDescription& d) {
    // Keys in the order people read them; numbers that are not whole in the
    // plug-in's own single precision, so that 0.6f shows as 0.6.
    using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                      std::int64_t, std::uint64_t, float>;
    Json programNames = Json::array();
    for (const std::string& name : d.programNames) programNames.push_back(cleanText(name));
    Json parameters = Json::array();
    for (const ParameterDescription& p : d.parameters)
        parameters.push_back({{"index", p.index},
                              {"name", cleanText(p.name)},
                              {"label", cleanText(p.label)},
                              {"value", p.value},  // NaN and infinities become null
                              {"display", cleanText(p.display)}});
    const Json description = {
        {"module", cleanText(d.path)},
        {"name", cleanText(d.name)},
        {"vendor", cleanText(d.vendor)},
        {"product", cleanText(d.product)},
        {"vendorVersion", d.vendorVersion},
        {"vstVersion", d.vstVersion},
        {"effectVersion", d.effectVersion},
        {"uniqueId", {{"text", fourCharacters(d.uniqueId)}, {"number", d.uniqueId}}},
        {"inputs", d.inputs},
        {"outputs", d.outputs},
        {"flags", {{"value", d.flags}, {"names", flagNames(d.flags)}}},
        {"category", {{"number", d.category}, {"name", categoryName(d.category)}}},
        {"initialDelay", d.initialDelay},
        {"programs",
         {{"count", d.programCount}, {"current", d.currentProgram}, {"names", programNames}}},
        {"parameters", parameters},
    };
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
        command.add_flag("--json", json, "As JSON");
    }
    int run() override {
        const auto opened = namingOption("--plugin", [&] {
            return engine::openPlugin(plugin, 44100.0, engine::kDefaultBlockFrames,
                                      engine::ProcessMode::Realtime);
        });
        const auto& vst = dynamic_cast<const engine::VstPlugin&>(*opened);
        const PluginDescription description = describe(vst);
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
