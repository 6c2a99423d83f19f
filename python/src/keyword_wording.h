// The engine's request fields named as the Python faces' keywords, so that
// its messages read "preset Warm: ..." or "block_size 0: ..." in Python, not
// as varkel-host's flags; and a way for a request to ask for either.
#pragma once

#include <string>

#include "engine/engine_error.h"

namespace varkel::python {

std::string keywordWording(engine::RequestField field, const std::string& given);
// The wording of a face by name: "python" (the default) or "command line"
// (the cluster's command line, which reports as varkel-host does).
engine::FieldWording wordingNamed(const std::string& face);
// Makes it the wording of this process.
void useWording(const std::string& face);
// The face's name that useWording took last.
std::string wordingInUse();

}  // namespace varkel::python
