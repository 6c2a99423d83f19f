// render IN OUT: one file, with a progress bar on a terminal and the summary.
#pragma once

#include "engine/render/render_job.h"

namespace varkel::tool {

// Renders the job's file, interruptible by a signal, and prints the summary
// unless quiet. Returns the exit status.
int renderSingle(const engine::RenderJob& job, bool quiet);

}  // namespace varkel::tool
