#include "engine/plugins/lv2/lv2_midi_ports.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>

#include <cstring>

namespace varkel::engine {

bool takesMidiEvents(Lv2World& lv2, const LilvPlugin* plugin, const LilvPort* port) {
    return lilv_port_is_a(plugin, port, lv2.node(LV2_ATOM__AtomPort)) &&
           lilv_port_is_a(plugin, port, lv2.node(LV2_CORE__InputPort)) &&
           lilv_port_supports_event(plugin, port, lv2.node(LV2_MIDI__MidiEvent));
}

int firstMidiInput(Lv2World& lv2, const LilvPlugin* plugin) {
    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    for (std::uint32_t p = 0; p < ports; ++p)
        if (takesMidiEvents(lv2, plugin, lilv_plugin_get_port_by_index(plugin, p)))
            return static_cast<int>(p);
    return -1;
}

bool isInstrumentClass(const LilvPlugin* plugin) {
    const LilvPluginClass* kind = lilv_plugin_get_class(plugin);
    return kind != nullptr &&
           std::strcmp(lilv_node_as_uri(lilv_plugin_class_get_uri(kind)), LV2_CORE__InstrumentPlugin) == 0;
}

bool isLv2Instrument(Lv2World& lv2, const LilvPlugin* plugin, int audioInputs, int audioOutputs) {
    return firstMidiInput(lv2, plugin) >= 0 && audioOutputs > 0 &&
           (audioInputs == 0 || isInstrumentClass(plugin));
}

}  // namespace varkel::engine
