// What a plug-in says about itself, as text for people or as JSON for tools.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/varkel-host/cli/command.h"

namespace varkel::engine {
class VstPlugin;
}

namespace varkel::tool {



struct ParameterDescription {
    int index = 0;
    std::string name;
    std::string label;
    std::string display;
    float value = 0.0f;
};

struct PluginDescription {
    std::string path;
    std::string name;
    std::string vendor;
    std::string product;
    int vendorVersion = 0;
    int vstVersion = 0;
    int effectVersion = 0;
    int uniqueId = 0;
    int inputs = 0;
    int outputs = 0;
    int flags = 0;
    int category = 0;
    int initialDelay = 0;
    int programCount = 0;
    int currentProgram = 0;
    std::vector<std::string> programNames;  // at most the first kMaxListedPrograms
    std::vector<ParameterDescription> parameters;
};

inline constexpr int kMaxListedPrograms = 1000;

PluginDescription describe(const engine::VstPlugin& plugin);
std::string descriptionText(const PluginDescription& description);
std::string descriptionJson(const PluginDescription& description);

// The four characters of a unique ID, most significant byte first; bytes
// that are not printable show as '.'.
std::string fourCharacters(int code);
// The names of the set flag bits; bits without a name as one "unknown 0x..".
std::vector<std::string> flagNames(int flags);
std::string categoryName(int category);

std::unique_ptr<Command> makeInfoCommand();

}  // namespace varkel::tool
