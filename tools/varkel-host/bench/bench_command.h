// The cost of a plug-in on this host: generated audio through it as fast as
// it goes, reported per channel-sample and as a multiple of real time.
#pragma once

#include "tools/varkel-host/command_line.h"

namespace varkel::tool {

int runBench(const BenchOptions& options);

}  // namespace varkel::tool
