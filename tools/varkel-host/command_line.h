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
    Command* chosen = nullptr;  // null when help or the version was asked for
    // --help anywhere before "--": that command's help; --version: the version line
    std::string help;
};

// args excludes the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace varkel::tool
