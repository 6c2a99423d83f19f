// Failures the user can act on. Each carries one line of text for stderr and
// the exit status; main turns it into both.
#pragma once

#include <stdexcept>
#include <string>

namespace varkel::tool {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,       // a file, a plug-in or the render failed
    kExitUsage = 2,         // the command line is wrong
    kExitInterrupted = 130  // stopped by SIGINT or SIGTERM
};

class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message, int status = kExitFailure)
        : std::runtime_error(message), exitStatus(status) {}
    int status() const { return exitStatus; }

private:
    int exitStatus;
};

class UsageError : public ToolError {
public:
    // helpCommand shows the options of the command that was got wrong.
    explicit UsageError(const std::string& message,
                        const std::string& helpCommand = "varkel-host --help")
        : ToolError(message, kExitUsage), help(helpCommand) {}
    const std::string& helpCommand() const { return help; }

private:
    std::string help;
};

}  // namespace varkel::tool
