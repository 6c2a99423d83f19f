// Opening a plug-in by what a user names: a VST 2.4 module path, an LV2
// plug-in URI or LV2 bundle folder, or nothing for the Varkel module that
// came with the host.
#pragma once

#include <memory>
#include <string>

#include "engine/plugins/plugin.h"

namespace varkel::engine {

// The Varkel.so that came with the host: beside an installed host
// (<prefix>/lib/vst), else the one in the build tree it was built in.
std::string defaultPluginPath();

inline constexpr double kDefaultPluginTimeoutSeconds = 10.0;

// Whether an instance runs in a child process of its own (slower, but its
// crash or hang is an error here, not the end of this process), and how long
// each call to it may take there.
struct PluginIsolation {
    bool isolated = false;
    double timeoutSeconds = kDefaultPluginTimeoutSeconds;
};

// Opens an instance at the rate and block size; an empty name opens the
// default. Throws EngineError (FileNotFound for a missing module) whose
// message starts with what was named. file: what the instance renders, for
// an isolated one's messages.
std::unique_ptr<Plugin> openPlugin(const std::string& name, double sampleRate, int blockFrames,
                                   ProcessMode mode = ProcessMode::Offline,
                                   const PluginIsolation& isolation = {},
                                   const std::string& file = "");

}  // namespace varkel::engine
