// The plug-ins installed on this machine, as a host's plug-in browser shows
// them: every VST 2.4 module on the VST search path and every LV2 plug-in
// lilv finds, with what each says it is. A module that cannot be loaded is
// listed too, with the reason.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace varkel::engine {

struct CatalogEntry {
    enum class Format { Vst2, Lv2 };

    Format format = Format::Vst2;
    std::string name;  // as the plug-in gives it, else the module file's stem
    int uniqueId = 0;  // VST 2.4
    std::string uri;   // LV2
    int inputs = 0;
    int outputs = 0;
    bool instrument = false;  // it plays MIDI (see Plugin::isInstrument)
    std::string path;     // the module file, or the LV2 bundle folder
    std::string failure;  // why it could not be looked at; empty when it could

    bool failed() const { return !failure.empty(); }
};

struct CatalogOptions {
    // How long one VST 2.4 module may take to load before it is given up.
    std::chrono::milliseconds loadTimeout{5000};
    // Modules loaded at once, each in a process of its own.
    int parallelLoads = 4;
};

// VST_PATH (colon-separated) when set, else ~/.vst, /usr/local/lib/vst and
// /usr/lib/vst.
std::vector<std::string> vstSearchPath();

// The .so files in the folders and every folder below them, each module
// once (by its real path), in path order within each folder.
std::vector<std::string> findVstModules(const std::vector<std::string>& folders);

// The VST 2.4 modules on the search path, then the LV2 plug-ins (LV2_PATH,
// else lilv's default). Forks for the modules: call it while the process
// has a single thread.
std::vector<CatalogEntry> catalogPlugins(const CatalogOptions& options = {});

}  // namespace varkel::engine
