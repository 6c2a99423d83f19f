// Output sample formats by the names varkel-host's --format takes.
#pragma once

#include <optional>
#include <string>

#include "engine/engine_error.h"
#include "engine/output_format.h"

namespace varkel::python {

// None keeps the input's; "float", "pcm24", "pcm16"; else UsageError.
inline engine::SampleFormat sampleFormatNamed(const std::optional<std::string>& name) {
    if (!name) return engine::SampleFormat::SameAsInput;
    if (*name == "float") return engine::SampleFormat::Float;
    if (*name == "pcm24") return engine::SampleFormat::Pcm24;
    if (*name == "pcm16") return engine::SampleFormat::Pcm16;
    throw engine::UsageError("format " + *name + ": must be float, pcm24, pcm16 or None");
}

}  // namespace varkel::python
