// A file rendered as varkel-host render renders it.
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "python/src/bindings.h"
#include "python/src/render_arguments.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

py::dict render(const std::string& input, const std::string& output, const std::string& plugin,
                const Settings& settings, const Lanes& automation, bool ramp, int precision,
                int block, const std::optional<std::string>& format, bool overwrite,
                std::optional<int> sampleRate, std::optional<double> loudness,
                std::optional<double> truePeakMax, bool measure, std::optional<double> tail,
                const std::string& midi, std::optional<int> midiChannel) {
    engine::RenderJob job = makeRenderJob(
        input, output,
        withRateAndLoudness({plugin, settings, automation, ramp, precision, block, format},
                            sampleRate, loudness, truePeakMax, measure));
    job.replaceExisting = overwrite;
    job.tailSeconds = tail;
    job.midi = midi;
    job.midiChannel = midiChannel;
    engine::checkRenderJob(job);
    return summaryDict(renderUnlocked(job));
}

}  // namespace

void bindRender(py::module_& module) {
    module.def("render", &render, py::arg("input"), py::arg("output"), py::arg("plugin"),
               py::arg("settings"), py::arg("automation"), py::arg("ramp"), py::arg("precision"),
               py::arg("block_size"), py::arg("format"), py::arg("overwrite"),
               py::arg("sample_rate"), py::arg("loudness"), py::arg("true_peak_max"),
               py::arg("measure"), py::arg("tail") = py::none(), py::arg("midi") = "",
               py::arg("midi_channel") = py::none());
}

}  // namespace varkel::python
