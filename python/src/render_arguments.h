// A render's options as Python passes them, turned into the engine's job and
// checked as varkel-host checks its options; a summary turned back into a
// dict. Shared by render and the batch's per-file render.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/render/render_job.h"

namespace varkel::python {

using Settings = std::vector<std::pair<std::string, double>>;
// (parameter, times in seconds, values)
using Lanes = std::vector<std::tuple<std::string, std::vector<double>, std::vector<double>>>;

struct RenderArguments {
    std::string plugin;
    Settings settings;
    Lanes automation;
    bool ramp = false;
    int precision = 32;
    int block = engine::kDefaultBlockFrames;
    std::optional<std::string> format;
    std::optional<int> sampleRate = std::nullopt;
    std::optional<double> loudness = std::nullopt;
    std::optional<double> truePeakMax = std::nullopt;
    bool measure = false;
};

// The arguments with the resampling and loudness keywords.
RenderArguments withRateAndLoudness(RenderArguments arguments, std::optional<int> sampleRate,
                                    std::optional<double> loudness,
                                    std::optional<double> truePeakMax, bool measure);

// Throws UsageError for automation, a precision or a block size that
// varkel-host would refuse; the plug-in checks the settings' ranges.
engine::RenderJob makeRenderJob(const std::string& input, const std::string& output,
                                const RenderArguments& arguments);

// Renders on a fresh thread with the interpreter unlocked, as varkel-host
// renders each file, so that a plug-in's per-thread noise starts afresh.
engine::RenderSummary renderUnlocked(const engine::RenderJob& job);

pybind11::dict summaryDict(const engine::RenderSummary& summary);
// integrated_lufs, range_lu, true_peak_dbtp.
pybind11::dict loudnessDict(const engine::Loudness& loudness);

}  // namespace varkel::python
