// The demo: test material and three renders of it through Varkel, written
// as WAV files into one folder, with a summary of each.
#pragma once

#include "tools/varkel-host/command_line.h"

namespace varkel::tool {

int runDemo(const DemoOptions& options);

}  // namespace varkel::tool
