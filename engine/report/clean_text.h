// Texts that come from plug-ins, made safe to print and to put in JSON.
#pragma once

#include <string>

namespace varkel::engine {

// Plug-in texts are raw bytes: keeps what prints as UTF-8 and turns every
// other byte (broken, overlong or surrogate sequences, control characters)
// into '?', so that neither a terminal nor a JSON reader is upset.
std::string cleanText(const std::string& text);

}  // namespace varkel::engine
