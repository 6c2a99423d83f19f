#include "tools/varkel-host/command_line.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <utility>

#include "tools/varkel-host/analyze/analyze_command.h"
#include "tools/varkel-host/bench/bench_command.h"
#include "tools/varkel-host/check/check_command.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/demo/demo_command.h"
#include "tools/varkel-host/info/info_command.h"
#include "tools/varkel-host/list/list_command.h"
#include "tools/varkel-host/render/render_command.h"
#include "tools/varkel-host/state/state_command.h"

namespace varkel::tool {

namespace {

// The command declares its options; it becomes the result when given.
void addCommand(CLI::App& app, Command& command, Command*& chosen) {
    CLI::App* sub = app.add_subcommand(command.name(), command.summary())->group("Commands");
    command.declare(*sub);
    // Declared last, so that it takes only what the command's own positionals
    // leave. Without it CLI11 hands what follows "--" back to the parent once
    // no positional is left, and a "-h" there would be read as a call for help.
    auto unexpected = std::make_shared<std::vector<std::string>>();
    sub->add_option("unexpected", *unexpected)
        ->group("")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    sub->callback([&chosen, &command, unexpected] {
        // The error lists them in reverse, as CLI11 keeps its own leftovers.
        if (!unexpected->empty())
            throw CLI::ExtrasError({unexpected->rbegin(), unexpected->rend()});
        chosen = &command;
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

    // A bounded list of positionals (the hidden catch-all is the unbounded
    // one) reads as any other list.
    std::string make_option_usage(const CLI::Option* option) const override {
        if (option->get_expected_max() > 1) {
            const std::string list = make_option_name(option, true) + "...";
            return option->get_required() ? list : "[" + list + "]";
        }
        return CLI::Formatter::make_option_usage(option);
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

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    // In the order the help lists them.
    result.commands.push_back(makeDemoCommand());
    result.commands.push_back(makeRenderCommand());
    result.commands.push_back(makeInfoCommand());
    result.commands.push_back(makeStateCommand());
    result.commands.push_back(makeListCommand());
    result.commands.push_back(makeBenchCommand());
    result.commands.push_back(makeAnalyzeCommand());
    result.commands.push_back(makeCheckCommand());

    CLI::App app(
        "varkel-host: renders sound files through a VST 2.4 plug-in (Varkel by default),\n"
        "describes a plug-in, lists the plug-ins installed, measures one, and makes a demo.",
        "varkel-host");
    app.require_subcommand(1);
    app.formatter(std::make_shared<HelpFormatter>());
    // A repeated option takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    for (const auto& command : result.commands) addCommand(app, *command, result.chosen);
    // "varkel-host help", as many tools take it; not listed.
    app.add_subcommand("help")->group("")->callback(
        [&] { result.help = app.get_formatter()->make_help(&app, app.get_name(), {}); });

    // After the commands, which would otherwise inherit it.
    app.footer(
        "Run varkel-host COMMAND --help for a command's options. Without --plugin the tool\n"
        "loads the Varkel.so built or installed with it.\n"
        "Exit status: 0 on success, 1 when a file, the plug-in or the render fails,\n"
        "2 for a wrong command line, 130 when interrupted.");

    app.set_version_flag("--version", "varkel-host " VARKEL_VERSION, "Prints the version");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForVersion& version) {
        result.chosen = nullptr;
        result.help = std::string(version.what()) + "\n";
        return result;
    } catch (const CLI::CallForHelp&) {
        result.chosen = nullptr;
        result.help = app.help();
        return result;
    } catch (const CLI::ParseError& error) {
        throw usageError(app, args, error);
    }
    return result;
}

}  // namespace varkel::tool
