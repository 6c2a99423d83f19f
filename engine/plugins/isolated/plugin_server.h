// The child's side of an isolated plug-in: opens the plug-in in this process
// and does each call the parent puts in the shared region, until the parent
// is gone.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/plugins/plugin.h"

namespace varkel::engine::isolated {

struct ServedPlugin {
    std::string name;  // resolved: a module path or an LV2 URI or bundle
    double sampleRate = 44100.0;
    int blockFrames = 512;
    ProcessMode mode = ProcessMode::Offline;
    bool verbose = false;
};

// Opens the plug-in served; openPlugin unless a test child says otherwise.
using ServedOpener = std::function<std::unique_ptr<Plugin>(const ServedPlugin&)>;

// Serves calls on the region at sharedFd for the parent; returns the exit
// status once the parent has gone.
int servePlugin(int sharedFd, pid_t parent, const ServedPlugin& plugin,
                const ServedOpener& open = {});

// A child's main: reads the arguments IsolatedPlugin starts it with
//   --parent PID --rate HZ --block N --mode offline|realtime --verbose 0|1 -- PLUGIN
// and serves the region it is handed as fd 3; status 2 for arguments it
// cannot take.
int runPluginHost(int argc, char** argv, const ServedOpener& open = {});

}  // namespace varkel::engine::isolated
