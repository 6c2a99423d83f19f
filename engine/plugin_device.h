// A plug-in module with its settings as a device to measure: each render is
// a fresh instance, set up and switched on as for a file render, fed the
// same signal on every input.
#pragma once

#include <string>
#include <vector>

#include "analysis/device.h"
#include "tools/varkel-host/command_line.h"
#include "tools/varkel-host/plugin_session.h"

namespace varkel::tool {

class PluginDevice : public analysis::Device {
public:
    // Loads the module (the default one when path is empty) and checks the
    // settings against it; throws ToolError or UsageError.
    PluginDevice(const std::string& path, std::vector<ParameterSetting> settings, double rate);

    int outputs() const override { return probe.outputs(); }
    std::string description() const override { return text; }
    std::vector<analysis::Signal> render(const analysis::Signal& input) const override;

private:
    std::vector<ParameterSetting> settings;
    double rate;
    // Keeps the module loaded between renders and answers for the plug-in.
    PluginSession probe;
    std::string text;
};

}  // namespace varkel::tool
