// How a file's channels reach a plug-in's inputs, as workstations do it: one
// instance when the counts match or the file is mono (it feeds every main
// input), else one instance per group of channels the plug-in's main inputs
// can take, all with the same settings. Side-chain inputs are fed apart: from
// a side-chain file, or silence.
#pragma once

#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/plugin.h"

namespace varkel::engine {

struct ChannelMapping {
    int fileChannels = 0;
    int pluginInputs = 0;  // all of them, side-chains included
    int pluginOutputs = 0;
    int instances = 1;
    // Outputs each instance contributes to the output file: all of them with
    // one instance, else as many as the instance takes in (fewer when the
    // plug-in has fewer outputs), so that channel k of the file stays channel
    // k of the result.
    int outputsPerInstance = 0;
    bool monoFeed = false;  // the file's one channel feeds every main input
    // The plug-in's input indices: those the file feeds, and the side-chains.
    std::vector<int> mainInputs;
    std::vector<int> sideChainInputs;
    // Channels of the side-chain file; 0 when the side-chains get silence.
    int sideChainChannels = 0;

    int mainInputCount() const { return static_cast<int>(mainInputs.size()); }
    int outputChannels() const { return instances * outputsPerInstance; }
    // The file channel the k-th main input of instance `instance` reads.
    int sourceChannel(int instance, int k) const {
        return monoFeed ? 0 : instance * mainInputCount() + k;
    }
    // The side-chain file channel the k-th side-chain input reads: a mono
    // file feeds them all. Every instance reads the same.
    int sideChainSource(int k) const { return sideChainChannels == 1 ? 0 : k; }
    // The output file channel output `output` of instance `instance` writes.
    int targetChannel(int instance, int output) const {
        return instance * outputsPerInstance + output;
    }
    // Empty for the plain one-to-one case; else e.g. "2 instances, 1
    // channel each", "mono fed to 2 inputs", "side-chain silent".
    std::string description() const;
};

// Throws EngineError (without naming the file) for a plug-in with no inputs
// or outputs, or a file whose channels cannot be split evenly among copies of
// the plug-in. Every input is a main one.
ChannelMapping mapChannels(int fileChannels, int pluginInputs, int pluginOutputs);

// A side-chain file whose channels do not fit the plug-in's side-chain inputs.
class SideChainMismatch : public EngineError {
public:
    using EngineError::EngineError;
};

// The same with the plug-in's side-chains apart; sideChainChannels are the
// side-chain file's (0: none, they get silence). Throws SideChainMismatch
// when that file's channels do not fit the side-chain inputs.
ChannelMapping mapChannels(int fileChannels, const std::vector<InputInfo>& inputs,
                           int pluginOutputs, int sideChainChannels = 0);

// One instance playing MIDI alone: no file feeds it, and any audio inputs it
// has (an instrument with an input to process) get silence. Throws
// EngineError for a plug-in without outputs.
ChannelMapping midiOnlyMapping(const std::vector<InputInfo>& inputs, int pluginOutputs);

// One instance whatever the counts, for measuring a plug-in: the main inputs
// fed one channel each (or all the one channel, with mono), side-chains
// silent. Never throws.
ChannelMapping singleInstanceMapping(const std::vector<InputInfo>& inputs, int pluginOutputs,
                                     bool mono);

}  // namespace varkel::engine
