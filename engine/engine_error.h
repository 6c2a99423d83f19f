// Failures a caller can act on. Each carries one line of text and the kind of
// failure as the exit status a command-line front end gives it; other front
// ends map the kinds to their own (the Python package to its exceptions).
#pragma once

#include <stdexcept>
#include <string>

namespace varkel::engine {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,       // a file, a plug-in or the render failed
    kExitUsage = 2,         // what was asked for is wrong
    kExitInterrupted = 130  // cancelled (the signal's own status is the front end's)
};

class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message, int status = kExitFailure)
        : std::runtime_error(message), exitStatus(status) {}
    int status() const { return exitStatus; }

private:
    int exitStatus;
};

// A missing or unreadable file, told apart so that callers can say so in
// their own terms.
class FileNotFound : public EngineError {
public:
    using EngineError::EngineError;
};

// An output that appeared while it was rendered, where none may be replaced.
class OutputExists : public EngineError {
public:
    using EngineError::EngineError;
};

// A request that cannot be met as given: a parameter, a name, a value.
class UsageError : public EngineError {
public:
    // helpCommand shows the options of the command that was got wrong.
    explicit UsageError(const std::string& message,
                        const std::string& helpCommand = "varkel-host --help")
        : EngineError(message, kExitUsage), help(helpCommand) {}
    const std::string& helpCommand() const { return help; }

private:
    std::string help;
};

}  // namespace varkel::engine
