// Failures of a plug-in named on the command line, told with the option
// that named it (--plugin, --vs-plugin).
#pragma once

#include <string>
#include <utility>

#include "engine/engine_error.h"

namespace varkel::tool {

// The error again with option in front of its message, as the kind it was.
[[noreturn]] inline void rethrowNaming(const std::string& option, const engine::EngineError& error) {
    if (dynamic_cast<const engine::FileNotFound*>(&error) != nullptr)
        throw engine::FileNotFound(option + " " + error.what(), error.status());
    throw engine::EngineError(option + ": " + error.what(), error.status());
}

// Runs make() and returns what it returns; an EngineError it throws comes
// back with option in front of its message.
template <typename Make>
auto namingOption(const std::string& option, Make&& make) {
    try {
        return std::forward<Make>(make)();
    } catch (const engine::UsageError&) {
        throw;  // already names its option
    } catch (const engine::EngineError& error) {
        // A saved state's failures name --state, not the plug-in's option.
        if (std::string(error.what()).starts_with(engine::mention(engine::RequestField::State) + " "))
            throw;
        rethrowNaming(option, error);
    }
}

}  // namespace varkel::tool
