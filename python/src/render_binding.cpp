// A file rendered as varkel-host render renders it.
#include <pybind11/stl.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/engine_error.h"
#include "engine/render_job.h"
#include "engine/worker_thread.h"
#include "python/src/bindings.h"
#include "python/src/sample_format_name.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

using Settings = std::vector<std::pair<std::string, double>>;
using Lanes = std::vector<std::tuple<std::string, std::vector<double>, std::vector<double>>>;

double decibels(double level) { return level > 0.0 ? 20.0 * std::log10(level) : -INFINITY; }

py::dict render(const std::string& input, const std::string& output, const std::string& plugin,
                const Settings& settings, const Lanes& automation, bool ramp, int precision,
                int block, const std::optional<std::string>& format, bool overwrite) {
    engine::RenderJob job;
    job.input = input;
    job.output = output;
    job.plugin = plugin;
    // The plug-in checks each value against its parameter's range.
    for (const auto& [name, value] : settings) job.settings.push_back({name, static_cast<float>(value)});
    for (const auto& [name, times, values] : automation) {
        if (times.size() != values.size() || times.empty())
            throw engine::UsageError(name + ": automation needs as many times as values, at least one");
        engine::AutomationLane lane{name, {}};
        for (std::size_t i = 0; i < times.size(); ++i) {
            if (!(times[i] >= 0.0 && std::isfinite(times[i])) || (i > 0 && times[i] < times[i - 1]))
                throw engine::UsageError(name + ": automation times must be seconds from 0 on that "
                                         "do not go back");
            lane.points.push_back({times[i], static_cast<float>(values[i])});
        }
        job.automation.push_back(lane);
    }
    job.ramp = ramp;
    if (precision != 32 && precision != 64)
        throw engine::UsageError("precision " + std::to_string(precision) + ": must be 32 or 64");
    job.precision = precision == 64 ? engine::Precision::Double : engine::Precision::Single;
    if (block < 1 || block > engine::kMaxBlockFrames)
        throw engine::UsageError("block_size " + std::to_string(block) + ": must be 1 to " +
                                 std::to_string(engine::kMaxBlockFrames) + " frames");
    job.blockFrames = block;
    job.format = sampleFormatNamed(format);
    job.replaceExisting = overwrite;

    engine::RenderSummary summary;
    {
        const py::gil_scoped_release unlocked;
        // A fresh thread, as varkel-host renders on: a plug-in whose noise is
        // per thread then starts its sequence afresh, whatever ran here before.
        engine::WorkerThread().run([&] { summary = engine::renderFile(job); });
    }
    py::dict result;
    result["output"] = summary.output;
    result["frames"] = summary.frames;
    result["sample_rate"] = summary.sampleRate;
    result["seconds"] = summary.elapsedSeconds;
    result["peak_dbfs"] = decibels(summary.levels.peakLevel());
    result["rms_dbfs"] = decibels(summary.levels.rmsLevel());
    result["clipped_samples"] = summary.integerOutput ? summary.levels.samplesOverFullScale() : 0;
    result["channel_mapping"] = summary.channelMapping;
    result["format"] = summary.format;
    result["latency_frames"] = summary.latencyFrames;
    return result;
}

}  // namespace

void bindRender(py::module_& module) {
    module.def("render", &render, py::arg("input"), py::arg("output"), py::arg("plugin"),
               py::arg("settings"), py::arg("automation"), py::arg("ramp"), py::arg("precision"),
               py::arg("block_size"), py::arg("format"), py::arg("overwrite"));
}

}  // namespace varkel::python
