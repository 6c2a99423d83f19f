// state: saves the state of a plug-in set up as a render would set it up
// (a saved state, a preset, settings), for later renders to load.
#pragma once

#include <memory>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

std::unique_ptr<Command> makeStateCommand();

}  // namespace varkel::tool
