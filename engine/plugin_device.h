// A plug-in with its settings as a device to measure: each render is a fresh
// instance, set up and switched on as for a file render, fed the same signal
// on every input through the block driver.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis/device.h"
#include "engine/parameter_lookup.h"
#include "engine/plugin.h"

namespace varkel::engine {

class PluginDevice : public analysis::Device {
public:
    // Opens the plug-in (the default one when name is empty) and checks the
    // settings against it; throws EngineError or UsageError.
    PluginDevice(const std::string& name, std::vector<ParameterSetting> settings, double rate);
    ~PluginDevice() override;

    int outputs() const override { return probe->outputs(); }
    std::string description() const override { return text; }
    std::vector<analysis::Signal> render(const analysis::Signal& input) const override;
    int reportedLatency() const override { return latency; }
    std::string identity() const override;
    std::vector<std::pair<std::string, double>> parameters() const override;

private:
    std::vector<ParameterSetting> settings;
    double rate;
    // Keeps the module loaded between renders and answers for the plug-in.
    std::unique_ptr<Plugin> probe;
    std::string text;
    int latency = 0;
};

}  // namespace varkel::engine
