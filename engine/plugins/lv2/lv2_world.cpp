#include "engine/plugins/lv2/lv2_world.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> loggingOn{false};

// LV2_PATH with its relative folders made absolute: lilv takes each folder
// for the start of a file URI and fails on (or crashes at) a relative one.
std::string absoluteLv2Path(const std::string& path) {
    std::string result;
    std::size_t start = 0;
    for (std::size_t colon = 0; colon != std::string::npos; start = colon + 1) {
        colon = path.find(':', start);
        const std::string folder = path.substr(start, colon - start);
        if (folder.empty()) continue;
        if (!result.empty()) result += ':';
        // "~/..." is lilv's own to expand.
        result += folder.starts_with('~') ? folder : fs::absolute(folder).string();
    }
    return result;
}

}  // namespace

QuietLilv::QuietLilv() {
    if (loggingOn.load()) return;
    std::fflush(stderr);
    saved = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0 || ::dup2(null, STDERR_FILENO) < 0) restore();
    if (null >= 0) ::close(null);
}

QuietLilv::~QuietLilv() { restore(); }

void QuietLilv::restore() {
    if (saved < 0) return;
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    saved = -1;
}

void setPluginLogging(bool on) { loggingOn.store(on); }
bool pluginLogging() { return loggingOn.load(); }

Lv2World& Lv2World::instance() {
    static Lv2World world;
    return world;
}

Lv2World::Lv2World() : lilvWorld(lilv_world_new()) {
    if (const char* path = std::getenv("LV2_PATH"); path != nullptr) {
        LilvNode* folders = lilv_new_string(lilvWorld, absoluteLv2Path(path).c_str());
        lilv_world_set_option(lilvWorld, LILV_OPTION_LV2_PATH, folders);
        lilv_node_free(folders);
    }
    {
        const QuietLilv quiet;
        lilv_world_load_all(lilvWorld);
    }
    mapData.handle = this;
    mapData.map = [](LV2_URID_Map_Handle handle, const char* uri) {
        return static_cast<Lv2World*>(handle)->map(uri);
    };
    unmapData.handle = this;
    unmapData.unmap = [](LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        return static_cast<Lv2World*>(handle)->unmap(urid);
    };
}

Lv2World::~Lv2World() {
    for (auto& [uri, node] : nodes) lilv_node_free(node);
    lilv_world_free(lilvWorld);
}

const LilvNode* Lv2World::node(const std::string& uri) {
    auto found = nodes.find(uri);
    if (found == nodes.end()) found = nodes.emplace(uri, lilv_new_uri(lilvWorld, uri.c_str())).first;
    return found->second;
}

LV2_URID Lv2World::map(const char* uri) {
    if (uri == nullptr) return 0;
    const std::lock_guard guard(mapMutex);
    const auto found = ids.find(uri);
    if (found != ids.end()) return found->second;
    uris.emplace_back(uri);
    const auto id = static_cast<LV2_URID>(uris.size());
    ids.emplace(uri, id);
    return id;
}

const char* Lv2World::unmap(LV2_URID urid) {
    const std::lock_guard guard(mapMutex);
    return urid == 0 || urid > uris.size() ? nullptr : uris[urid - 1].c_str();
}

const LilvPlugin* Lv2World::find(const std::string& uriOrBundle) {
    std::error_code error;
    if (fs::is_directory(uriOrBundle, error)) {
        std::string folder = fs::absolute(uriOrBundle).lexically_normal().string();
        if (!folder.ends_with("/")) folder += "/";
        LilvNode* bundle = lilv_new_file_uri(lilvWorld, nullptr, folder.c_str());
        std::vector<const LilvPlugin*> inBundle;
        const auto collect = [&] {
            const LilvPlugins* all = plugins();
            LILV_FOREACH (plugins, i, all) {
                const LilvPlugin* plugin = lilv_plugins_get(all, i);
                if (lilv_node_equals(lilv_plugin_get_bundle_uri(plugin), bundle))
                    inBundle.push_back(plugin);
            }
        };
        // A bundle on LV2_PATH is loaded already; loading it again only warns.
        collect();
        if (inBundle.empty()) {
            const QuietLilv quiet;
            lilv_world_load_bundle(lilvWorld, bundle);
            collect();
        }
        lilv_node_free(bundle);
        if (inBundle.size() == 1) return inBundle.front();
        if (inBundle.empty())
            throw EngineError(uriOrBundle + " is a folder holding no LV2 plug-in");
        std::string listed;
        for (const LilvPlugin* plugin : inBundle)
            listed += (listed.empty() ? "" : ", ") +
                      std::string(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));
        throw EngineError(uriOrBundle + " holds " + std::to_string(inBundle.size()) +
                          " plug-ins (" + listed +
                          "); name one by its URI, with the folder holding the bundle on LV2_PATH");
    }
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(plugins(), node(uriOrBundle));
    if (plugin == nullptr)
        throw FileNotFound(uriOrBundle + ": no such LV2 plug-in on " +
                           (std::getenv("LV2_PATH") != nullptr ? "LV2_PATH"
                                                               : "lilv's default path") +
                           " (varkel-host list shows those found)");
    return plugin;
}

bool namesLv2Plugin(const std::string& name) {
    std::error_code error;
    if (fs::is_directory(name, error)) return fs::exists(fs::path(name) / "manifest.ttl", error);
    if (fs::exists(name, error)) return false;
    // A URI's scheme: a letter, then letters, digits, '+', '.' or '-', then ':'.
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (std::size_t i = 1; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == ':') return i + 1 < name.size();
        if (!std::isalnum(c) && c != '+' && c != '.' && c != '-') return false;
    }
    return false;
}

std::string taken(char* text) {
    std::string result = text != nullptr ? text : "";
    lilv_free(text);
    return result;
}

}  // namespace varkel::engine
