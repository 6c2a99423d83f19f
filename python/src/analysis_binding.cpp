// analyze's measurements for Python, as the numbers analysis.json holds.
#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis_json.h"
#include "analysis/measurements.h"
#include "engine/engine_error.h"
#include "analysis/plugin_device.h"
#include "python/src/bindings.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

using Settings = std::vector<std::pair<std::string, double>>;
using Devices = std::vector<std::pair<std::string, Settings>>;

constexpr double kLowestAnalysisRate = 8000.0;
constexpr double kHighestAnalysisRate = 768000.0;

std::string analyze(const Devices& devices, double rate, const std::vector<std::string>& what,
                    double responseLevel, double toneFrequency, double toneLevel) {
    analysis::AnalysisPlan plan;
    if (!(rate >= kLowestAnalysisRate && rate <= kHighestAnalysisRate))
        throw engine::UsageError("rate: must be from 8000 to 768000 Hz");
    plan.rate = rate;
    plan.what.clear();
    for (const std::string& name : what) {
        const auto measurement = analysis::measurementNamed(name);
        if (!measurement)
            throw engine::UsageError("what: no measurement " + name +
                                     "; valid: response, harmonics, distortion, transfer");
        plan.what.push_back(*measurement);
    }
    if (plan.what.empty()) throw engine::UsageError("what: name at least one measurement");
    if (!(toneFrequency >= 20.0 && toneFrequency < 0.45 * rate))
        throw engine::UsageError("tone_frequency: must be from 20 Hz to 0.45 times the rate");
    if (!(responseLevel <= 0.0 && toneLevel <= 0.0 && responseLevel > -200.0 && toneLevel > -200.0))
        throw engine::UsageError("levels: must be dBFS from -200 to 0");
    plan.responseLevelDbfs = responseLevel;
    plan.toneHz = toneFrequency;
    plan.toneLevelDbfs = toneLevel;

    const py::gil_scoped_release unlocked;
    std::vector<analysis::Analysis> analyses;
    for (const auto& [location, settings] : devices) {
        std::vector<engine::ParameterSetting> parameters;
        for (const auto& [name, value] : settings)
            parameters.push_back({name, static_cast<float>(value)});
        const analysis::PluginDevice device(location, parameters, rate);
        analyses.push_back(analysis::analyse(device, plan));
    }
    return analysis::analysisJson(analyses, plan)
        .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

void bindAnalysis(py::module_& module) {
    module.def("analyze", &analyze, py::arg("devices"), py::arg("rate"), py::arg("what"),
               py::arg("response_level"), py::arg("tone_frequency"), py::arg("tone_level"));
}

}  // namespace varkel::python
