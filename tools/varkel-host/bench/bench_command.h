// bench: the cost of processing generated audio through a plug-in.
#pragma once

#include <memory>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

std::unique_ptr<Command> makeBenchCommand();

}  // namespace varkel::tool
