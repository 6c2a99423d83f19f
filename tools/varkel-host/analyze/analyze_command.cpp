#include "tools/varkel-host/analyze/analyze_command.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "analysis/analysis_csv.h"
#include "analysis/analysis_json.h"
#include "analysis/comparison.h"
#include "analysis/html_report.h"
#include "analysis/level_dependence.h"
#include "analysis/oversampled_device.h"
#include "analysis/plots.h"
#include "analysis/plugin_device.h"
#include "engine/report/clean_text.h"
#include "engine/sound/temporary_files.h"
#include "tools/varkel-host/cli/interrupt.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/cli/plugin_option.h"
#include "tools/varkel-host/cli/report.h"

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kJsonName = "analysis.json";
constexpr const char* kHtmlName = "report.html";
// Differences listed when a comparison fails; the rest are counted.
constexpr std::size_t kDifferencesShown = 10;

// A folder beside the output folder that everything is written into first;
// removed with its contents unless kept. It is named as render's temporaries
// are, for this machine and process, so that one a killed run left behind is
// removed by the next run into the same folder.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& target) {
        std::error_code error;
        if (fs::exists(target, error) && !fs::is_directory(target, error))
            throw EngineError("--out " + target.string() + " exists and is not a folder");
        const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
        if (!fs::is_directory(parent, error))
            throw EngineError("--out " + target.string() + ": the folder " + parent.string() +
                            " does not exist");
        engine::removeStaleTemporaries(parent.string());
        std::string pattern = engine::temporaryPattern(parent.string());
        if (::mkdtemp(pattern.data()) == nullptr)
            throw EngineError("--out " + target.string() + ": cannot write in " + parent.string() +
                            ": " + std::generic_category().message(errno));
        staging = pattern;
    }
    ~StagingFolder() {
        std::error_code ignored;
        if (!staging.empty()) fs::remove_all(staging, ignored);
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    const fs::path& path() const { return staging; }

    // Moves every file into target, creating it if needed, then removes
    // those of ownNames there that this run did not write: an earlier run's
    // plots must not pass for this one's. Other files in target stay.
    void moveInto(const fs::path& target, const std::vector<std::string>& ownNames) {
        std::error_code error;
        fs::create_directory(target, error);
        if (error) throw EngineError("--out " + target.string() + ": " + error.message());
        std::vector<std::string> stale;
        for (const std::string& name : ownNames)
            if (!fs::exists(staging / name)) stale.push_back(name);
        for (const auto& entry : fs::directory_iterator(staging)) {
            fs::rename(entry.path(), target / entry.path().filename(), error);
            if (error)
                throw EngineError("cannot move " + entry.path().filename().string() + " into " +
                                  target.string() + ": " + error.message());
        }
        for (const std::string& name : stale)
            if (fs::is_regular_file(fs::symlink_status(target / name)) &&
                !fs::remove(target / name, error) && error)
                throw EngineError("cannot remove the earlier " + name + " from " +
                                  target.string() + ": " + error.message());
    }

private:
    fs::path staging;
};

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.close();
    if (!file) throw EngineError("cannot write " + path.string());
}

std::string readText(const fs::path& path) {
    std::ifstream file(path);
    if (!file) throw EngineError("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string db(double value) { return fmt::format("{:+.2f} dB", value); }

std::string hzText(const std::optional<double>& hz) {
    if (!hz) return "none";
    return *hz >= 1000.0 ? fmt::format("{:.2f} kHz", *hz / 1000.0) : fmt::format("{:.1f} Hz", *hz);
}

std::string thdText(double ratio) {
    return fmt::format("{:.3g} % ({:.1f} dB)", 100.0 * ratio, analysis::ratioDb(ratio));
}

// One value per output, or one for all when they read the same.
template <typename Format>
std::string perOutput(const analysis::Analysis& a, Format format) {
    std::vector<std::string> values;
    for (int c = 0; c < a.outputs; ++c) values.push_back(format(c));
    if (std::all_of(values.begin(), values.end(), [&](const auto& v) { return v == values[0]; }))
        return values[0];
    std::string text;
    for (int c = 0; c < a.outputs; ++c)
        text += fmt::format("{}out {}: {}", c ? ", " : "", c + 1, values[c]);
    return text;
}

// The number nearest to level among the points' levels.
template <typename Points, typename Level>
std::size_t nearestLevel(const Points& points, double level, Level levelOf) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < points.size(); ++i)
        if (std::fabs(levelOf(points[i]) - level) < std::fabs(levelOf(points[best]) - level))
            best = i;
    return best;
}

std::string productText(const std::optional<double>& db) {
    if (!db) return "-";
    if (*db < analysis::kImdFloorDb) return fmt::format("below {:g} dB", analysis::kImdFloorDb);
    return fmt::format("{:.1f} dB", *db);
}

// The worst total aliasing over the tones, and its tone.
std::string worstAliasing(const analysis::AliasingResult& r, int channel) {
    const analysis::AliasingPoint* worst = &r.points.front();
    for (const auto& p : r.points)
        if (p.channels[channel].totalDb > worst->channels[channel].totalDb) worst = &p;
    return fmt::format("{:.1f} dB at {}", worst->channels[channel].totalDb,
                       hzText(worst->frequency));
}

std::vector<std::string> summaryLines(const std::vector<analysis::Analysis>& analyses,
                                      const analysis::AnalysisPlan& plan) {
    std::vector<std::string> lines;
    const bool ab = analyses.size() > 1;
    for (std::size_t d = 0; d < analyses.size(); ++d)
        lines.push_back(fmt::format("{}{} ({} output{}, {:g} Hz)",
                                    ab ? (d == 0 ? "A: " : "B: ") : "", analyses[d].device,
                                    analyses[d].outputs, analyses[d].outputs == 1 ? "" : "s",
                                    plan.rate));
    auto row = [&](const std::string& label, auto value) {
        // At least one space after a label of any length.
        std::string line = fmt::format("  {:<29} ", label);
        for (std::size_t d = 0; d < analyses.size(); ++d)
            line +=
                fmt::format("{}{:<28}", ab ? (d == 0 ? "A " : "   B ") : "", value(analyses[d]));
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    };
    const analysis::Analysis& first = analyses.front();
    if (first.response) {
        row("gain at 1 kHz", [](const analysis::Analysis& a) {
            return perOutput(a, [&](int c) { return db(a.response->channels[c].referenceGainDb); });
        });
        row("-3 dB points (re 1 kHz)", [](const analysis::Analysis& a) {
            return perOutput(a, [&](int c) {
                const auto& r = a.response->channels[c];
                return hzText(r.lowCornerHz) + " / " + hzText(r.highCornerHz);
            });
        });
    }
    if (first.harmonics)
        row(fmt::format("THD at {:.0f} Hz, {:g} dBFS", first.harmonics->frequency,
                        first.harmonics->levelDbfs),
            [](const analysis::Analysis& a) {
                return perOutput(a, [&](int c) { return thdText(a.harmonics->channels[c].thd); });
            });
    if (first.levels)
        row("THD reaches 1 % at input", [](const analysis::Analysis& a) {
            return perOutput(a, [&](int c) {
                const auto level = analysis::levelWhereThdReaches(*a.levels, c, 0.01);
                return level ? fmt::format("{:.1f} dBFS", *level) : std::string("never");
            });
        });
    if (first.impulse)
        row(fmt::format("latency, frames (reported {})", first.impulse->reportedLatencyFrames),
            [](const analysis::Analysis& a) {
                return perOutput(a, [&](int c) {
                    return std::to_string(a.impulse->channels[c].latencyFrames);
                });
            });
    if (first.aliasing) {
        row("aliasing, worst tone", [](const analysis::Analysis& a) {
            return perOutput(a, [&](int c) { return worstAliasing(*a.aliasing, c); });
        });
        if (first.oversampledAliasing)
            row(fmt::format("aliasing, {}x oversampled", plan.oversample),
                [](const analysis::Analysis& a) {
                    return perOutput(a,
                                     [&](int c) { return worstAliasing(*a.oversampledAliasing, c); });
                });
    }
    if (first.imd && !first.imd->points.empty()) {
        const std::size_t at = nearestLevel(first.imd->points, plan.toneLevelDbfs,
                                            [](const analysis::ImdPoint& p) { return p.levelDbfs; });
        const double level = first.imd->points[at].levelDbfs;
        row(fmt::format("SMPTE IMD at {:g} dBFS", level), [at](const analysis::Analysis& a) {
            return perOutput(a, [&](int c) { return productText(a.imd->points[at].channels[c].smpteDb); });
        });
        row(fmt::format("CCIF d2 / d3 at {:g} dBFS", level), [at](const analysis::Analysis& a) {
            return perOutput(a, [&](int c) {
                const auto& p = a.imd->points[at].channels[c];
                return productText(p.d2Db) + " / " + productText(p.d3Db);
            });
        });
    }
    return lines;
}

// Plug-in names and parameter names are raw bytes; the plots, the JSON and
// the summary take them as info shows them.
void cleanTexts(analysis::Analysis& a) {
    a.device = engine::cleanText(a.device);
    a.identity = engine::cleanText(a.identity);
    for (auto& [name, value] : a.parameters) name = engine::cleanText(name);
}

// On stderr, after the summary it qualifies.
void warnOfLevelDependence(const std::vector<analysis::Analysis>& analyses) {
    std::fflush(stdout);
    for (const analysis::Analysis& a : analyses)
        if (a.response)
            if (const auto dependence = analysis::levelDependence(*a.response))
                fmt::print(stderr, "warning: {}: the response is not linear: {}\n", a.device,
                           analysis::describeLevelDependence(*dependence, *a.response));
}

// On stderr: a plug-in whose output peaks elsewhere than its reported
// latency is misaligned by every host that compensates for it.
void warnOfLatency(const std::vector<analysis::Analysis>& analyses) {
    std::fflush(stdout);
    for (const analysis::Analysis& a : analyses)
        if (a.impulse && !a.impulse->latencyAgrees())
            fmt::print(stderr,
                       "warning: {}: reports a latency of {} frames, but its impulse response "
                       "peaks at {} frames (out 1)\n",
                       a.device, a.impulse->reportedLatencyFrames,
                       a.impulse->channels.front().latencyFrames);
}

// Rates analyze accepts; plug-ins commonly ignore others.
constexpr double kMinAnalysisRate = 8000.0;
constexpr double kMaxAnalysisRate = 768000.0;

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

class AnalyzeCommand : public Command {
public:
    std::string name() const override { return "analyze"; }
    std::string summary() const override {
        return "Measures response, harmonics, distortion, transfer, impulse, aliasing and IMD, as "
               "plots and JSON";
    }
    void declare(CLI::App& command) override;
    int run() override;

private:
    bool compares() const { return !vsPlugin.empty() || !vsSettings.empty(); }
    // The reference, read before anything is measured: the comparison may
    // be with a reference in --out, which the results replace.
    nlohmann::ordered_json readReference() const;
    // Prints why the reference cannot be compared, if it cannot.
    bool refuses(const analysis::Comparison& comparison) const;
    // Exit status of the comparison with saved, which it prints.
    int compareWithReference(const nlohmann::ordered_json& json,
                             const nlohmann::ordered_json& saved) const;

    // The state belongs to --plugin; a comparison with other settings of
    // the same plug-in starts from it too.
    std::string vsState() const { return vsPlugin.empty() ? state : ""; }

    std::string plugin;
    std::string state;
    std::vector<engine::ParameterSetting> settings;
    // A second plug-in, or the same one with other settings, to compare with.
    std::string vsPlugin;
    std::vector<engine::ParameterSetting> vsSettings;
    std::string outputFolder = "varkel-analysis";
    analysis::AnalysisPlan plan;
    bool quiet = false;
    bool html = false;
    bool csv = false;
    std::string reference;
    analysis::Tolerances tolerances;
    engine::PluginIsolation isolation;
};

void AnalyzeCommand::declare(CLI::App& command) {
    addPlugin(command, plugin);
    addState(command, state);
    addSettings(command, "--set", settings,
                kSettingHelp);
    addPlugin(command, vsPlugin, "--vs-plugin",
              "A second plug-in (of either format) to measure beside it");
    addIsolation(command, isolation);
    addSettings(command, "--vs-set", vsSettings,
                "A setting for a second measurement beside the first: the same plug-in (or "
                "--vs-plugin) with these settings instead of --set's; repeatable");
    command
        .add_option("--out", outputFolder, "The folder to write the plots and JSON into")
        ->type_name("DIR")
        ->capture_default_str()
        ->check(notEmpty());
    command
        .add_option_function<std::string>(
            "--what", [this](const std::string& text) { plan.what = parseMeasurements(text); },
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
    command
        .add_option("--oversample", plan.oversample,
                    "Measures aliasing again with the plug-in at N times the rate, resampled "
                    "up before it and down after it")
        ->type_name("N")
        ->check(CLI::Range(2, 16));
    command.add_flag("--html", html,
                     "Also writes report.html: the plots, numbers and settings in one page that "
                     "needs no network");
    command.add_flag("--csv", csv, "Also writes each measurement as a CSV table");
    command
        .add_option("--compare", reference,
                    "Compares with a saved analysis.json, read before measuring (it may lie in "
                    "--out): exit 0 when every number is within tolerance, 1 when not, 2 when "
                    "it was measured with another plan or is not a comparable analysis")
        ->type_name("REFERENCE.json")
        ->check(CLI::ExistingFile);
    command
        .add_option("--tolerance-db", tolerances.levelDb,
                    "--compare: levels and gains (impulse and step relative to their peak)")
        ->type_name("DB")
        ->capture_default_str()
        ->check(numberFromZero("dB"));
    command
        .add_option("--tolerance-phase", tolerances.phaseDeg,
                    "--compare: phase in degrees (group delay as this much phase)")
        ->type_name("DEG")
        ->capture_default_str()
        ->check(numberFromZero("degrees"));
    command
        .add_option("--tolerance-distortion", tolerances.distortionDb,
                    "--compare: THD, harmonics, aliases and IMD")
        ->type_name("DB")
        ->capture_default_str()
        ->check(numberFromZero("dB"));
    command
        .add_option("--tolerance-latency", tolerances.latencyFrames, "--compare: latency")
        ->type_name("FRAMES")
        ->capture_default_str()
        ->check(numberFromZero("frames"));
    command.add_flag("--quiet", quiet, "No progress bar and no summary");
    command.footer(
        "Writes a PNG and an SVG per measurement and analysis.json into DIR, and sums up\n"
        "on the terminal; removes from DIR the plots of an earlier run that this one does\n"
        "not make, and leaves other files there alone. Warns when the response's gain\n"
        "changes by more than 0.1 dB 10 dB below --level. Every render starts a fresh\n"
        "instance on a fresh thread.");
}

}  // namespace

int AnalyzeCommand::run() {
    if (plan.toneHz >= 0.45 * plan.rate)
        throw UsageError(fmt::format("--tone-frequency {:g} Hz: must lie below {:g} Hz at {:g} Hz",
                                     plan.toneHz, 0.45 * plan.rate, plan.rate),
                         "varkel-host analyze --help");
    std::vector<std::unique_ptr<analysis::PluginDevice>> devices;
    devices.push_back(namingOption("--plugin", [&] {
        return std::make_unique<analysis::PluginDevice>(plugin, settings, plan.rate, state, isolation);
    }));
    if (compares())
        devices.push_back(namingOption(vsPlugin.empty() ? "--plugin" : "--vs-plugin", [&] {
            return std::make_unique<analysis::PluginDevice>(vsPlugin.empty() ? plugin : vsPlugin,
                                                          vsSettings, plan.rate, vsState(), isolation);
        }));
    // The same plug-ins at the higher rate, for aliasing.
    std::vector<std::unique_ptr<analysis::PluginDevice>> fastDevices;
    std::vector<std::unique_ptr<analysis::OversampledDevice>> oversampled;
    if (plan.oversample > 1 && plan.includes(analysis::Measurement::Aliasing)) {
        const double fastRate = plan.rate * plan.oversample;
        if (fastRate > kMaxAnalysisRate)
            throw UsageError(fmt::format("--oversample {}: {:g} Hz would run the plug-in above "
                                         "{:g} Hz",
                                         plan.oversample, fastRate, kMaxAnalysisRate),
                             "varkel-host analyze --help");
        fastDevices.push_back(
            std::make_unique<analysis::PluginDevice>(plugin, settings, fastRate, state, isolation));
        if (compares())
            fastDevices.push_back(std::make_unique<analysis::PluginDevice>(
                vsPlugin.empty() ? plugin : vsPlugin, vsSettings, fastRate, vsState(), isolation));
        for (const auto& fast : fastDevices)
            oversampled.push_back(
                std::make_unique<analysis::OversampledDevice>(*fast, plan.oversample));
    }
    for (const auto& device : devices)
        if (device->outputs() < 1)
            throw EngineError(device->description() + " has no outputs; there is nothing to measure");
    nlohmann::ordered_json saved;
    if (!reference.empty()) {
        saved = readReference();
        if (refuses(analysis::screenReference(saved,
                                              analysis::analysisPlanJson(plan, devices.size()))))
            return kExitUsage;
    }

    fs::path target(outputFolder);
    // "out/" names the folder out.
    if (!target.has_filename() && target.has_parent_path()) target = target.parent_path();
    // Before the staging folder exists, so an interrupt always unwinds it.
    InterruptGuard interrupts({target.has_parent_path() ? target.parent_path().string() : "."});
    StagingFolder staging(target);
    std::vector<analysis::Analysis> analyses;
    {
        ProgressBar progress(!quiet, 1000);
        for (std::size_t d = 0; d < devices.size(); ++d) {
            const double share = 1.0 / static_cast<double>(devices.size());
            analyses.push_back(analysis::analyse(
                *devices[d], plan,
                [&](double fraction) {
                    throwIfInterrupted();
                    progress.update(
                        std::llround(1000.0 * share * (static_cast<double>(d) + fraction)));
                },
                oversampled.empty() ? nullptr : oversampled[d].get()));
            cleanTexts(analyses.back());
        }
    }
    const auto plots = analysis::writePlots(analyses, plan, staging.path().string());
    const nlohmann::ordered_json json = analysis::analysisJson(analyses, plan);
    writeText(staging.path() / kJsonName, json.dump(1) + "\n");
    const std::vector<std::string> summary = summaryLines(analyses, plan);
    if (html) {
        std::vector<analysis::ReportPlot> inline_;
        for (const std::string& name : plots)
            inline_.push_back({name, readText(staging.path() / (name + ".svg"))});
        writeText(staging.path() / kHtmlName,
                  analysis::htmlReport(json, inline_, summary, "varkel-host " VARKEL_VERSION));
    }
    if (csv)
        for (const analysis::CsvFile& file : analysis::analysisCsv(analyses, plan))
            writeText(staging.path() / file.name, file.text);
    throwIfInterrupted();
    std::vector<std::string> ownNames = analysis::plotFileNames();
    ownNames.push_back(kJsonName);
    ownNames.push_back(kHtmlName);
    for (const std::string& name : analysis::csvFileNames()) ownNames.push_back(name);
    staging.moveInto(target, ownNames);
    if (!quiet) {
        for (const std::string& line : summary) fmt::print("{}\n", line);
        fmt::print("wrote plots and {} into {}\n", kJsonName, target.string());
        warnOfLevelDependence(analyses);
        warnOfLatency(analyses);
    }
    return reference.empty() ? kExitSuccess : compareWithReference(json, saved);
}

nlohmann::ordered_json AnalyzeCommand::readReference() const {
    try {
        return nlohmann::ordered_json::parse(readText(reference));
    } catch (const nlohmann::json::exception& e) {
        throw EngineError("--compare " + reference + ": not an analysis.json: " + e.what(),
                          kExitUsage);
    }
}

bool AnalyzeCommand::refuses(const analysis::Comparison& comparison) const {
    std::fflush(stdout);
    if (!comparison.planDifferences.empty()) {
        fmt::print("cannot compare with {}: it was measured with another plan:\n", reference);
        for (const std::string& d : comparison.planDifferences) fmt::print("  {}\n", d);
        return true;
    }
    if (!comparison.malformed.empty()) {
        fmt::print("cannot compare with {}: not a comparable analysis:\n", reference);
        for (const std::string& d : comparison.malformed) fmt::print("  {}\n", d);
        return true;
    }
    return false;
}

int AnalyzeCommand::compareWithReference(const nlohmann::ordered_json& json,
                                         const nlohmann::ordered_json& saved) const {
    const analysis::Comparison comparison = analysis::compareAnalyses(json, saved, tolerances);
    if (refuses(comparison)) return kExitUsage;
    for (const std::string& change : comparison.settingChanges)
        fmt::print("setting changed: {}\n", change);
    if (comparison.differences.empty()) {
        fmt::print("same as {}: {} numbers within tolerance\n", reference, comparison.compared);
        return kExitSuccess;
    }
    fmt::print("differs from {}: {} of {} numbers out of tolerance; the first:\n", reference,
               comparison.differences.size(), comparison.compared);
    for (std::size_t i = 0; i < comparison.differences.size() && i < kDifferencesShown; ++i)
        fmt::print("  {}\n", comparison.differences[i]);
    return kExitFailure;
}

std::unique_ptr<Command> makeAnalyzeCommand() { return std::make_unique<AnalyzeCommand>(); }

}  // namespace varkel::tool
