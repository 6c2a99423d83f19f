// render with many inputs: every file through its own plug-in instances on a
// fresh thread, N at a time, failures reported per file, one progress
// display and one summary for the lot.
#pragma once

#include <string>
#include <vector>

#include "tools/varkel-host/batch_plan.h"
#include "tools/varkel-host/render.h"

namespace varkel::tool {

struct BatchOptions {
    std::vector<std::string> inputs;  // files and folders
    std::string outputFolder;
    bool recursive = false;
    std::string namePattern = kDefaultNamePattern;
    std::string extension;  // empty: each input's own
    bool overwrite = false;
    int jobs = 0;  // 0: one per core
    bool quiet = false;
    RenderJob render;  // everything but the input and output
};

// Renders the batch and prints a line per file and the summary. Returns 0
// when every file rendered, 1 when any failed, 130 when interrupted.
int runBatch(const BatchOptions& options);

}  // namespace varkel::tool
