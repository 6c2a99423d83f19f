// The sine instrument fixtures against their closed form: MIDI at frames
// that fall at a block's first and last frame and mid-block, a note-off and
// a note-on on one frame, more events in one frame than a block has frames,
// system-exclusive and other messages that make no sound. Driven directly
// through the VST 2.4 record, and through the engine's plug-ins of both
// formats at blocks of 1, 64 and 512 frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include "engine/plugins/plugin_loader.h"
#include "host/plugin_instance.h"
#include "host/plugin_module.h"

// Named: the tests build as one unity file with others that share names.
namespace sine_instrument_e2e {

constexpr double kRate = 48000.0;
constexpr int kFrames = 4800;
constexpr int kBlocks[] = {1, 64, 512};
constexpr const char* kLv2Uri = "urn:varkel:test:sine-instrument";

struct Message {
    int frame;
    std::vector<std::uint8_t> bytes;
};

// A note as it sounds: velocity / 127 × sin(2π f (n − on) / rate) over [on, off).
struct Sounding {
    int note;
    int velocity;
    int on;
    int off;
};

std::vector<Message> messages() {
    std::vector<Message> list = {
        {100, {0x90, 69, 100}},
        {511, {0x99, 60, 127}},         // the last frame of a 512-frame block
        {512, {0x9F, 72, 1}},           // the first frame of the next
        {700, {0xF0, 0x7E, 0x01, 0xF7}},  // system-exclusive: counted, silent
        {800, {0xB0, 7, 20}},           // a controller: ignored
        {1024, {0x80, 69, 0}},          // off and on again on one frame: the
        {1024, {0x90, 69, 64}},         // phase starts over
        {2500, {0x99, 60, 0}},          // a note-on of velocity 0 ends the note
        {3000, {0x80, 69, 64}},
        {3001, {0x90, 40, 90}},
        {4799, {0x90, 100, 50}},        // the render's last frame
    };
    // A frame with more events than a block holds frames: notes begun and
    // ended on it, which never sound, and controllers.
    for (int i = 0; i < 300; ++i) {
        list.push_back({1500, {static_cast<std::uint8_t>(0x90 | (i % 16)), 30, 99}});
        list.push_back({1500, {static_cast<std::uint8_t>(0x80 | (i % 16)), 30, 0}});
        list.push_back({1500, {0xB3, 1, static_cast<std::uint8_t>(i % 128)}});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Message& a, const Message& b) { return a.frame < b.frame; });
    return list;
}

// What those messages sound like, worked out by hand.
const Sounding kSounding[] = {
    {69, 100, 100, 1024},  {60, 127, 511, 2500}, {72, 1, 512, kFrames},
    {69, 64, 1024, 3000},  {40, 90, 3001, kFrames}, {100, 50, 4799, kFrames},
};

std::vector<double> closedForm() {
    std::vector<double> out(kFrames, 0.0);
    for (const Sounding& s : kSounding) {
        const double f = 440.0 * std::pow(2.0, (s.note - 69) / 12.0);
        for (int n = s.on; n < s.off; ++n)
            out[n] += s.velocity / 127.0 * std::sin(2.0 * M_PI * f * (n - s.on) / kRate);
    }
    return out;
}

// The messages within frames [start, start + frames), in order.
std::vector<const Message*> inBlock(const std::vector<Message>& all, int start, int frames) {
    std::vector<const Message*> found;
    for (const Message& m : all)
        if (m.frame >= start && m.frame < start + frames) found.push_back(&m);
    return found;
}

// Both channels against the closed form; the count and first of the frames
// beyond tolerance.
template <typename Sample>
void expectClosedForm(const std::vector<Sample>& left, const std::vector<Sample>& right) {
    const std::vector<double> expected = closedForm();
    int wrong = 0;
    int first = -1;
    for (int n = 0; n < kFrames; ++n)
        if (std::abs(left[n] - expected[n]) > 1e-6 || std::abs(right[n] - expected[n]) > 1e-6) {
            if (first < 0) first = n;
            ++wrong;
        }
    EXPECT_EQ(wrong, 0) << "first at frame " << first << ": " << left[first] << " for "
                        << expected[first];
}

// The VST 2.4 records of one block's messages, as a host builds them.
class VstEventBlock {
    // byteSize counts what follows type and byteSize.
    static constexpr VstInt32 kMidiByteSize = sizeof(VstMidiEvent) - 8;
    static constexpr VstInt32 kSysexByteSize = sizeof(VstMidiSysexEvent) - 8;

public:
    VstEventBlock(const std::vector<const Message*>& block, int start)
        : midi(block.size()), sysex(block.size()), storage(vstEventsBytes(block.size()) / 8 + 1) {
        auto* events = list();
        events->numEvents = static_cast<VstInt32>(block.size());
        for (std::size_t i = 0; i < block.size(); ++i) {
            const Message& m = *block[i];
            if (m.bytes[0] == 0xF0) {
                sysex[i] = {kVstSysExType, kSysexByteSize, m.frame - start, 0,
                            static_cast<VstInt32>(m.bytes.size()), 0,
                            reinterpret_cast<char*>(const_cast<std::uint8_t*>(m.bytes.data())), 0};
                events->events[i] = reinterpret_cast<VstEvent*>(&sysex[i]);
            } else {
                midi[i] = {kVstMidiType, kMidiByteSize, m.frame - start, 0, 0, 0, {}, 0,
                           0, 0, 0};
                for (std::size_t b = 0; b < m.bytes.size(); ++b)
                    midi[i].midiData[b] = static_cast<char>(m.bytes[b]);
                events->events[i] = reinterpret_cast<VstEvent*>(&midi[i]);
            }
        }
    }
    VstEvents* list() { return reinterpret_cast<VstEvents*>(storage.data()); }

private:
    std::vector<VstMidiEvent> midi;
    std::vector<VstMidiSysexEvent> sysex;
    std::vector<std::uint64_t> storage;  // aligned for the pointers
};

struct DirectVst {
    std::unique_ptr<varkel::host::PluginModule> module;
    std::unique_ptr<varkel::host::PluginInstance> instance;
};

DirectVst loadDirect(int blockFrames) {
    DirectVst vst;
    std::string error;
    vst.module = varkel::host::PluginModule::load(SINE_INSTRUMENT_PLUGIN, error);
    if (vst.module) vst.instance = varkel::host::PluginInstance::create(*vst.module, error);
    EXPECT_TRUE(vst.instance) << error;
    if (vst.instance) vst.instance->start(static_cast<float>(kRate), blockFrames);
    return vst;
}

// Each block's records sent with effProcessEvents, the records rewritten
// with garbage after the call, as a host may reuse them, then the block.
template <typename Sample>
void renderDirect(const varkel::host::PluginInstance& plugin, int blockFrames,
                  std::vector<Sample>& left, std::vector<Sample>& right) {
    const auto all = messages();
    left.assign(kFrames, 0);
    right.assign(kFrames, 0);
    for (int start = 0; start < kFrames; start += blockFrames) {
        const int frames = std::min(blockFrames, kFrames - start);
        {
            VstEventBlock block(inBlock(all, start, frames), start);
            plugin.dispatch(effProcessEvents, 0, 0, block.list());
            for (VstInt32 i = 0; i < block.list()->numEvents; ++i)
                block.list()->events[i]->deltaFrames = -7;
        }
        Sample* outs[] = {left.data() + start, right.data() + start};
        if constexpr (std::is_same_v<Sample, float>)
            plugin.process(nullptr, outs, frames);
        else
            plugin.processDouble(nullptr, outs, frames);
    }
}

TEST(SineInstrumentFixture, VstRecordSaysItIsASynthThatTakesMidi) {
    const DirectVst vst = loadDirect(512);
    ASSERT_TRUE(vst.instance);
    const AEffect* record = vst.instance->effect();
    EXPECT_EQ(record->numInputs, 0);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_NE(record->flags & effFlagsIsSynth, 0);
    EXPECT_TRUE(vst.instance->canReplace());
    EXPECT_TRUE(vst.instance->canDoubleReplace());
    for (const char* can : {"receiveVstEvents", "receiveVstMidiEvent"})
        EXPECT_EQ(vst.instance->dispatch(effCanDo, 0, 0, const_cast<char*>(can)), 1) << can;
    EXPECT_NE(vst.instance->dispatch(effCanDo, 0, 0, const_cast<char*>("sendVstEvents")), 1);
}

TEST(SineInstrumentFixture, VstRecordDrivenDirectlyRendersTheClosedFormAtEveryBlockSize) {
    for (int blockFrames : kBlocks) {
        SCOPED_TRACE("block " + std::to_string(blockFrames));
        {
            const DirectVst vst = loadDirect(blockFrames);
            ASSERT_TRUE(vst.instance);
            std::vector<float> left, right;
            renderDirect(*vst.instance, blockFrames, left, right);
            expectClosedForm(left, right);
            EXPECT_EQ(vst.instance->getParameter(0), 1.0f) << "system-exclusive messages counted";
        }
        {
            const DirectVst vst = loadDirect(blockFrames);
            ASSERT_TRUE(vst.instance);
            std::vector<double> left, right;
            renderDirect(*vst.instance, blockFrames, left, right);
            expectClosedForm(left, right);
        }
    }
}

// The LV2 edition through lilv alone: a world of its own holding the test
// bundle, URIDs of the test's own, each block's events in an atom sequence
// with frame time stamps.
class DirectLv2 {
public:
    explicit DirectLv2(int blockFrames) : world(lilv_world_new()) {
        map.handle = this;
        map.map = [](LV2_URID_Map_Handle self, const char* uri) {
            auto& uris = static_cast<DirectLv2*>(self)->uris;
            auto found = std::find(uris.begin(), uris.end(), uri);
            if (found == uris.end()) found = uris.insert(uris.end(), uri);
            return static_cast<LV2_URID>(found - uris.begin() + 1);
        };
        LilvNode* bundle = lilv_new_file_uri(
            world, nullptr, (std::string(VARKEL_TEST_LV2_PATH) + "/varkel-test.lv2/").c_str());
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, kLv2Uri);
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        const LV2_Feature mapFeature{LV2_URID__map, &map};
        const LV2_Feature* features[] = {&mapFeature, nullptr};
        if (plugin != nullptr) instance = lilv_plugin_instantiate(plugin, kRate, features);
        sequence.resize(1 + (sizeof(LV2_Atom_Sequence) + 1000 * 32) / 8);
        left.resize(static_cast<std::size_t>(blockFrames));
        right.resize(static_cast<std::size_t>(blockFrames));
        if (instance == nullptr) return;
        lilv_instance_connect_port(instance, 0, sequence.data());
        lilv_instance_connect_port(instance, 1, left.data());
        lilv_instance_connect_port(instance, 2, right.data());
        lilv_instance_connect_port(instance, 3, &sysex);
        lilv_instance_activate(instance);
    }
    ~DirectLv2() {
        if (instance != nullptr) {
            lilv_instance_deactivate(instance);
            lilv_instance_free(instance);
        }
        lilv_world_free(world);
    }
    DirectLv2(const DirectLv2&) = delete;
    DirectLv2& operator=(const DirectLv2&) = delete;

    bool loaded() const { return instance != nullptr; }
    float sysexCount() const { return sysex; }

    void render(int blockFrames, std::vector<float>& outL, std::vector<float>& outR) {
        const auto all = messages();
        outL.assign(kFrames, 0.0f);
        outR.assign(kFrames, 0.0f);
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(sequence.data());
        const auto capacity = static_cast<std::uint32_t>(sequence.size() * 8 - sizeof(LV2_Atom));
        for (int start = 0; start < kFrames; start += blockFrames) {
            const int frames = std::min(blockFrames, kFrames - start);
            lv2_atom_sequence_clear(seq);
            seq->atom.type = map.map(this, LV2_ATOM__Sequence);
            for (const Message* m : inBlock(all, start, frames)) {
                struct {
                    LV2_Atom_Event head;
                    std::uint8_t bytes[8];
                } event{};
                event.head.time.frames = m->frame - start;
                event.head.body = {static_cast<std::uint32_t>(m->bytes.size()),
                                   map.map(this, LV2_MIDI__MidiEvent)};
                std::copy(m->bytes.begin(), m->bytes.end(), event.bytes);
                EXPECT_NE(lv2_atom_sequence_append_event(seq, capacity, &event.head), nullptr);
            }
            lilv_instance_run(instance, static_cast<std::uint32_t>(frames));
            std::copy_n(left.begin(), frames, outL.begin() + start);
            std::copy_n(right.begin(), frames, outR.begin() + start);
        }
    }

private:
    LilvWorld* world;
    LilvInstance* instance = nullptr;
    LV2_URID_Map map{};
    std::vector<std::string> uris;
    std::vector<std::uint64_t> sequence;  // aligned as atoms must be
    std::vector<float> left, right;
    float sysex = -1.0f;
};

TEST(SineInstrumentFixture, Lv2InstanceDrivenDirectlyRendersTheClosedFormAtEveryBlockSize) {
    for (int blockFrames : kBlocks) {
        SCOPED_TRACE("block " + std::to_string(blockFrames));
        DirectLv2 lv2(blockFrames);
        ASSERT_TRUE(lv2.loaded());
        std::vector<float> left, right;
        lv2.render(blockFrames, left, right);
        expectClosedForm(left, right);
        EXPECT_EQ(lv2.sysexCount(), 1.0f) << "system-exclusive messages counted";
    }
}

// Needs MIDI delivery in the engine's VST 2.4 and LV2 plug-ins.
class EngineSineInstrument : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { ::setenv("LV2_PATH", VARKEL_TEST_LV2_PATH, 1); }

    std::unique_ptr<varkel::engine::Plugin> open(int blockFrames) const {
        return varkel::engine::openPlugin(GetParam(), kRate, blockFrames);
    }

    // The count the plug-in reports: the VST 2.4 edition's parameter, the
    // LV2 edition's control output.
    static float sysexCount(const varkel::engine::Plugin& plugin) {
        if (plugin.format() != "LV2") return plugin.parameter(0);
        for (const auto& output : plugin.controlOutputs())
            if (output.symbol == "sysex") return output.value;
        return -1.0f;
    }

    template <typename Sample>
    void render(varkel::engine::Plugin& plugin, int blockFrames, std::vector<Sample>& left,
                std::vector<Sample>& right) const {
        const auto all = messages();
        left.assign(kFrames, 0);
        right.assign(kFrames, 0);
        std::vector<varkel::engine::MidiEvent> events;
        for (int start = 0; start < kFrames; start += blockFrames) {
            const int frames = std::min(blockFrames, kFrames - start);
            events.clear();
            for (const Message* m : inBlock(all, start, frames))
                events.push_back({m->frame - start, static_cast<std::uint32_t>(m->bytes.size()),
                                  m->bytes.data()});
            plugin.queueMidi(events);
            Sample* outs[] = {left.data() + start, right.data() + start};
            plugin.process(static_cast<Sample**>(nullptr), outs, frames);
        }
    }
};

TEST_P(EngineSineInstrument, IsAnInstrument) {
    const auto plugin = open(512);
    EXPECT_EQ(plugin->inputs(), 0);
    EXPECT_EQ(plugin->outputs(), 2);
    EXPECT_TRUE(plugin->takesMidi());
    EXPECT_TRUE(plugin->isInstrument());
}

TEST_P(EngineSineInstrument, RendersTheClosedFormAtEveryBlockSizeAndPrecision) {
    for (int blockFrames : kBlocks) {
        SCOPED_TRACE("block " + std::to_string(blockFrames));
        {
            const auto plugin = open(blockFrames);
            plugin->start(varkel::engine::Precision::Single);
            std::vector<float> left, right;
            render(*plugin, blockFrames, left, right);
            expectClosedForm(left, right);
            EXPECT_EQ(sysexCount(*plugin), 1.0f);
            plugin->stop();
        }
        {
            const auto plugin = open(blockFrames);
            plugin->start(varkel::engine::Precision::Double);
            std::vector<double> left, right;
            render(*plugin, blockFrames, left, right);
            expectClosedForm(left, right);
            plugin->stop();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, EngineSineInstrument,
                         ::testing::Values(std::string(SINE_INSTRUMENT_PLUGIN),
                                           std::string(kLv2Uri)),
                         [](const auto& info) {
                             return info.param == kLv2Uri ? std::string("Lv2")
                                                          : std::string("Vst");
                         });

}  // namespace sine_instrument_e2e
