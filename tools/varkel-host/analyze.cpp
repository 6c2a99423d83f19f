#include "tools/varkel-host/analyze.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "analysis/analysis_json.h"
#include "analysis/level_dependence.h"
#include "analysis/plots.h"
#include "tools/varkel-host/interrupt.h"
#include "tools/varkel-host/plugin_device.h"
#include "tools/varkel-host/report.h"
#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kJsonName = "analysis.json";

// A folder beside the output folder that everything is written into first;
// removed with its contents unless kept.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& target) {
        std::error_code error;
        if (fs::exists(target, error) && !fs::is_directory(target, error))
            throw ToolError("--out " + target.string() + " exists and is not a folder");
        const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
        if (!fs::is_directory(parent, error))
            throw ToolError("--out " + target.string() + ": the folder " + parent.string() +
                            " does not exist");
        std::string pattern =
            (parent / fmt::format(".{}.tmp-XXXXXX", target.filename().string())).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw ToolError("--out " + target.string() + ": cannot write in " + parent.string() +
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
        if (error) throw ToolError("--out " + target.string() + ": " + error.message());
        std::vector<std::string> stale;
        for (const std::string& name : ownNames)
            if (!fs::exists(staging / name)) stale.push_back(name);
        for (const auto& entry : fs::directory_iterator(staging)) {
            fs::rename(entry.path(), target / entry.path().filename(), error);
            if (error)
                throw ToolError("cannot move " + entry.path().filename().string() + " into " +
                                target.string() + ": " + error.message());
        }
        for (const std::string& name : stale)
            if (fs::is_regular_file(fs::symlink_status(target / name)) &&
                !fs::remove(target / name, error) && error)
                throw ToolError("cannot remove the earlier " + name + " from " + target.string() +
                                ": " + error.message());
    }

private:
    fs::path staging;
};

void writeJson(const fs::path& path, const nlohmann::ordered_json& json) {
    std::ofstream file(path);
    file << json.dump(1) << '\n';
    file.close();
    if (!file) throw ToolError("cannot write " + path.string());
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

void printSummary(const std::vector<analysis::Analysis>& analyses,
                  const analysis::AnalysisPlan& plan) {
    const bool ab = analyses.size() > 1;
    for (std::size_t d = 0; d < analyses.size(); ++d)
        fmt::print("{}{} ({} output{}, {:g} Hz)\n", ab ? (d == 0 ? "A: " : "B: ") : "",
                   analyses[d].device, analyses[d].outputs, analyses[d].outputs == 1 ? "" : "s",
                   plan.rate);
    auto row = [&](const std::string& label, auto value) {
        std::string line = fmt::format("  {:<30}", label);
        for (std::size_t d = 0; d < analyses.size(); ++d)
            line +=
                fmt::format("{}{:<28}", ab ? (d == 0 ? "A " : "   B ") : "", value(analyses[d]));
        while (!line.empty() && line.back() == ' ') line.pop_back();
        fmt::print("{}\n", line);
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

}  // namespace

int runAnalyze(const AnalyzeOptions& options) {
    const analysis::AnalysisPlan& plan = options.plan;
    if (plan.toneHz >= 0.45 * plan.rate)
        throw UsageError(fmt::format("--tone-frequency {:g} Hz: must lie below {:g} Hz at {:g} Hz",
                                     plan.toneHz, 0.45 * plan.rate, plan.rate),
                         "varkel-host analyze --help");
    std::vector<std::unique_ptr<PluginDevice>> devices;
    devices.push_back(std::make_unique<PluginDevice>(options.plugin, options.settings, plan.rate));
    if (options.compares())
        devices.push_back(std::make_unique<PluginDevice>(
            options.vsPlugin.empty() ? options.plugin : options.vsPlugin, options.vsSettings,
            plan.rate));
    for (const auto& device : devices)
        if (device->outputs() < 1)
            throw ToolError(device->description() + " has no outputs; there is nothing to measure");

    fs::path target(options.outputFolder);
    // "out/" names the folder out.
    if (!target.has_filename() && target.has_parent_path()) target = target.parent_path();
    // Before the staging folder exists, so an interrupt always unwinds it.
    InterruptGuard interrupts;
    StagingFolder staging(target);
    std::vector<analysis::Analysis> analyses;
    {
        ProgressBar progress(!options.quiet, 1000);
        for (std::size_t d = 0; d < devices.size(); ++d) {
            const double share = 1.0 / static_cast<double>(devices.size());
            analyses.push_back(analysis::analyse(*devices[d], plan, [&](double fraction) {
                throwIfInterrupted();
                progress.update(std::llround(1000.0 * share * (static_cast<double>(d) + fraction)));
            }));
        }
    }
    analysis::writePlots(analyses, plan, staging.path().string());
    writeJson(staging.path() / kJsonName, analysis::analysisJson(analyses, plan));
    throwIfInterrupted();
    std::vector<std::string> ownNames = analysis::plotFileNames();
    ownNames.push_back(kJsonName);
    staging.moveInto(target, ownNames);
    if (!options.quiet) {
        printSummary(analyses, plan);
        fmt::print("wrote plots and {} into {}\n", kJsonName, target.string());
        warnOfLevelDependence(analyses);
    }
    return kExitSuccess;
}

}  // namespace varkel::tool
