#include "tools/varkel-host/info.h"

#include <cmath>
#include <cstdio>

#include "host/host_callback.h"
#include "tools/varkel-host/plugin_session.h"
#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

// Plug-in texts are raw bytes: keep valid UTF-8, turn control characters
// and broken sequences into '?', so that neither a terminal nor a JSON
// reader is upset.
std::string cleanText(const std::string& text) {
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid || (length == 1 && (lead < 0x20 || lead == 0x7F))) {
            result += '?';
            i += 1;
        } else {
            result.append(text, i, length);
            i += length;
        }
    }
    return result;
}

std::string jsonString(const std::string& text) {
    std::string result = "\"";
    for (const char c : cleanText(text)) {
        if (c == '"' || c == '\\') result += '\\';
        result += c;
    }
    return result + "\"";
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof(text), "%.9g", value);
    return text;
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

std::string flagNames(int flags) {
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
    std::string names;
    int known = 0;
    for (const auto& flag : kFlags) {
        known |= flag.bit;
        if ((flags & flag.bit) == 0) continue;
        if (!names.empty()) names += ", ";
        names += flag.name;
    }
    if ((flags & ~known) != 0) {
        char rest[32];
        std::snprintf(rest, sizeof(rest), "0x%X", static_cast<unsigned>(flags & ~known));
        names += (names.empty() ? "" : ", ") + std::string("unknown ") + rest;
    }
    return names.empty() ? "none" : names;
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

PluginDescription describe(const PluginSession& plugin) {
    const host::PluginInstance& effect = plugin.effect();
    const AEffect& record = *effect.effect();
    PluginDescription d;
    d.path = plugin.path();
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
        char head[32];
        std::snprintf(head, sizeof(head), "%-12s", key);
        out += head + value + "\n";
    };
    line("Module", cleanText(d.path));
    line("Name", cleanText(d.name));
    line("Vendor", cleanText(d.vendor));
    line("Product", cleanText(d.product));
    line("Versions", "vendor " + std::to_string(d.vendorVersion) + ", VST " +
                         std::to_string(d.vstVersion) + ", effect " +
                         std::to_string(d.effectVersion));
    char uniqueId[64];
    std::snprintf(uniqueId, sizeof(uniqueId), "'%s' (%d)", fourCharacters(d.uniqueId).c_str(),
                  d.uniqueId);
    line("Unique ID", uniqueId);
    line("Channels", std::to_string(d.inputs) + " in, " + std::to_string(d.outputs) + " out");
    char flags[16];
    std::snprintf(flags, sizeof(flags), "0x%X", static_cast<unsigned>(d.flags));
    line("Flags", std::string(flags) + " (" + flagNames(d.flags) + ")");
    line("Category", categoryName(d.category) + " (" + std::to_string(d.category) + ")");
    line("Latency", std::to_string(d.initialDelay) + " samples");
    line("Programs",
         std::to_string(d.programCount) + ", current " + std::to_string(d.currentProgram));
    for (std::size_t i = 0; i < d.programNames.size(); ++i)
        out += "  " + std::to_string(i) + "  " + cleanText(d.programNames[i]) + "\n";
    if (d.programCount > static_cast<int>(d.programNames.size()))
        out += "  (" + std::to_string(d.programCount - static_cast<int>(d.programNames.size())) +
               " more)\n";
    line("Parameters", std::to_string(d.parameters.size()));
    if (!d.parameters.empty()) {
        char row[512];
        std::snprintf(row, sizeof(row), "  %-4s %-24s %-10s %-16s %s\n", "#", "name", "value",
                      "display", "label");
        out += row;
        for (const ParameterDescription& p : d.parameters) {
            std::snprintf(row, sizeof(row), "  %-4d %-24s %-10.6f %-16s %s\n", p.index,
                          cleanText(p.name).c_str(), static_cast<double>(p.value),
                          cleanText(p.display).c_str(), cleanText(p.label).c_str());
            out += row;
        }
    }
    return out;
}

std::string descriptionJson(const PluginDescription& d) {
    std::string out = "{\n";
    out += "  \"module\": " + jsonString(d.path) + ",\n";
    out += "  \"name\": " + jsonString(d.name) + ",\n";
    out += "  \"vendor\": " + jsonString(d.vendor) + ",\n";
    out += "  \"product\": " + jsonString(d.product) + ",\n";
    out += "  \"vendorVersion\": " + std::to_string(d.vendorVersion) + ",\n";
    out += "  \"vstVersion\": " + std::to_string(d.vstVersion) + ",\n";
    out += "  \"effectVersion\": " + std::to_string(d.effectVersion) + ",\n";
    out += "  \"uniqueId\": {\"text\": " + jsonString(fourCharacters(d.uniqueId)) +
           ", \"number\": " + std::to_string(d.uniqueId) + "},\n";
    out += "  \"inputs\": " + std::to_string(d.inputs) + ",\n";
    out += "  \"outputs\": " + std::to_string(d.outputs) + ",\n";
    out += "  \"flags\": {\"value\": " + std::to_string(d.flags) + ", \"names\": [";
    const std::string names = flagNames(d.flags);
    if (names != "none") {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = names.find(", ", start);
            out += jsonString(names.substr(start, comma - start));
            if (comma == std::string::npos) break;
            out += ", ";
            start = comma + 2;
        }
    }
    out += "]},\n";
    out += "  \"category\": {\"number\": " + std::to_string(d.category) +
           ", \"name\": " + jsonString(categoryName(d.category)) + "},\n";
    out += "  \"initialDelay\": " + std::to_string(d.initialDelay) + ",\n";
    out += "  \"programs\": {\"count\": " + std::to_string(d.programCount) +
           ", \"current\": " + std::to_string(d.currentProgram) + ", \"names\": [";
    for (std::size_t i = 0; i < d.programNames.size(); ++i)
        out += (i > 0 ? ", " : "") + jsonString(d.programNames[i]);
    out += "]},\n";
    out += "  \"parameters\": [";
    for (std::size_t i = 0; i < d.parameters.size(); ++i) {
        const ParameterDescription& p = d.parameters[i];
        out += std::string(i > 0 ? "," : "") + "\n    {\"index\": " + std::to_string(p.index) +
               ", \"name\": " + jsonString(p.name) + ", \"label\": " + jsonString(p.label) +
               ", \"value\": " + number(p.value) + ", \"display\": " + jsonString(p.display) + "}";
    }
    out += d.parameters.empty() ? "]\n" : "\n  ]\n";
    return out + "}\n";
}

int runInfo(const InfoOptions& options) {
    const PluginSession plugin(options.plugin, 44100.0f, kDefaultBlockFrames,
                               host::kProcessLevelRealtime);
    const PluginDescription description = describe(plugin);
    const std::string text =
        options.json ? descriptionJson(description) : descriptionText(description);
    std::fputs(text.c_str(), stdout);
    return kExitSuccess;
}

}  // namespace varkel::tool
