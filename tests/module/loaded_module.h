// The built module, loaded once per test process, and instances of it, for
// the tests that drive it as a host would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/plugin_instance.h"

namespace loaded {

inline const varkel::host::PluginModule& module() {
    static const std::unique_ptr<varkel::host::PluginModule> loaded = [] {
        std::string error;
        auto m = varkel::host::PluginModule::load(VARKEL_MODULE_PATH, error);
        if (!m) ADD_FAILURE() << error;
        return m;
    }();
    return *loaded;
}

inline std::unique_ptr<varkel::host::PluginInstance> makeInstance() {
    std::string error;
    auto fx = varkel::host::PluginInstance::create(module(), error);
    EXPECT_TRUE(fx) << error;
    return fx;
}

}  // namespace loaded
