#include <gtest/gtest.h>
#include "host/plugin_instance.h"
TEST(ModuleSmoke, Loads) {
    std::string error;
    auto module = varkel::host::PluginModule::load(VARKEL_MODULE_PATH, error);
    ASSERT_TRUE(module) << error;
    auto fx = varkel::host::PluginInstance::create(*module, error);
    ASSERT_TRUE(fx) << error;
}
