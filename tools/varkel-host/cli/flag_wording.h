// The engine's request fields named as varkel-host's flags, so that its
// messages read "--set PreGain=1.5: ..." on the command line.
#pragma once

#include <string>

#include "engine/engine_error.h"

namespace varkel::tool {

std::string flagWording(engine::RequestField field, const std::string& given);

}  // namespace varkel::tool
