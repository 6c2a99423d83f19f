// Rendering a sound file through a plug-in, block by block, so that memory
// stays the same however long the file is.
#pragma once

#include "tools/varkel-host/command_line.h"
#include "tools/varkel-host/report.h"

namespace varkel::tool {

// Renders options.input into options.output and returns what the summary
// reports. Nothing is left at options.output unless it succeeds.
RenderSummary renderFile(const RenderOptions& options);

// The render subcommand: renders, then prints the summary.
int runRender(const RenderOptions& options);

}  // namespace varkel::tool
