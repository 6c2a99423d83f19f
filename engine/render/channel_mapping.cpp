#include "engine/render/channel_mapping.h"

#include <algorithm>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

std::string count(int n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace

std::string ChannelMapping::description() const {
    std::vector<std::string> parts;
    if (monoFeed && mainInputCount() > 1)
        parts.push_back("mono fed to " + count(mainInputCount(), "input", "inputs"));
    if (instances > 1)
        parts.push_back(count(instances, "instance", "instances") + ", " +
                        count(mainInputCount(), "channel", "channels") + " each");
    if (!sideChainInputs.empty() && mainInputs.empty() && fileChannels == 0)
        parts.push_back("inputs silent");
    else if (!sideChainInputs.empty())
        parts.push_back(sideChainChannels == 0 ? "side-chain silent" : "side-chain from file");
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

ChannelMapping mapChannels(int fileChannels, int pluginInputs, int pluginOutputs) {
    return mapChannels(fileChannels, std::vector<InputInfo>(std::max(pluginInputs, 0)),
                       pluginOutputs);
}

namespace {

ChannelMapping splitInputs(int fileChannels, const std::vector<InputInfo>& inputs,
                           int pluginOutputs, int sideChainChannels) {
    ChannelMapping mapping;
    mapping.fileChannels = fileChannels;
    mapping.pluginInputs = static_cast<int>(inputs.size());
    mapping.pluginOutputs = pluginOutputs;
    mapping.sideChainChannels = sideChainChannels;
    for (int i = 0; i < mapping.pluginInputs; ++i)
        (inputs[static_cast<std::size_t>(i)].sideChain ? mapping.sideChainInputs
                                                       : mapping.mainInputs)
            .push_back(i);
    return mapping;
}

}  // namespace

ChannelMapping midiOnlyMapping(const std::vector<InputInfo>& inputs, int pluginOutputs) {
    if (pluginOutputs < 1) throw EngineError("the plug-in has no outputs to render");
    ChannelMapping mapping;
    mapping.pluginInputs = static_cast<int>(inputs.size());
    mapping.pluginOutputs = pluginOutputs;
    mapping.outputsPerInstance = pluginOutputs;
    for (int i = 0; i < mapping.pluginInputs; ++i) mapping.sideChainInputs.push_back(i);
    return mapping;
}

ChannelMapping singleInstanceMapping(const std::vector<InputInfo>& inputs, int pluginOutputs,
                                     bool mono) {
    ChannelMapping mapping = splitInputs(0, inputs, pluginOutputs, 0);
    mapping.fileChannels = mono ? 1 : mapping.mainInputCount();
    mapping.monoFeed = mono;
    mapping.outputsPerInstance = pluginOutputs;
    return mapping;
}

ChannelMapping mapChannels(int fileChannels, const std::vector<InputInfo>& inputs,
                           int pluginOutputs, int sideChainChannels) {
    // A file with a channel for every input, side-chains included, feeds
    // them one to one, as a workstation's routing of them all would; but
    // where the plug-in names its side-chains and the file splits evenly
    // among its main inputs, each channel group gets an instance of its own
    // (a stereo file through a mono compressor with a side-chain).
    const auto named = [](const InputInfo& input) {
        return input.sideChain && input.reason != SideChainReason::Count;
    };
    const int mainCount = static_cast<int>(std::count_if(
        inputs.begin(), inputs.end(), [](const InputInfo& input) { return !input.sideChain; }));
    const bool splitsAmongMains = mainCount > 0 && fileChannels % mainCount == 0 &&
                                  std::any_of(inputs.begin(), inputs.end(), named);
    const bool everyInput = sideChainChannels == 0 && fileChannels > 1 &&
                            fileChannels == static_cast<int>(inputs.size()) && !splitsAmongMains;
    ChannelMapping mapping =
        everyInput ? splitInputs(fileChannels, std::vector<InputInfo>(inputs.size()), pluginOutputs, 0)
                   : splitInputs(fileChannels, inputs, pluginOutputs, sideChainChannels);
    const int mains = mapping.mainInputCount();
    if (mains < 1 || pluginOutputs < 1)
        throw EngineError("the plug-in has " + count(mains, "input", "inputs") +
                          (mapping.sideChainInputs.empty() ? "" : " besides its side-chains") +
                          " and " + count(pluginOutputs, "output", "outputs") +
                          "; render needs an effect with both");
    const int sides = static_cast<int>(mapping.sideChainInputs.size());
    if (sideChainChannels > 0 && sides == 0)
        throw SideChainMismatch("the plug-in has no side-chain input to feed");
    if (sideChainChannels > 1 && sideChainChannels != sides)
        throw SideChainMismatch("a " + std::to_string(sideChainChannels) + "-channel" +
                          " side-chain file does not fit " + count(sides, "side-chain input",
                                                                   "side-chain inputs") +
                          " (a mono file feeds them all)");
    if (fileChannels == mains || fileChannels == 1) {
        mapping.monoFeed = fileChannels == 1;
        mapping.outputsPerInstance = pluginOutputs;
        return mapping;
    }
    const std::string inputsText =
        std::to_string(mains) + (mapping.sideChainInputs.empty() ? " inputs" : " main inputs");
    if (fileChannels < mains)
        throw EngineError("a " + count(fileChannels, "channel", "channels") +
                          " file cannot feed a plug-in with " + inputsText +
                          " (only a mono file feeds more inputs than it has channels)");
    if (fileChannels % mains != 0)
        throw EngineError("a " + std::to_string(fileChannels) +
                          "-channel file does not split into groups of " + std::to_string(mains) +
                          " for a plug-in with " + inputsText);
    mapping.instances = fileChannels / mains;
    mapping.outputsPerInstance = std::min(mains, pluginOutputs);
    return mapping;
}

}  // namespace varkel::engine
