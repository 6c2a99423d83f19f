// demo: test material and three renders of it through Varkel, written as WAV
// files into one folder, with a summary of each.
#pragma once

#include <memory>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

std::unique_ptr<Command> makeDemoCommand();

}  // namespace varkel::tool
