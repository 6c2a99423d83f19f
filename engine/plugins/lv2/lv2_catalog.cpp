#include "engine/plugins/lv2/lv2_catalog.h"

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>

#include "engine/plugins/lv2/lv2_midi_ports.h"
#include "engine/plugins/lv2/lv2_world.h"

namespace varkel::engine {

namespace {

struct NodeDeleter {
    void operator()(LilvNode* node) const { lilv_node_free(node); }
};
using Node = std::unique_ptr<LilvNode, NodeDeleter>;

}  // namespace

std::vector<CatalogEntry> lv2Catalog() {
    Lv2World& lv2 = Lv2World::instance();
    const std::lock_guard guard(lv2.lock());
    const LilvNode* audio = lv2.node(LV2_CORE__AudioPort);
    const LilvNode* input = lv2.node(LV2_CORE__InputPort);
    const LilvNode* output = lv2.node(LV2_CORE__OutputPort);

    std::vector<CatalogEntry> entries;
    const LilvPlugins* plugins = lv2.plugins();
    LILV_FOREACH(plugins, it, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, it);
        CatalogEntry entry;
        entry.format = CatalogEntry::Format::Lv2;
        entry.uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
        const Node name(lilv_plugin_get_name(plugin));
        entry.name = name ? lilv_node_as_string(name.get()) : entry.uri;
        entry.inputs = static_cast<int>(
            lilv_plugin_get_num_ports_of_class(plugin, audio, input, nullptr));
        entry.outputs = static_cast<int>(
            lilv_plugin_get_num_ports_of_class(plugin, audio, output, nullptr));
        entry.instrument = isLv2Instrument(lv2, plugin, entry.inputs, entry.outputs);
        const char* bundle = lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin));
        entry.path = taken(lilv_file_uri_parse(bundle, nullptr));
        if (entry.path.empty()) entry.path = bundle;
        // A description without a name, a binary or well-formed ports would
        // not instantiate in any host.
        if (!lilv_plugin_verify(plugin)) {
            entry.failure = "incomplete description";
        } else if (const LilvNode* library = lilv_plugin_get_library_uri(plugin)) {
            const std::string binary = taken(lilv_file_uri_parse(lilv_node_as_uri(library), nullptr));
            if (!binary.empty() && ::access(binary.c_str(), F_OK) != 0)
                entry.failure = "its binary " + binary + " is missing";
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace varkel::engine
