// Failures of a plug-in named on the command line, told with the option
// that named it (--plugin, --vs-plugin).
#pragma once

#include <string>
#include <utility>

#include "engine/engine_error.h"

namespace varkel::tool {

// Runs make() and returns what it returns; an EngineError it throws comes
// back with option in front of its message.
template <typename Make>
auto namingOption(const std::string& option, Make&& make) {
    try {
        return std::forward<Make>(make)();
    } catch (const engine::UsageError&) {
        throw;  // already names its option
    } catch (const engine::FileNotFound& error) {
        throw engine::FileNotFound(option + " " + error.what(), error.status());
    } catch (const engine::EngineError& error) {
        throw engine::EngineError(option + ": " + error.what(), error.status());
    }
}

}  // namespace varkel::tool
