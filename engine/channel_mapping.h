// How a file's channels reach a plug-in's inputs, as workstations do it: one
// instance when the counts match or the file is mono (it feeds every input),
// else one instance per group of channels the plug-in's inputs can take,
// all with the same settings.
#pragma once

#include <string>

namespace varkel::engine {

struct ChannelMapping {
    int fileChannels = 0;
    int pluginInputs = 0;
    int pluginOutputs = 0;
    int instances = 1;
    // Outputs each instance contributes to the output file: all of them with
    // one instance, else as many as the instance takes in (fewer when the
    // plug-in has fewer outputs), so that channel k of the file stays channel
    // k of the result.
    int outputsPerInstance = 0;
    bool monoFeed = false;  // the file's one channel feeds every input

    int outputChannels() const { return instances * outputsPerInstance; }
    // The file channel input `input` of instance `instance` reads.
    int sourceChannel(int instance, int input) const {
        return monoFeed ? 0 : instance * pluginInputs + input;
    }
    // The output file channel output `output` of instance `instance` writes.
    int targetChannel(int instance, int output) const {
        return instance * outputsPerInstance + output;
    }
    // Empty for the plain one-to-one case; else e.g. "2 instances, 1
    // channel each" or "mono fed to 2 inputs".
    std::string description() const;
};

// Throws EngineError (without naming the file) for a plug-in with no inputs
// or outputs, or a file whose channels cannot be split evenly among copies of
// the plug-in.
ChannelMapping mapChannels(int fileChannels, int pluginInputs, int pluginOutputs);

}  // namespace varkel::engine
