// The built module, loaded once per test process, and instances of it, for
// the tests that drive it as a host would.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

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

// The noise generator is per thread and starts afresh on a new one, so work
// run on a new thread draws the same noise as any other work run that way.
inline void onFreshThread(const std::function<void()>& work) { std::thread(work).join(); }

}  // namespace loaded
