// Which LV2 plug-ins take MIDI and which are instruments, by one rule for
// the catalogue and the instance: an atom input that supports
// midi:MidiEvent takes MIDI; a plug-in is an instrument when it takes MIDI,
// has audio outputs (a MIDI filter has none) and has no audio inputs or is
// described as an lv2:InstrumentPlugin.
// Call under the world's lock.
#pragma once

#include <lilv/lilv.h>

#include "engine/plugins/lv2/lv2_world.h"

namespace varkel::engine {

bool takesMidiEvents(Lv2World& lv2, const LilvPlugin* plugin, const LilvPort* port);
// The index of the first port that takes MIDI, or -1.
int firstMidiInput(Lv2World& lv2, const LilvPlugin* plugin);
bool isInstrumentClass(const LilvPlugin* plugin);
bool isLv2Instrument(Lv2World& lv2, const LilvPlugin* plugin, int audioInputs, int audioOutputs);

}  // namespace varkel::engine
