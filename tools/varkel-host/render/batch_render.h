// render with many inputs: every file through its own plug-in instances on a
// fresh thread, N at a time, failures reported per file, one progress
// display and one summary for the lot.
#pragma once

#include <string>
#include <vector>

#include "engine/render/batch_preparation.h"
#include "engine/render/render_job.h"

namespace varkel::tool {

struct BatchOptions {
    engine::BatchRequest request;
    int jobs = 0;  // 0: one per core
    bool quiet = false;
};

// Renders the batch and prints a line per file and the summary. Returns 0
// when every file rendered or was skipped, 1 when any failed, 128 + the
// signal when interrupted.
// common holds everything but each file's input and output.
int runBatch(const BatchOptions& options, const engine::RenderJob& common);

}  // namespace varkel::tool
