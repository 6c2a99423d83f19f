// What a plug-in says about itself, as text for people or as JSON for tools.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/plugins/plugin.h"
#include "tools/varkel-host/cli/command.h"


namespace varkel::tool {



struct ParameterDescription {
    int index = 0;
    engine::ParameterInfo info;  // name, unit, range, default, kind, scale points
    std::string display;
    float value = 0.0f;
};

// What only a VST 2.4 module tells.
struct VstIdentity {
    std::string vendor;
    std::string product;
    int vendorVersion = 0;
    int vstVersion = 0;
    int effectVersion = 0;
    int uniqueId = 0;
    int flags = 0;
    int category = 0;
    int programCount = 0;
    int currentProgram = 0;
};

struct PluginDescription {
    std::string format;  // "VST 2.4" or "LV2"
    std::string path;    // the module, or the LV2 plug-in's URI
    std::string bundle;  // LV2 only
    std::string name;
    int inputs = 0;
    int outputs = 0;
    bool takesMidi = false;
    bool instrument = false;
    std::vector<engine::InputInfo> inputRoles;
    int latency = 0;
    engine::StateKind state = engine::StateKind::Parameters;
    std::vector<std::string> presets;  // VST 2.4: the program names
    std::optional<VstIdentity> vst;
    std::vector<ParameterDescription> parameters;
    std::vector<engine::ControlOutput> controlOutputs;  // LV2: meters and the like
};

inline constexpr int kMaxListedPrograms = 1000;

PluginDescription describe(engine::Plugin& plugin);
std::string descriptionText(const PluginDescription& description);
std::string descriptionJson(const PluginDescription& description);

// The four characters of a unique ID, most significant byte first; bytes
// that are not printable show as '.'.
std::string fourCharacters(int code);
// The names of the set flag bits; bits without a name as one "unknown 0x..".
std::vector<std::string> flagNames(int flags);
std::string categoryName(int category);
// How the plug-in keeps its state, for info: "chunks", "parameters only",
// "LV2 state interface".
std::string stateKindText(engine::StateKind kind);

std::unique_ptr<Command> makeInfoCommand();

}  // namespace varkel::tool
