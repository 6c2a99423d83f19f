// A plug-in with its settings as a device to measure, the one place where
// measurement meets hosting (a library of its own, so that the engine and the
// measurements each stand alone): each render is a fresh
// instance, set up and switched on as for a file render, fed the same signal
// on every input through the block driver.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis/device.h"
#include "engine/plugins/parameter_lookup.h"
#include "engine/plugins/plugin.h"
#include "engine/plugins/plugin_loader.h"

namespace varkel::analysis {

class PluginDevice : public Device {
public:
    // Opens the plug-in (the default one when name is empty), loads the
    // saved state if one is named, and checks the settings against it;
    // throws EngineError or UsageError.
    PluginDevice(const std::string& name, std::vector<engine::ParameterSetting> settings, double rate,
                 std::string state = "", engine::PluginIsolation isolation = {});
    ~PluginDevice() override;

    int outputs() const override { return probe->outputs(); }
    std::string description() const override { return text; }
    std::vector<Signal> render(const Signal& input) const override;
    int reportedLatency() const override { return latency; }
    std::string identity() const override;
    std::vector<std::pair<std::string, double>> parameters() const override;

private:
    std::vector<engine::ParameterSetting> settings;
    double rate;
    std::string state;
    engine::PluginIsolation isolation;
    // Keeps the module loaded between renders and answers for the plug-in.
    std::unique_ptr<engine::Plugin> probe;
    std::string text;
    int latency = 0;
};

}  // namespace varkel::analysis
