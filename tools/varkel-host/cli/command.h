// A subcommand of varkel-host: it declares its own options into its own
// record, and runs from that record once the command line is parsed.
#pragma once

#include <string>

#include "engine/engine_error.h"

namespace CLI {
class App;
}

namespace varkel::tool {

// The tool speaks the engine's failures: each carries its exit status.
using engine::EngineError;
using engine::kExitFailure;
using engine::kExitInterrupted;
using engine::kExitSuccess;
using engine::kExitUsage;
using engine::UsageError;

class Command {
public:
    virtual ~Command() = default;
    virtual std::string name() const = 0;
    // One line for the tool's own help.
    virtual std::string summary() const = 0;
    virtual void declare(CLI::App& command) = 0;
    // Returns the exit status; throws EngineError for failures.
    virtual int run() = 0;
};

}  // namespace varkel::tool
