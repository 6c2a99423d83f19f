#include "tools/varkel-host/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <initializer_list>

#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

struct KnownOption {
    const char* name;
    bool takesValue;
};

using OptionHandler = std::function<void(const std::string& name, const std::string& value)>;

// Walks the arguments after the subcommand: options go to the handler,
// everything else is returned as positionals. Accepts "--name value",
// "--name=value", and "--" to end the options.
std::vector<std::string> readArguments(const std::vector<std::string>& args,
                                       const std::string& command,
                                       std::initializer_list<KnownOption> known,
                                       const OptionHandler& handle) {
    std::vector<std::string> positionals;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const KnownOption* option = nullptr;
        for (const KnownOption& candidate : known)
            if (name == candidate.name) option = &candidate;
        if (option == nullptr) throw UsageError("unknown option " + name + " for " + command);
        std::string value;
        if (option->takesValue) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                throw UsageError(name + " needs a value");
            }
        } else if (equals != std::string::npos) {
            throw UsageError(name + " takes no value");
        }
        handle(name, value);
    }
    return positionals;
}

double parseNumber(const std::string& text, const std::string& what) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    // strtod skips leading blanks and takes "nan" and "inf"; a value here is
    // a plain finite number and nothing else.
    if (text.empty() || end != begin + text.size() || text.front() == ' ' || errno == ERANGE ||
        !std::isfinite(value))
        throw UsageError(what + ": '" + text + "' is not a number");
    return value;
}

int parseBlockFrames(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (text.empty() || end != begin + text.size() || text.front() == ' ')
        throw UsageError("--block: '" + text + "' is not a whole number");
    if (errno == ERANGE || value < 1 || value > kMaxBlockFrames)
        throw UsageError("--block must be between 1 and " + std::to_string(kMaxBlockFrames) +
                         " frames, got " + text);
    return static_cast<int>(value);
}

Precision parsePrecision(const std::string& text) {
    if (text == "32") return Precision::Single;
    if (text == "64") return Precision::Double;
    throw UsageError("--precision must be 32 or 64, got '" + text + "'");
}

SampleFormat parseFormat(const std::string& text) {
    if (text == "float") return SampleFormat::Float;
    if (text == "pcm24") return SampleFormat::Pcm24;
    if (text == "pcm16") return SampleFormat::Pcm16;
    throw UsageError("--format must be float, pcm24 or pcm16, got '" + text + "'");
}

ParameterSetting parseSetting(const std::string& text) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw UsageError("--set needs NAME=VALUE, got '" + text + "'");
    ParameterSetting setting;
    setting.parameter = text.substr(0, equals);
    const double value = parseNumber(text.substr(equals + 1), "--set " + text);
    if (value < 0.0 || value > 1.0)
        throw UsageError("--set " + text + ": the value must lie between 0 and 1");
    setting.value = static_cast<float>(value);
    return setting;
}

void expectPositionals(const std::vector<std::string>& positionals, std::size_t count,
                       const std::string& command, const char* what) {
    if (positionals.size() < count) throw UsageError(command + " needs " + what);
    if (positionals.size() > count)
        throw UsageError("unexpected argument '" + positionals[count] + "' for " + command);
}

RenderOptions parseRender(const std::vector<std::string>& args) {
    RenderOptions options;
    const auto positionals = readArguments(args, "render",
                                           {{"--plugin", true},
                                            {"--set", true},
                                            {"--precision", true},
                                            {"--block", true},
                                            {"--format", true},
                                            {"--quiet", false}},
                                           [&](const std::string& name, const std::string& value) {
                                               if (name == "--plugin")
                                                   options.plugin = value;
                                               else if (name == "--set")
                                                   options.settings.push_back(parseSetting(value));
                                               else if (name == "--precision")
                                                   options.precision = parsePrecision(value);
                                               else if (name == "--block")
                                                   options.blockFrames = parseBlockFrames(value);
                                               else if (name == "--format")
                                                   options.format = parseFormat(value);
                                               else
                                                   options.quiet = true;
                                           });
    expectPositionals(positionals, 2, "render", "an input and an output file");
    options.input = positionals[0];
    options.output = positionals[1];
    return options;
}

InfoOptions parseInfo(const std::vector<std::string>& args) {
    InfoOptions options;
    const auto positionals = readArguments(args, "info", {{"--plugin", true}, {"--json", false}},
                                           [&](const std::string& name, const std::string& value) {
                                               if (name == "--plugin")
                                                   options.plugin = value;
                                               else
                                                   options.json = true;
                                           });
    expectPositionals(positionals, 0, "info", "");
    return options;
}

BenchOptions parseBench(const std::vector<std::string>& args) {
    BenchOptions options;
    const auto positionals = readArguments(
        args, "bench",
        {{"--plugin", true}, {"--seconds", true}, {"--block", true}, {"--precision", true}},
        [&](const std::string& name, const std::string& value) {
            if (name == "--plugin") {
                options.plugin = value;
            } else if (name == "--seconds") {
                options.seconds = parseNumber(value, "--seconds");
                if (options.seconds <= 0.0 || options.seconds > 3600.0)
                    throw UsageError("--seconds must be above 0 and at most 3600, got " + value);
            } else if (name == "--block") {
                options.blockFrames = parseBlockFrames(value);
            } else {
                options.precision = parsePrecision(value);
            }
        });
    expectPositionals(positionals, 0, "bench", "");
    return options;
}

DemoOptions parseDemo(const std::vector<std::string>& args) {
    DemoOptions options;
    const auto positionals =
        readArguments(args, "demo", {{"--out", true}, {"--plugin", true}, {"--quiet", false}},
                      [&](const std::string& name, const std::string& value) {
                          if (name == "--out")
                              options.outputFolder = value;
                          else if (name == "--plugin")
                              options.plugin = value;
                          else
                              options.quiet = true;
                      });
    expectPositionals(positionals, 0, "demo", "");
    if (options.outputFolder.empty()) throw UsageError("--out needs a folder");
    return options;
}

}  // namespace

Command parseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("no command given; try render, info, bench or demo");
    const std::string& command = args[0];
    if (command == "-h" || command == "--help" || command == "help") return HelpRequest{};
    for (const std::string& arg : args)
        if (arg == "-h" || arg == "--help") return HelpRequest{};
    if (command == "render") return parseRender(args);
    if (command == "info") return parseInfo(args);
    if (command == "bench") return parseBench(args);
    if (command == "demo") return parseDemo(args);
    throw UsageError("unknown command '" + command + "'; try render, info, bench or demo");
}

std::string usageText() {
    return R"(usage:
  varkel-host render IN OUT [--plugin PATH] [--set NAME=VALUE ...] [--precision 32|64]
                            [--block N] [--format float|pcm24|pcm16] [--quiet]
      Renders IN through the plug-in into OUT (same container and sample rate).
      NAME is a parameter name as the plug-in reports it, or its index; VALUE is
      normalised, 0 to 1. A mono IN feeds every input of the plug-in.
  varkel-host info [--plugin PATH] [--json]
      Shows the plug-in's identity, channels, flags, programs and parameters.
  varkel-host bench [--plugin PATH] [--seconds S] [--block N] [--precision 32|64]
      Processes S seconds of generated stereo audio and reports the cost.
  varkel-host demo [--out DIR] [--plugin PATH] [--quiet]
      Writes test material and three renders of it through Varkel into DIR
      (default ./varkel-demo).

Without --plugin the tool loads the Varkel.so built or installed with it.
Exit status: 0 on success, 1 when a file, the plug-in or the render fails,
2 for a wrong command line, 130 when interrupted.
)";
}

}  // namespace varkel::tool
