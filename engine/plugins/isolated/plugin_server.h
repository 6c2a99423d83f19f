// The child's side of an isolated plug-in: opens the plug-in in this process
// and does each call the parent puts in the shared region, until the parent
// is gone.
#pragma once

#include <sys/types.h>

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

// Serves calls on the region at sharedFd for the parent; returns the exit
// status once the parent has gone.
int servePlugin(int sharedFd, pid_t parent, const ServedPlugin& plugin);

}  // namespace varkel::engine::isolated
