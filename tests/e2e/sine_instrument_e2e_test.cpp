// The sine instrument fixtures against their closed form: MIDI at frames
// that fall at a block's first and last frame and mid-block, a note-off and
// a note-on on one frame, more events in one frame than a block has frames,
// system-exclusive and other messages that make no sound. Driven through
// the engine's plug-ins of both formats at blocks of 1, 64 and 512 frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/plugins/plugin_loader.h"

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
        {511, {0x99, 60, 127}},           // the last frame of a 512-frame block
        {512, {0x9F, 72, 1}},             // the first frame of the next
        {700, {0xF0, 0x7E, 0x01, 0xF7}},  // system-exclusive: counted, silent
        {800, {0xB0, 7, 20}},             // a controller: ignored
        {1024, {0x80, 69, 0}},            // off and on again on one frame: the
        {1024, {0x90, 69, 64}},           // phase starts over
        {2000, {0x95, 69, 30}},           // the same note on another channel: a voice of its own
        {2500, {0x99, 60, 0}},            // a note-on of velocity 0 ends the note
        {3000, {0x80, 69, 64}},
        {3001, {0x90, 40, 90}},
        {4799, {0x90, 100, 50}},  // the render's last frame
    };
    // A frame with more events than a block holds frames, and more than an
    // LV2 port's usual 64 KiB room: notes begun and ended on it, which never
    // sound, and controllers; then a note that does.
    for (int i = 0; i < 1000; ++i) {
        list.push_back({1500, {static_cast<std::uint8_t>(0x90 | (i % 16)), 30, 99}});
        list.push_back({1500, {static_cast<std::uint8_t>(0x80 | (i % 16)), 30, 0}});
        list.push_back({1500, {0xB3, 1, static_cast<std::uint8_t>(i % 128)}});
    }
    list.push_back({1500, {0x91, 50, 77}});
    list.push_back({1900, {0x81, 50, 0}});
    std::stable_sort(list.begin(), list.end(),
                     [](const Message& a, const Message& b) { return a.frame < b.frame; });
    return list;
}

// What those messages sound like, worked out by hand.
const Sounding kSounding[] = {
    {69, 100, 100, 1024},    {60, 127, 511, 2500},    {72, 1, 512, kFrames},
    {69, 64, 1024, 3000},    {40, 90, 3001, kFrames}, {100, 50, 4799, kFrames},
    {69, 30, 2000, kFrames},  {50, 77, 1500, 1900},
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
                             return info.param == kLv2Uri ? std::string("Lv2") : std::string("Vst");
                         });

}  // namespace sine_instrument_e2e
