// Options that more than one command takes, and the checks their values
// get: every mistake becomes a CLI11 error naming the option.
#pragma once

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/plugins/parameter_lookup.h"
#include "engine/plugins/plugin.h"
#include "engine/plugins/plugin_loader.h"

namespace varkel::tool {

// "a, b or c"
std::string alternatives(const std::vector<std::string>& words);

// A plain finite decimal number: no blanks, no "nan" or "inf", no hex.
std::optional<double> plainNumber(const std::string& text);

// CLI11 alone would read "010" as octal and "0x10" as hex; a count here is
// written in decimal, and is handed on as such.
CLI::Validator wholeNumberBetween(long long low, long long high);
CLI::Validator numberAboveZeroUpTo(double high);
// A number from low to high in the given unit.
CLI::Validator numberBetween(double low, double high, const std::string& unit);
// A number of 0 or more, its message without the largest double.
CLI::Validator numberFromZero(const std::string& unit);
CLI::Validator notEmpty();

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

inline constexpr const char* kSettingHelp =
    "A parameter by name (an LV2 port's name or symbol) or index, in its own units "
    "(VST 2.4: normalised from 0 to 1); repeatable";

// NAME=VALUE with VALUE a number; the plug-in checks its range.
engine::ParameterSetting parseSetting(const std::string& option, const std::string& text);

void addPlugin(CLI::App& command, std::string& plugin, const std::string& name = "--plugin",
               const std::string& description =
                   "A VST 2.4 module, an LV2 plug-in URI or an LV2 bundle folder (default: the "
                   "Varkel.so that came with the tool)");
// --preset, and --verbose for the plug-in's own messages.
void addPreset(CLI::App& command, std::string& preset);
void addVerbose(CLI::App& command);
// --state FILE, applied before --preset and --set.
void addState(CLI::App& command, std::string& state);
void addSettings(CLI::App& command, const std::string& name,
                 std::vector<engine::ParameterSetting>& settings, const std::string& description);
void addPrecision(CLI::App& command, engine::Precision& precision);
void addBlock(CLI::App& command, int& blockFrames);
// --rate, --loudness, --true-peak-max and --measure, as the engine declares
// them.
void addRateAndLoudness(CLI::App& command, std::optional<int>& rate, std::optional<double>& loudness,
                        std::optional<double>& truePeakMax, bool& measure);

// --isolate and --plugin-timeout.
void addIsolation(CLI::App& command, engine::PluginIsolation& isolation);

}  // namespace varkel::tool
