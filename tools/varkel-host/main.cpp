// varkel-host: renders sound files through a VST 2.4 plug-in (Varkel by
// default), describes a plug-in, measures it, and makes a demo.
#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/varkel-host/cli/flag_wording.h"
#include "tools/varkel-host/cli/interrupt.h"
#include "tools/varkel-host/command_line.h"

namespace {

using namespace varkel::tool;

// A failed write to stderr has nowhere to be told, and must not throw here.
void printError(const std::string& message) {
    std::fputs(("varkel-host: " + message + "\n").c_str(), stderr);
}

int run(const CommandLine& commandLine) {
    if (commandLine.chosen == nullptr) {
        fmt::print("{}", commandLine.help);
        return kExitSuccess;
    }
    return commandLine.chosen->run();
}

}  // namespace

int main(int argc, char** argv) {
    varkel::engine::setFieldWording(flagWording);
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const int status = run(parseCommandLine(args));
        // A failed write to a closed pipe or a full disk must not pass as success.
        if (std::fflush(stdout) != 0) {
            printError("cannot write the output");
            return kExitFailure;
        }
        return status;
    } catch (const UsageError& error) {
        printError(fmt::format("{} (see {})", error.what(), error.helpCommand()));
        return error.status();
    } catch (const EngineError& error) {
        printError(error.what());
        return error.status() == kExitInterrupted ? interruptedStatus() : error.status();
    } catch (const std::exception& error) {
        printError(error.what());
        return kExitFailure;
    }
}
