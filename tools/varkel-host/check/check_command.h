// varkel-host check: a plug-in's named tests, each in a child process, as
// text, JSON or JUnit XML.
#pragma once

#include <memory>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

std::unique_ptr<Command> makeCheckCommand();

}  // namespace varkel::tool
