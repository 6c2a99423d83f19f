// analyze: measures a plug-in's response, harmonics, distortion and
// transfer, as plots and JSON.
#pragma once

#include <memory>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

std::unique_ptr<Command> makeAnalyzeCommand();

}  // namespace varkel::tool
