// A batch as varkel-host render --out-dir plans and reports it, for front ends
// that render its files elsewhere (on a cluster): the plan, one file's render
// into a path of the caller's choosing under the name the plan gave it, the
// summary lines, and the names temporaries carry.
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/render/automation.h"
#include "engine/render/batch_preparation.h"
#include "engine/render/render_request.h"
#include "engine/engine_error.h"
#include "engine/sound/temporary_files.h"
#include "python/src/bindings.h"
#include "python/src/keyword_wording.h"
#include "python/src/render_arguments.h"
#include "engine/report/summary_text.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

// The checks varkel-host's --tail option makes.

py::dict prepareBatch(const std::vector<std::string>& inputs, const std::string& outputFolder,
                      bool recursive, const std::string& name, const std::string& extension,
                      bool overwrite, bool skipExisting, const std::string& plugin,
                      const std::string& state, const std::string& preset, const Settings& settings,
                      const Lanes& automation, int block, bool isolated, double pluginTimeout,
                      std::optional<int> sampleRate) {
    engine::BatchRequest request{inputs, outputFolder, recursive, name, extension, overwrite,
                                 skipExisting};
    engine::RenderJob render = makeRenderJob({}, {}, {plugin, settings, automation, false, 32, block, std::nullopt});
    render.state = state;
    render.preset = preset;
    render.isolation = {isolated, pluginTimeout};
    render.sampleRate = sampleRate;
    engine::checkRenderJob(render);
    engine::PreparedBatch batch;
    {
        const py::gil_scoped_release unlocked;
        batch = engine::prepareBatch(request, render);
    }
    py::list items;
    for (const engine::BatchItem& item : batch.items)
        items.append(py::make_tuple(item.input, item.output, item.problem, item.skip));
    py::dict result;
    result["items"] = items;
    result["problems"] = batch.problems;
    result["folders"] = batch.outputFolders;
    return result;
}

// Renders input into output (replacing it) and reports it as the plan's
// shownInput into shownOutput: the summary reads as varkel-host's would.
py::dict renderItem(const std::string& input, const std::string& output,
                    const std::string& shownInput, const std::string& shownOutput,
                    const std::string& plugin, const std::string& state,
                    const std::string& preset, const Settings& settings,
                    const Lanes& automation, bool ramp, int precision, int block,
                    const std::optional<std::string>& format, bool dither, bool compensateLatency,
                    std::optional<double> tailSeconds, const std::string& sideChain,
                    std::optional<int> sampleRate, std::optional<double> loudness,
                    std::optional<double> truePeakMax, bool measure, const std::string& midi,
                    std::optional<int> midiChannel, bool inProcess, double pluginTimeout,
                    const std::string& wording) {
    const engine::FieldWordingScope words(wordingNamed(wording));
    engine::RenderJob job = makeRenderJob(
        input, output,
        withRateAndLoudness({plugin, settings, automation, ramp, precision, block, format},
                            sampleRate, loudness, truePeakMax, measure));
    job.state = state;
    job.preset = preset;
    job.dither = dither;
    job.compensateLatency = compensateLatency;
    job.tailSeconds = tailSeconds;
    job.sideChain = sideChain;
    job.midi = midi;
    job.midiChannel = midiChannel;
    job.isolation = {!inProcess, pluginTimeout};
    engine::checkRenderJob(job);
    engine::RenderSummary summary = renderUnlocked(job);
    summary.input = shownInput;
    summary.output = shownOutput;
    py::dict result = summaryDict(summary);
    result["summary"] = engine::summaryLine(summary);
    result["warning"] = engine::summaryWarning(summary);
    return result;
}

std::tuple<std::string, std::vector<double>, std::vector<double>> parseAutomation(
    const std::string& text) {
    const engine::AutomationLane lane = engine::parseAutomation(text);
    std::vector<double> times;
    std::vector<double> values;
    for (const engine::AutomationPoint& point : lane.points) {
        times.push_back(point.seconds);
        values.push_back(point.value);
    }
    return {lane.parameter, times, values};
}

}  // namespace

void bindBatch(py::module_& module) {
    module.def("prepare_batch", &prepareBatch, py::arg("inputs"), py::arg("out_dir"),
               py::arg("recursive"), py::arg("name"), py::arg("ext"), py::arg("overwrite"),
               py::arg("skip_existing"), py::arg("plugin"), py::arg("state"), py::arg("preset"),
               py::arg("settings"), py::arg("automation"), py::arg("block_size"),
               py::arg("isolated") = false,
               py::arg("plugin_timeout") = engine::kDefaultPluginTimeoutSeconds,
               py::arg("sample_rate") = py::none());
    module.def("render_item", &renderItem, py::arg("input"), py::arg("output"),
               py::arg("shown_input"), py::arg("shown_output"), py::arg("plugin"),
               py::arg("state"), py::arg("preset"), py::arg("settings"), py::arg("automation"), py::arg("ramp"),
               py::arg("precision"), py::arg("block_size"), py::arg("format"), py::arg("dither"),
               py::arg("compensate_latency"), py::arg("tail"), py::arg("sidechain"),
               py::arg("sample_rate"), py::arg("loudness"), py::arg("true_peak_max"),
               py::arg("measure"), py::arg("midi") = "", py::arg("midi_channel") = py::none(),
               py::arg("in_process") = true,
               py::arg("plugin_timeout") = engine::kDefaultPluginTimeoutSeconds,
               py::arg("wording") = "python");
    module.def("parse_automation", &parseAutomation, py::arg("text"));
    module.def("render_option_fields", [] {
        static const char* const kKinds[] = {"text",    "flag",    "integer",   "number",
                                             "choice",  "setting", "automation"};
        py::list fields;
        for (const engine::RenderOptionField& f : engine::renderOptionFields()) {
            py::dict field;
            field["name"] = f.name;
            field["keyword"] = f.keyword;
            field["kind"] = kKinds[static_cast<int>(f.kind)];
            field["minimum"] = f.minimum;
            field["maximum"] = f.maximum;
            field["default"] = f.defaultValue;
            field["choices"] = f.choices;
            field["metavar"] = f.metavar;
            field["help"] = f.help;
            fields.append(field);
        }
        return fields;
    });
    module.def("totals_line", &engine::batchTotalsLine, py::arg("files"), py::arg("rendered"),
               py::arg("skipped"), py::arg("failed"), py::arg("not_rendered"), py::arg("seconds"));
    module.def("temporary_pattern", &engine::temporaryPattern, py::arg("folder"));
    module.def("remove_stale_temporaries", &engine::removeStaleTemporaries, py::arg("folder"));
}

}  // namespace varkel::python
