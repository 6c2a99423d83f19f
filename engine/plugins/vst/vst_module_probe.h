// Loading VST 2.4 modules to see what they are, each in a child process of
// its own, so that one that crashes, hangs or exits takes only that child
// down: it is then listed as failed with the reason.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "engine/plugins/plugin_catalog.h"

namespace varkel::engine {

// One entry per path, in the same order. Forks: call it while the process
// has a single thread.
std::vector<CatalogEntry> probeVstModules(const std::vector<std::string>& paths,
                                          std::chrono::milliseconds timeout, int parallel);

}  // namespace varkel::engine
