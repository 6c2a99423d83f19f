#include "analysis/plugin_device.h"

#include <algorithm>

#include "engine/render/block_driver.h"
#include "engine/plugins/plugin_loader.h"
#include "engine/render/render_job.h"

namespace varkel::analysis {

using namespace engine;

PluginDevice::PluginDevice(const std::string& name, std::vector<ParameterSetting> settings,
                           double rate, std::string state, PluginIsolation isolation)
    : settings(std::move(settings)),
      rate(rate),
      state(std::move(state)),
      isolation(isolation),
      probe(openPlugin(name, rate, kDefaultBlockFrames, ProcessMode::Offline, isolation)) {
    applyState(*probe, this->state, "", this->settings);
    text = describeSettings(*probe, this->settings);
    latency = std::max(probe->latency(), 0);
}

std::string PluginDevice::identity() const {
    return probe->name() + " (" + probe->format() + ", " + probe->location() + ")";
}

std::vector<std::pair<std::string, double>> PluginDevice::parameters() const {
    std::vector<std::pair<std::string, double>> values;
    for (int i = 0; i < probe->parameterCount(); ++i)
        values.emplace_back(probe->parameterName(i), probe->parameter(i));
    return values;
}

PluginDevice::~PluginDevice() = default;

std::vector<Signal> PluginDevice::render(const Signal& input) const {
    const std::unique_ptr<Plugin> plugin = openPlugin(probe->location(), rate, kDefaultBlockFrames,
                                                          ProcessMode::Offline, isolation);
    applyState(*plugin, state, "", settings);
    plugin->start(Precision::Single);
    // The one signal feeds every main input; side-chains get silence.
    const ChannelMapping mapping =
        singleInstanceMapping(plugin->inputInfo(), plugin->outputs(), true);
    const std::size_t length = input.size();
    analysis::Signal rendered(length * static_cast<std::size_t>(mapping.outputChannels()));
    {
        BlockDriver<float> driver({plugin.get()}, mapping, kDefaultBlockFrames);
        driver.process(input.data(), SampleLayout::planar(length), rendered.data(),
                       SampleLayout::planar(length), length);
    }
    plugin->stop();
    std::vector<analysis::Signal> outputs;
    for (int c = 0; c < mapping.outputChannels(); ++c) {
        const auto begin = rendered.begin() + static_cast<std::ptrdiff_t>(c * length);
        outputs.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(length));
    }
    return outputs;
}

}  // namespace varkel::analysis
