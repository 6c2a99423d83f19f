#include "engine/channel_mapping.h"

#include <algorithm>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

std::string count(int n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace

std::string ChannelMapping::description() const {
    if (monoFeed && pluginInputs > 1)
        return "mono fed to " + count(pluginInputs, "input", "inputs");
    if (instances == 1) return {};
    return count(instances, "instance", "instances") + ", " +
           count(pluginInputs, "channel", "channels") + " each";
}

ChannelMapping mapChannels(int fileChannels, int pluginInputs, int pluginOutputs) {
    if (pluginInputs < 1 || pluginOutputs < 1)
        throw EngineError("the plug-in has " + count(pluginInputs, "input", "inputs") + " and " +
                        count(pluginOutputs, "output", "outputs") +
                        "; render needs an effect with both");
    ChannelMapping mapping;
    mapping.fileChannels = fileChannels;
    mapping.pluginInputs = pluginInputs;
    mapping.pluginOutputs = pluginOutputs;
    if (fileChannels == pluginInputs || fileChannels == 1) {
        mapping.monoFeed = fileChannels == 1;
        mapping.outputsPerInstance = pluginOutputs;
        return mapping;
    }
    if (fileChannels < pluginInputs)
        throw EngineError("a " + count(fileChannels, "channel", "channels") +
                        " file cannot feed a plug-in with " + std::to_string(pluginInputs) +
                        " inputs (only a mono file feeds more inputs than it has channels)");
    if (fileChannels % pluginInputs != 0)
        throw EngineError("a " + std::to_string(fileChannels) +
                        "-channel file does not split into groups of " +
                        std::to_string(pluginInputs) + " for a plug-in with " +
                        std::to_string(pluginInputs) + " inputs");
    mapping.instances = fileChannels / pluginInputs;
    mapping.outputsPerInstance = std::min(pluginInputs, pluginOutputs);
    return mapping;
}

}  // namespace varkel::engine
