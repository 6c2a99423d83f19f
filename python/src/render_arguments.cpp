#include "python/src/render_arguments.h"

#include <cmath>

#include "engine/engine_error.h"
#include "engine/render/render_request.h"
#include "python/src/sample_format_name.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

}  // namespace

RenderArguments withRateAndLoudness(RenderArguments arguments, std::optional<int> sampleRate,
                                    std::optional<double> loudness,
                                    std::optional<double> truePeakMax, bool measure) {
    arguments.sampleRate = sampleRate;
    arguments.loudness = loudness;
    arguments.truePeakMax = truePeakMax;
    arguments.measure = measure;
    return arguments;
}

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
        if (times.size() != values.size())
            throw engine::RequestError(engine::RequestField::Automation, name,
                                       "needs as many times as values");
        engine::AutomationLane lane{name, {}};
        for (std::size_t i = 0; i < times.size(); ++i)
            lane.points.push_back({times[i], static_cast<float>(values[i])});
        engine::checkAutomationLane(lane);
        job.automation.push_back(lane);
    }
    job.ramp = arguments.ramp;
    job.precision = engine::precisionOfBits(arguments.precision);
    engine::checkBlockFrames(arguments.block);
    job.blockFrames = arguments.block;
    job.format = engine::sampleFormatNamed(arguments.format.value_or(""));
    job.sampleRate = arguments.sampleRate;
    job.loudness = arguments.loudness;
    job.truePeakMax = arguments.truePeakMax;
    job.measure = arguments.measure;
    engine::checkRenderJob(job);
    return job;
}

engine::RenderSummary renderUnlocked(const engine::RenderJob& job) {
    const py::gil_scoped_release unlocked;
    return engine::renderFile(job);
}

py::dict summaryDict(const engine::RenderSummary& summary) {
    py::dict result;
    result["output"] = summary.output;
    result["frames"] = summary.frames;
    result["sample_rate"] = summary.sampleRate;
    result["seconds"] = summary.elapsedSeconds;
    result["peak_dbfs"] = engine::decibelsOf(summary.levels.peakLevel());
    result["rms_dbfs"] = engine::decibelsOf(summary.levels.rmsLevel());
    result["clipped_samples"] = summary.integerOutput ? summary.levels.samplesOverFullScale() : 0;
    result["channel_mapping"] = summary.channelMapping;
    result["format"] = summary.format;
    result["latency_frames"] = summary.latencyFrames;
    result["resampled_from"] = summary.resampledFrom > 0 ? py::int_(summary.resampledFrom)
                                                          : py::object(py::none());
    result["loudness_gain_db"] = summary.loudnessGainDb ? py::float_(*summary.loudnessGainDb)
                                                        : py::object(py::none());
    if (summary.loudness) result["loudness"] = loudnessDict(*summary.loudness);
    return result;
}

py::dict loudnessDict(const engine::Loudness& loudness) {
    py::dict result;
    result["integrated_lufs"] = loudness.integratedLufs;
    result["range_lu"] = loudness.rangeLu;
    result["true_peak_dbtp"] = loudness.truePeakDbtp;
    return result;
}

}  // namespace varkel::python
