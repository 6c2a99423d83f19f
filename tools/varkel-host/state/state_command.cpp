#include "tools/varkel-host/state/state_command.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "engine/plugins/plugin_loader.h"
#include "engine/render/render_job.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/cli/plugin_option.h"

namespace varkel::tool {

namespace {

// The rate and block size a state is saved at: plug-ins keep neither in it.
constexpr double kStateRate = 48000.0;

class StateCommand : public Command {
public:
    std::string name() const override { return "state"; }
    std::string summary() const override {
        return "Saves the plug-in's state, as set by --state, --preset and --set, for --state";
    }
    void declare(CLI::App& command) override {
        addPlugin(command, plugin);
        addState(command, state);
        addPreset(command, preset);
        addSettings(command, "--set", settings, kSettingHelp);
        addVerbose(command);
        command
            .add_option("--save", output,
                        "Where to save it: a .fxp (a program) or .fxb (a bank) for VST 2.4, a "
                        "bundle folder for LV2")
            ->type_name("OUT")
            ->required()
            ->check(notEmpty());
        command.footer(
            "Applies --state, then --preset, then --set, as render does, and saves what results.\n"
            "A VST 2.4 plug-in that keeps chunks saves its chunk; any other its parameters.");
    }
    int run() override {
        const auto opened = namingOption("--plugin", [&] {
            return engine::openPlugin(plugin, kStateRate, engine::kDefaultBlockFrames);
        });
        engine::applyState(*opened, state, preset, settings);
        opened->saveState(output);
        for (const std::string& warning : opened->warnings())
            fmt::print(stderr, "warning: {}\n", warning);
        return kExitSuccess;
    }

private:
    std::string plugin;
    std::string state;
    std::string preset;
    std::vector<engine::ParameterSetting> settings;
    std::string output;
};

}  // namespace

std::unique_ptr<Command> makeStateCommand() { return std::make_unique<StateCommand>(); }

}  // namespace varkel::tool
