#include "tools/varkel-host/cli/options.h"

#include <charconv>
#include <cmath>

#include "engine/plugins/lv2/lv2_plugin.h"
#include "engine/render/render_job.h"
#include "engine/render/render_request.h"

namespace varkel::tool {

std::string alternatives(const std::vector<std::string>& words) {
    if (words.size() < 2) return fmt::format("{}", fmt::join(words, ""));
    return fmt::format("{} or {}", fmt::join(words.begin(), words.end() - 1, ", "), words.back());
}

std::optional<double> plainNumber(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

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

CLI::Validator numberFromZero(const std::string& unit) {
    return CLI::Validator(
        [unit](std::string& text) -> std::string {
            const std::optional<double> value = plainNumber(text);
            if (!value) return fmt::format("'{}' is not a number", text);
            if (*value < 0.0) return fmt::format("must be 0 {} or more, got {}", unit, text);
            return {};
        },
        "");
}

CLI::Validator notEmpty() {
    return CLI::Validator(
        [](std::string& text) -> std::string { return text.empty() ? "needs a value" : ""; }, "");
}

engine::ParameterSetting parseSetting(const std::string& option, const std::string& text) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw CLI::ValidationError(option, fmt::format("needs NAME=VALUE, got '{}'", text));
    const std::string number = text.substr(equals + 1);
    const std::optional<double> value = plainNumber(number);
    if (!value)
        throw CLI::ValidationError(option, fmt::format("{}: '{}' is not a number", text, number));
    return {text.substr(0, equals), static_cast<float>(*value)};
}

void addPlugin(CLI::App& command, std::string& plugin, const std::string& name,
               const std::string& description) {
    command.add_option(name, plugin, description)->type_name("PLUGIN");
}

void addPreset(CLI::App& command, std::string& preset) {
    command
        .add_option("--preset", preset,
                    "An LV2 preset by name or URI, or a VST 2.4 program by name or number, "
                    "applied after --state and before --set")
        ->type_name("NAME")
        ->check(notEmpty());
}

void addState(CLI::App& command, std::string& state) {
    command
        .add_option("--state", state,
                    "A saved state: a VST 2.4 .fxp (a program) or .fxb (a bank), an LV2 state "
                    "bundle or its .ttl; applied first, before any preset and settings")
        ->type_name("FILE")
        ->check(notEmpty());
}

void addVerbose(CLI::App& command) {
    command.add_flag_callback(
        "--verbose", [] { engine::setPluginLogging(true); },
        "Show the plug-in's own log messages (LV2) on stderr");
}

void addSettings(CLI::App& command, const std::string& name,
                 std::vector<engine::ParameterSetting>& settings, const std::string& description) {
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

void addPrecision(CLI::App& command, engine::Precision& precision) {
    addChoice(command, "--precision", precision,
              {{"32", engine::Precision::Single}, {"64", engine::Precision::Double}},
              "The plug-in's 32-bit or 64-bit process (default 32)");
}

void addBlock(CLI::App& command, int& blockFrames) {
    command.add_option("--block", blockFrames, "Frames per process call")
        ->type_name("N")
        ->capture_default_str()
        ->check(wholeNumberBetween(1, engine::kMaxBlockFrames));
}

}  // namespace varkel::tool

namespace varkel::tool {

namespace {

const engine::RenderOptionField& declared(const std::string& name) {
    for (const engine::RenderOptionField& field : engine::renderOptionFields())
        if (field.name == name) return field;
    throw std::logic_error("no render option " + name);
}

CLI::Option* addDeclaredNumber(CLI::App& command, const std::string& name,
                               std::optional<double>& target, const std::string& unit) {
    const engine::RenderOptionField& field = declared(name);
    return command
        .add_option_function<double>(
            "--" + name, [&target](double value) { target = value; }, field.help)
        ->type_name(field.metavar)
        ->check(numberBetween(field.minimum, field.maximum, unit));
}

}  // namespace

void addRateAndLoudness(CLI::App& command, std::optional<int>& rate, std::optional<double>& loudness,
                        std::optional<double>& truePeakMax, bool& measure) {
    const engine::RenderOptionField& rateField = declared("rate");
    command
        .add_option_function<int>(
            "--" + rateField.name, [&rate](int value) { rate = value; }, rateField.help)
        ->type_name(rateField.metavar)
        ->check(wholeNumberBetween(engine::kLowestRenderRate, engine::kHighestRenderRate));
    addDeclaredNumber(command, "loudness", loudness, "LUFS");
    addDeclaredNumber(command, "true-peak-max", truePeakMax, "dBTP");
    command.add_flag("--measure", measure, declared("measure").help);
}

void addIsolation(CLI::App& command, engine::PluginIsolation& isolation) {
    command.add_flag("--isolate", isolation.isolated,
                     "Run the plug-in in a process of its own: a crash or a hang in it fails the "
                     "file with an error, and the host goes on (slower)");
    const engine::RenderOptionField& timeout = declared("plugin-timeout");
    command.add_option("--plugin-timeout", isolation.timeoutSeconds, timeout.help)
        ->type_name(timeout.metavar)
        ->capture_default_str()
        ->check(numberBetween(timeout.minimum, timeout.maximum, "s"));
}

}  // namespace varkel::tool
