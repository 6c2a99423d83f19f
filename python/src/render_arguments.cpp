#include "python/src/render_arguments.h"

#include <cmath>

#include "engine/engine_error.h"
#include "engine/worker_thread.h"
#include "python/src/sample_format_name.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

double decibels(double level) { return level > 0.0 ? 20.0 * std::log10(level) : -INFINITY; }

}  // namespace

engine::RenderJob makeRenderJob(const std::string& input, const std::string& output,
                                const RenderArguments& arguments) {
    engine::RenderJob job;
    job.input = input;
    job.output = output;
    job.plugin = arguments.plugin;
    // The plug-in checks each value against its parameter's range.
    for (const auto& [name, value] : arguments.settings)
        job.settings.push_back({name, static_cast<float>(value)});
    for (const auto& [name, times, values] : arguments.automation) {
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
    job.ramp = arguments.ramp;
    if (arguments.precision != 32 && arguments.precision != 64)
        throw engine::UsageError("precision " + std::to_string(arguments.precision) +
                                 ": must be 32 or 64");
    job.precision = arguments.precision == 64 ? engine::Precision::Double : engine::Precision::Single;
    if (arguments.block < 1 || arguments.block > engine::kMaxBlockFrames)
        throw engine::UsageError("block_size " + std::to_string(arguments.block) + ": must be 1 to " +
                                 std::to_string(engine::kMaxBlockFrames) + " frames");
    job.blockFrames = arguments.block;
    job.format = sampleFormatNamed(arguments.format);
    return job;
}

engine::RenderSummary renderUnlocked(const engine::RenderJob& job) {
    engine::RenderSummary summary;
    const py::gil_scoped_release unlocked;
    engine::WorkerThread().run([&] { summary = engine::renderFile(job); });
    return summary;
}

py::dict summaryDict(const engine::RenderSummary& summary) {
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

}  // namespace varkel::python
