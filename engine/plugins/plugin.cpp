#include "engine/plugins/plugin.h"

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

[[noreturn]] void noState(const Plugin& plugin, const std::string& given) {
    throw UsageError(mention(RequestField::State, given) + ": " + plugin.name() +
                     " keeps no state to save or load beyond its parameters");
}

}  // namespace

void Plugin::loadState(const std::string& path) { noState(*this, path); }
void Plugin::saveState(const std::string& path) { noState(*this, path); }
std::string Plugin::stateBytes() { noState(*this, ""); }
void Plugin::setStateBytes(const std::string&) { noState(*this, ""); }

}  // namespace varkel::engine
