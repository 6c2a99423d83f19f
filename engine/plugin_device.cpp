#include "tools/varkel-host/plugin_device.h"

#include <algorithm>

#include "host/host_callback.h"

namespace varkel::tool {

namespace {

constexpr int kBlockFrames = kDefaultBlockFrames;

// "Varkel, PreGain=1 (12.0 dB)": the name, then each setting with the
// plug-in's own text for it.
std::string describe(const PluginSession& plugin, const std::vector<ParameterSetting>& settings) {
    std::string text = plugin.displayName();
    if (settings.empty()) return text + ", defaults";
    for (const ParameterSetting& setting : settings) {
        const VstInt32 index = plugin.resolveParameter(setting.parameter);
        char value[32];
        std::snprintf(value, sizeof(value), "%g", static_cast<double>(setting.value));
        std::string shown = plugin.effect().parameterDisplay(index);
        const std::string label = plugin.effect().parameterLabel(index);
        shown.erase(0, shown.find_first_not_of(' '));
        if (!label.empty()) shown += " " + label;
        text += ", " + plugin.effect().parameterName(index) + "=" + value;
        if (!shown.empty() && shown != " ") text += " (" + shown + ")";
    }
    return text;
}

}  // namespace

PluginDevice::PluginDevice(const std::string& path, std::vector<ParameterSetting> settings,
                           double rate)
    : settings(std::move(settings)),
      rate(rate),
      probe(path, static_cast<float>(rate), kBlockFrames, host::kProcessLevelOffline) {
    probe.apply(this->settings);
    text = describe(probe, this->settings);
}

std::vector<analysis::Signal> PluginDevice::render(const analysis::Signal& input) const {
    PluginSession session(probe.path(), static_cast<float>(rate), kBlockFrames,
                          host::kProcessLevelOffline);
    session.apply(settings);
    session.start(Precision::Single);
    const std::size_t length = input.size();
    std::vector<analysis::Signal> outputs(static_cast<std::size_t>(session.outputs()),
                                          analysis::Signal(length));
    // The plug-in may write to its inputs, so each gets its own copy of a block.
    std::vector<analysis::Signal> inputBlocks(static_cast<std::size_t>(session.inputs()),
                                              analysis::Signal(kBlockFrames));
    std::vector<float*> in;
    for (auto& block : inputBlocks) in.push_back(block.data());
    std::vector<float*> out(outputs.size());
    for (std::size_t first = 0; first < length; first += kBlockFrames) {
        const std::size_t n = std::min<std::size_t>(kBlockFrames, length - first);
        for (auto& block : inputBlocks)
            std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(first), n, block.begin());
        for (std::size_t c = 0; c < outputs.size(); ++c) out[c] = outputs[c].data() + first;
        session.process(in.data(), out.data(), static_cast<int>(n));
    }
    session.stop();
    return outputs;
}

}  // namespace varkel::tool
