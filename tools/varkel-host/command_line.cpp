#include "tools/varkel-host/command_line.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

// "a, b or c"
std::string alternatives(const std::vector<std::string>& words) {
    if (words.size() < 2) return fmt::format("{}", fmt::join(words, ""));
    return fmt::format("{} or {}", fmt::join(words.begin(), words.end() - 1, ", "), words.back());
}

// A plain finite decimal number: no blanks, no "nan" or "inf", no hex.
std::optional<double> plainNumber(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

// CLI11 alone would read "010" as octal and "0x10" as hex; a count here is
// written in decimal, and is handed on as such.
CLI::Validator wholeNumberBetween(long long low, long long high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            long long value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            if (error == std::errc::invalid_argument || stop != end)
                return fmt::format("'{}' is not a whole number", text);
            if (error == std::errc::result_out_of_range || value < low || value > high)
                return fmt::format("must be between {} and {}, got {}", low, high, text);
            text = std::to_string(value);
            return {};
        },
        "");
}

CLI::Validator numberAboveZeroUpTo(double high) {
    return CLI::Validator(
        [high](std::string& text) -> std::string {
            const std::optional<double> value = plainNumber(text);
            if (!value) return fmt::format("'{}' is not a number", text);
            if (*value <= 0.0 || *value > high)
                return fmt::format("must be above 0 and at most {}, got {}", high, text);
            return {};
        },
        "");
}

const CLI::Validator kNotEmpty(
    [](std::string& text) -> std::string { return text.empty() ? "needs a value" : ""; }, "");

template <typename T>
using Choices = std::vector<std::pair<std::string, T>>;

// An option that takes one of a few words. The words map straight to the
// value, so no number sneaks in as an enum's underlying value.
template <typename T>
CLI::Option* addChoice(CLI::App& command, const std::string& name, T& target, Choices<T> choices,
                       const std::string& description) {
    std::vector<std::string> words;
    for (const auto& choice : choices) words.push_back(choice.first);
    const CLI::Validator oneOfTheWords(
        [words](std::string& text) -> std::string {
            if (std::find(words.begin(), words.end(), text) != words.end()) return {};
            return fmt::format("must be {}, got '{}'", alternatives(words), text);
        },
        "");
    return command
        .add_option_function<std::string>(
            name,
            [&target, choices](const std::string& text) {
                for (const auto& [word, value] : choices)
                    if (word == text) target = value;
            },
            description)
        ->type_name(fmt::format("{}", fmt::join(words, "|")))
        ->check(oneOfTheWords);
}

ParameterSetting parseSetting(const std::string& option, const std::string& text) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw CLI::ValidationError(option, fmt::format("needs NAME=VALUE, got '{}'", text));
    const std::string number = text.substr(equals + 1);
    const std::optional<double> value = plainNumber(number);
    if (!value)
        throw CLI::ValidationError(option, fmt::format("{}: '{}' is not a number", text, number));
    if (*value < 0.0 || *value > 1.0)
        throw CLI::ValidationError(option,
                                   fmt::format("{}: the value must lie between 0 and 1", text));
    return {text.substr(0, equals), static_cast<float>(*value)};
}

// A number from low to high in the given unit.
CLI::Validator numberBetween(double low, double high, const std::string& unit) {
    return CLI::Validator(
        [low, high, unit](std::string& text) -> std::string {
            const std::optional<double> value = plainNumber(text);
            if (!value) return fmt::format("'{}' is not a number", text);
            if (*value < low || *value > high)
                return fmt::format("must be between {} and {} {}, got {}", low, high, unit, text);
            return {};
        },
        "");
}

// "response,transfer": each measurement once, in the order given.
std::vector<analysis::Measurement> parseMeasurements(const std::string& text) {
    std::vector<analysis::Measurement> what;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma - start);
        const auto measurement = analysis::measurementNamed(name);
        if (!measurement)
            throw CLI::ValidationError("--what",
                                       fmt::format("unknown measurement '{}'; known: {}", name,
                                                   alternatives(analysis::measurementNames())));
        if (std::find(what.begin(), what.end(), *measurement) == what.end())
            what.push_back(*measurement);
        if (comma == std::string::npos) return what;
        start = comma + 1;
    }
}

// --- options more than one command takes ---

void addPlugin(CLI::App& command, std::string& plugin) {
    command
        .add_option("--plugin", plugin,
                    "The plug-in module (default: the Varkel.so that came with the tool)")
        ->type_name("PATH");
}

void addSettings(CLI::App& command, const std::string& name,
                 std::vector<ParameterSetting>& settings, const std::string& description) {
    command
        .add_option_function<std::vector<std::string>>(
            name,
            [name, &settings](const std::vector<std::string>& texts) {
                for (const std::string& text : texts) settings.push_back(parseSetting(name, text));
            },
            description)
        ->type_name("NAME=VALUE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void addPrecision(CLI::App& command, Precision& precision) {
    addChoice(command, "--precision", precision,
              {{"32", Precision::Single}, {"64", Precision::Double}},
              "The plug-in's 32-bit or 64-bit process (default 32)");
}

void addBlock(CLI::App& command, int& blockFrames) {
    command.add_option("--block", blockFrames, "Frames per process call")
        ->type_name("N")
        ->capture_default_str()
        ->check(wholeNumberBetween(1, kMaxBlockFrames));
}

// --- the commands, each with all of its options ---

void declareDemo(CLI::App& command, DemoOptions& options) {
    command.add_option("--out", options.outputFolder, "The folder to write into")
        ->type_name("DIR")
        ->capture_default_str()
        ->check(kNotEmpty);
    addPlugin(command, options.plugin);
    command.add_flag("--quiet", options.quiet, "Print nothing");
}

void declareRender(CLI::App& command, RenderOptions& options) {
    command
        .add_option("FILES", options.inputs,
                    "IN OUT: the sound file to render and the file to write (its extension "
                    "chooses the container). With --out-dir: the files and folders to render")
        ->type_name("")
        ->required();
    addPlugin(command, options.plugin);
    addSettings(command, "--set", options.settings,
                "A parameter by name or index, normalised from 0 to 1; repeatable");
    command
        .add_option_function<std::vector<std::string>>(
            "--automate",
            [&options](const std::vector<std::string>& texts) {
                for (const std::string& text : texts) {
                    try {
                        options.automation.push_back(parseAutomation(text));
                    } catch (const UsageError& error) {
                        throw CLI::ValidationError("--automate", error.what());
                    }
                }
            },
            "Sets a parameter at each TIME (seconds, or with s or ms) and holds it; repeatable")
        ->type_name("NAME=TIME:VALUE,...")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command.add_flag("--ramp", options.ramp,
                     "With --automate: move linearly between the points, in steps of 32 frames");
    addPrecision(command, options.precision);
    addBlock(command, options.blockFrames);
    addChoice(command, "--format", options.format,
              {{"float", SampleFormat::Float},
               {"pcm24", SampleFormat::Pcm24},
               {"pcm16", SampleFormat::Pcm16}},
              "The output's sample format (default: the input's, if the container holds it)");
    command.add_flag("--quiet", options.quiet, "No progress display and no summary");

    CLI::Option* outDir =
        command.add_option("--out-dir", options.outputFolder, "Render every IN into DIR")
            ->type_name("DIR")
            ->check(kNotEmpty);
    const auto batchOnly = [outDir](CLI::Option* option) { option->needs(outDir)->group("Batch"); };
    outDir->group("Batch");
    batchOnly(command.add_flag("-r,--recursive", options.recursive,
                               "Also the sound files in the folders below a folder IN, "
                               "keeping their relative folders"));
    batchOnly(command
                  .add_option("--name", options.namePattern,
                              "Output names (default {stem}-{plugin}.{ext})")
                  ->type_name("PATTERN")
                  ->check(kNotEmpty));
    batchOnly(command
                  .add_option("--ext", options.extension,
                              "Every output's extension, which chooses its container "
                              "(default: each input's)")
                  ->type_name("EXT")
                  ->check(kNotEmpty));
    batchOnly(
        command.add_option("-j,--jobs", options.jobs, "Files rendered at once (default: cores)")
            ->type_name("N")
            ->check(wholeNumberBetween(1, 1024)));
    batchOnly(command.add_flag("--overwrite", options.overwrite, "Replace existing outputs"));

    // Two files without --out-dir, as many as given with it.
    command.parse_complete_callback([&options] {
        if (!options.outputFolder.empty()) return;
        if (options.inputs.size() < 2) throw CLI::RequiredError("OUT");
        if (options.inputs.size() > 2)
            // Reversed, as CLI11 lists its own leftovers.
            throw CLI::ExtrasError({options.inputs.rbegin(), options.inputs.rend() - 2});
        options.input = options.inputs[0];
        options.output = options.inputs[1];
        options.inputs.clear();
    });
    command.footer(
        "NAME is a parameter name as the plug-in reports it, or its index. A mono IN feeds\n"
        "every input of the plug-in; a file with more channels than the plug-in has inputs\n"
        "runs through one instance per group of channels. PATTERN fields: {stem} (IN's name\n"
        "without extension), {ext} (the output's extension), {inext} (IN's), {plugin} (the\n"
        "plug-in's name, lower case), {settings} (the --set values).");
}

void declareInfo(CLI::App& command, InfoOptions& options) {
    addPlugin(command, options.plugin);
    command.add_flag("--json", options.json, "As JSON");
}

void declareBench(CLI::App& command, BenchOptions& options) {
    addPlugin(command, options.plugin);
    command.add_option("--seconds", options.seconds, "Seconds of audio to process")
        ->type_name("S")
        ->capture_default_str()
        ->check(numberAboveZeroUpTo(3600.0));
    addBlock(command, options.blockFrames);
    addPrecision(command, options.precision);
}

void declareAnalyze(CLI::App& command, AnalyzeOptions& options) {
    analysis::AnalysisPlan& plan = options.plan;
    addPlugin(command, options.plugin);
    addSettings(command, "--set", options.settings,
                "A parameter by name or index, normalised from 0 to 1; repeatable");
    command.add_option("--vs-plugin", options.vsPlugin, "A second plug-in to measure beside it")
        ->type_name("PATH");
    addSettings(command, "--vs-set", options.vsSettings,
                "A setting for a second measurement beside the first: the same plug-in (or "
                "--vs-plugin) with these settings instead of --set's; repeatable");
    command
        .add_option("--out", options.outputFolder, "The folder to write the plots and JSON into")
        ->type_name("DIR")
        ->capture_default_str()
        ->check(kNotEmpty);
    command
        .add_option_function<std::string>(
            "--what", [&plan](const std::string& text) { plan.what = parseMeasurements(text); },
            fmt::format("Measurements, comma-separated (default all: {})",
                        fmt::join(analysis::measurementNames(), ",")))
        ->type_name("LIST");
    command.add_option("--rate", plan.rate, "The plug-in's sample rate in Hz")
        ->type_name("R")
        ->capture_default_str()
        ->check(numberBetween(kMinAnalysisRate, kMaxAnalysisRate, "Hz"));
    command.add_option("--level", plan.responseLevelDbfs, "Level of the response's sines, dBFS")
        ->type_name("DB")
        ->capture_default_str()
        ->check(numberBetween(-120.0, 0.0, "dBFS"));
    command
        .add_option("--tone-level", plan.toneLevelDbfs,
                    "Level of the harmonics tone and of the distortion-against-frequency sweep, "
                    "dBFS")
        ->type_name("DB")
        ->capture_default_str()
        ->check(numberBetween(-120.0, 0.0, "dBFS"));
    command
        .add_option("--tone-frequency", plan.toneHz,
                    "Frequency of the harmonics tone and the level sweep, Hz")
        ->type_name("HZ")
        ->capture_default_str()
        ->check(numberBetween(20.0, kMaxAnalysisRate, "Hz"));
    command.add_flag("--quiet", options.quiet, "No progress bar and no summary");
    command.footer(
        "Writes a PNG and an SVG per measurement and analysis.json into DIR, and sums up\n"
        "on the terminal; removes from DIR the plots of an earlier run that this one does\n"
        "not make, and leaves other files there alone. Warns when the response's gain\n"
        "changes by more than 0.1 dB 10 dB below --level. Every render starts a fresh\n"
        "instance on a fresh thread.");
}

// The command's record becomes the result when the command is given.
template <typename Options>
void addCommand(CLI::App& app, Command& chosen, const std::string& name,
                const std::string& description, void (*declare)(CLI::App&, Options&)) {
    CLI::App* command = app.add_subcommand(name, description)->group("Commands");
    auto options = std::make_shared<Options>();
    declare(*command, *options);
    // Declared last, so that it takes only what the command's own positionals
    // leave. Without it CLI11 hands what follows "--" back to the parent once
    // no positional is left, and a "-h" there would be read as a call for help.
    auto unexpected = std::make_shared<std::vector<std::string>>();
    command->add_option("unexpected", *unexpected)
        ->group("")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->callback([&chosen, options, unexpected] {
        // The error lists them in reverse, as CLI11 keeps its own leftovers.
        if (!unexpected->empty())
            throw CLI::ExtrasError({unexpected->rbegin(), unexpected->rend()});
        chosen = *options;
    });
}

std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

UsageError usageError(const CLI::App& app, const std::vector<std::string>& args,
                      const CLI::ParseError& error) {
    const auto given = app.get_subcommands();
    if (!given.empty()) {
        const std::string& command = given.front()->get_name();
        return UsageError(fmt::format("{}: {}", command, oneLine(error.what())),
                          fmt::format("varkel-host {} --help", command));
    }
    std::vector<std::string> commands;
    for (const CLI::App* command :
         app.get_subcommands([](const CLI::App* c) { return !c->get_group().empty(); }))
        commands.push_back(command->get_name());
    const std::string known = alternatives(commands);
    if (args.empty()) return UsageError("no command given; try " + known);
    return UsageError(fmt::format("unknown command '{}'; try {}", args.front(), known));
}

// CLI11's help, with the hidden catch-all positionals left out.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string usage = "Usage: " + name;
        if (!app->get_options([](const CLI::Option* o) { return o->nonpositional(); }).empty())
            usage += " [OPTIONS]";
        for (const CLI::Option* positional : app->get_options([](const CLI::Option* o) {
                 return o->get_positional() && !o->get_group().empty();
             }))
            usage += " " + make_option_usage(positional);
        if (app->get_require_subcommand_min() > 0) usage += " COMMAND";
        return usage + "\n";
    }

    // Without the blank lines the hidden group leaves.
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::string help = CLI::Formatter::make_help(app, std::move(name), mode);
        for (std::size_t at; (at = help.find("\n\n\n")) != std::string::npos;) help.erase(at, 1);
        while (help.ends_with("\n\n")) help.pop_back();
        return help;
    }
};

}  // namespace

Command parseCommandLine(const std::vector<std::string>& args) {
    CLI::App app(
        "varkel-host: renders sound files through a VST 2.4 plug-in (Varkel by default),\n"
        "describes a plug-in, measures it, and makes a demo.",
        "varkel-host");
    app.require_subcommand(1);
    app.formatter(std::make_shared<HelpFormatter>());
    // A repeated option takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    Command chosen;
    addCommand<DemoOptions>(app, chosen, "demo",
                            "Writes test material and three renders of it through Varkel",
                            declareDemo);
    addCommand<RenderOptions>(
        app, chosen, "render",
        "Renders IN through the plug-in into OUT, or many files into a folder", declareRender);
    addCommand<InfoOptions>(
        app, chosen, "info",
        "Shows the plug-in's identity, channels, flags, programs and parameters", declareInfo);
    addCommand<BenchOptions>(app, chosen, "bench",
                             "Processes generated stereo audio and reports the cost", declareBench);
    addCommand<AnalyzeOptions>(
        app, chosen, "analyze",
        "Measures response, harmonics, distortion and transfer, as plots and JSON", declareAnalyze);
    // "varkel-host help", as many tools take it; not listed.
    app.add_subcommand("help")->group("")->callback(
        [&] { chosen = HelpRequest{app.get_formatter()->make_help(&app, app.get_name(), {})}; });

    // After the commands, which would otherwise inherit it.
    app.footer(
        "Run varkel-host COMMAND --help for a command's options. Without --plugin the tool\n"
        "loads the Varkel.so built or installed with it.\n"
        "Exit status: 0 on success, 1 when a file, the plug-in or the render fails,\n"
        "2 for a wrong command line, 130 when interrupted.");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return HelpRequest{app.help()};
    } catch (const CLI::ParseError& error) {
        throw usageError(app, args, error);
    }
    return chosen;
}

}  // namespace varkel::tool
