#include "engine/lv2_catalog.h"

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace varkel::engine {

namespace {

struct WorldDeleter {
    void operator()(LilvWorld* world) const { lilv_world_free(world); }
};
struct NodeDeleter {
    void operator()(LilvNode* node) const { lilv_node_free(node); }
};
using Node = std::unique_ptr<LilvNode, NodeDeleter>;

// A lilv string that the caller frees, as a std::string ("" for null).
std::string taken(char* text) {
    std::string result = text != nullptr ? text : "";
    lilv_free(text);
    return result;
}

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
        result += folder.starts_with('~') ? folder : std::filesystem::absolute(folder).string();
    }
    return result;
}

}  // namespace

std::vector<CatalogEntry> lv2Catalog() {
    const std::unique_ptr<LilvWorld, WorldDeleter> world(lilv_world_new());
    if (const char* path = std::getenv("LV2_PATH"); path != nullptr) {
        const Node folders(lilv_new_string(world.get(), absoluteLv2Path(path).c_str()));
        lilv_world_set_option(world.get(), LILV_OPTION_LV2_PATH, folders.get());
    }
    lilv_world_load_all(world.get());
    const Node audio(lilv_new_uri(world.get(), LV2_CORE__AudioPort));
    const Node input(lilv_new_uri(world.get(), LV2_CORE__InputPort));
    const Node output(lilv_new_uri(world.get(), LV2_CORE__OutputPort));

    std::vector<CatalogEntry> entries;
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world.get());
    LILV_FOREACH(plugins, it, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, it);
        CatalogEntry entry;
        entry.format = CatalogEntry::Format::Lv2;
        entry.uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
        const Node name(lilv_plugin_get_name(plugin));
        entry.name = name ? lilv_node_as_string(name.get()) : entry.uri;
        entry.inputs = static_cast<int>(
            lilv_plugin_get_num_ports_of_class(plugin, audio.get(), input.get(), nullptr));
        entry.outputs = static_cast<int>(
            lilv_plugin_get_num_ports_of_class(plugin, audio.get(), output.get(), nullptr));
        const char* bundle = lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin));
        entry.path = taken(lilv_file_uri_parse(bundle, nullptr));
        if (entry.path.empty()) entry.path = bundle;
        // A description without a name, a binary or well-formed ports would
        // not instantiate in any host.
        if (!lilv_plugin_verify(plugin)) entry.failure = "incomplete description";
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace varkel::engine
