#include "engine/plugins/plugin_loader.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "engine/engine_error.h"
#include "engine/plugins/isolated/isolated_plugin.h"
#include "engine/plugins/lv2/lv2_plugin.h"
#include "engine/plugins/lv2/lv2_world.h"
#include "engine/plugins/vst/vst_plugin.h"

#if !defined(VARKEL_BUILD_TREE_PLUGIN)
#define VARKEL_BUILD_TREE_PLUGIN ""
#endif

namespace varkel::engine {

namespace fs = std::filesystem;

std::string defaultPluginPath() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    std::string installed;
    if (!error) {
        installed = (executable.parent_path().parent_path() / "lib" / "vst" / "Varkel.so").string();
        if (fs::is_regular_file(installed, error)) return installed;
    }
    const std::string built = VARKEL_BUILD_TREE_PLUGIN;
    if (!built.empty() && fs::is_regular_file(built, error)) return built;
    throw EngineError("no plug-in given and no Varkel.so found at " +
                      (installed.empty() ? std::string("<prefix>/lib/vst") : installed) +
                      (built.empty() ? std::string() : " or " + built));
}

std::unique_ptr<Plugin> openPlugin(const std::string& name, double sampleRate, int blockFrames,
                                   ProcessMode mode, const PluginIsolation& isolation,
                                   const std::string& file) {
    if (isolation.isolated) {
        IsolationOptions options;
        options.timeout = std::chrono::milliseconds(std::llround(isolation.timeoutSeconds * 1000.0));
        options.file = file;
        return std::make_unique<IsolatedPlugin>(name, sampleRate, blockFrames, mode, options);
    }
    if (!name.empty() && namesLv2Plugin(name))
        return std::make_unique<Lv2Plugin>(name, sampleRate, blockFrames);
    return std::make_unique<VstPlugin>(name.empty() ? defaultPluginPath() : name, sampleRate,
                                       blockFrames, mode);
}

}  // namespace varkel::engine
