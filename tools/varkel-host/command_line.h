// The command line: the commands, each declaring its own options, parsed
// into the one that was given. Every mistake becomes a UsageError naming
// the argument.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

struct CommandLine {
    std::vector<std::unique_ptr<Command>> commands;
    Command* chosen = nullptr;  // null when help was asked for
    std::string help;           // --help anywhere before "--": that command's help
};

// args excludes the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace varkel::tool
