#include "engine/plugins/plugin_catalog.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

#include "engine/plugins/lv2/lv2_catalog.h"
#include "engine/plugins/vst/vst_module_probe.h"

namespace varkel::engine {

namespace fs = std::filesystem;

std::vector<std::string> vstSearchPath() {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("VST_PATH"); path != nullptr) {
        std::string rest = path;
        for (std::size_t colon; (colon = rest.find(':')) != std::string::npos;) {
            folders.push_back(rest.substr(0, colon));
            rest.erase(0, colon + 1);
        }
        folders.push_back(rest);
        // "a::b" and a trailing colon name no folder.
        std::erase(folders, std::string());
        return folders;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        folders.push_back(std::string(home) + "/.vst");
    folders.push_back("/usr/local/lib/vst");
    folders.push_back("/usr/lib/vst");
    return folders;
}

std::vector<std::string> findVstModules(const std::vector<std::string>& folders) {
    std::vector<std::string> modules;
    std::set<fs::path> seen;  // real paths: a folder given twice or linked in lists once
    for (const std::string& folder : folders) {
        std::vector<fs::path> found;
        std::error_code error;
        // Linked folders are not followed: a link back up would never end.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            error);
        for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
            std::error_code typeError;
            if (it->path().extension() == ".so" && it->is_regular_file(typeError))
                found.push_back(it->path());
        }
        std::sort(found.begin(), found.end());
        for (const fs::path& module : found) {
            std::error_code realError;
            const fs::path real = fs::canonical(module, realError);
            if (seen.insert(realError ? module : real).second)
                modules.push_back(fs::absolute(module).string());
        }
    }
    return modules;
}

std::vector<CatalogEntry> catalogPlugins(const CatalogOptions& options) {
    // The modules first, while no library has started a thread of its own.
    std::vector<CatalogEntry> entries = probeVstModules(findVstModules(vstSearchPath()),
                                                        options.loadTimeout, options.parallelLoads);
    std::vector<CatalogEntry> lv2 = lv2Catalog();
    entries.insert(entries.end(), std::make_move_iterator(lv2.begin()),
                   std::make_move_iterator(lv2.end()));
    return entries;
}

}  // namespace varkel::engine
