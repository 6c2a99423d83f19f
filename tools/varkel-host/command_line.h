// The command line: subcommands and their options, parsed into plain records.
// Every mistake becomes a UsageError naming the argument.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "analysis/measurements.h"
#include "tools/varkel-host/automation.h"

namespace varkel::tool {

enum class Precision { Single, Double };
enum class SampleFormat { SameAsInput, Float, Pcm24, Pcm16 };

// Block sizes beyond this gain nothing and only risk plug-ins that size
// their buffers from it.
inline constexpr int kMaxBlockFrames = 65536;
inline constexpr int kDefaultBlockFrames = 512;

// One --set NAME=VALUE: a parameter by name or index, in normalised units.
struct ParameterSetting {
    std::string parameter;
    float value = 0.0f;
};

struct RenderOptions {
    std::string input;
    std::string output;
    // Batch form (--out-dir given): inputs are files and folders.
    std::vector<std::string> inputs;
    std::string outputFolder;
    bool recursive = false;
    std::string namePattern;  // empty: the default
    std::string extension;    // --ext; empty: each input's own
    int jobs = 0;             // 0: one per core
    bool overwrite = false;
    std::vector<AutomationLane> automation;
    bool ramp = false;
    std::string plugin;  // empty: the Varkel.so that came with the tool
    std::vector<ParameterSetting> settings;
    Precision precision = Precision::Single;
    int blockFrames = kDefaultBlockFrames;
    SampleFormat format = SampleFormat::SameAsInput;
    bool quiet = false;
};

struct InfoOptions {
    std::string plugin;
    bool json = false;
};

struct BenchOptions {
    std::string plugin;
    double seconds = 10.0;
    int blockFrames = kDefaultBlockFrames;
    Precision precision = Precision::Single;
};

struct DemoOptions {
    std::string outputFolder = "varkel-demo";
    std::string plugin;
    bool quiet = false;
};

// --help anywhere before "--": the help of the command it was given for.
struct HelpRequest {
    std::string text;
};

// Rates analyze accepts; plug-ins commonly ignore others.
inline constexpr double kMinAnalysisRate = 8000.0;
inline constexpr double kMaxAnalysisRate = 768000.0;

struct AnalyzeOptions {
    std::string plugin;
    std::vector<ParameterSetting> settings;
    // A second plug-in, or the same one with other settings, to compare with.
    std::string vsPlugin;
    std::vector<ParameterSetting> vsSettings;
    std::string outputFolder = "varkel-analysis";
    analysis::AnalysisPlan plan;
    bool quiet = false;

    bool compares() const { return !vsPlugin.empty() || !vsSettings.empty(); }
};

using Command = std::variant<HelpRequest, RenderOptions, InfoOptions, BenchOptions, DemoOptions,
                             AnalyzeOptions>;

// args excludes the program name.
Command parseCommandLine(const std::vector<std::string>& args);

}  // namespace varkel::tool
