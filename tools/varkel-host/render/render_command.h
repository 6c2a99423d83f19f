// render: one file into another, or many files into a folder (--out-dir).
#pragma once

#include <memory>

#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

std::unique_ptr<Command> makeRenderCommand();

}  // namespace varkel::tool
