// MIDI a stream is given call by call: messages checked before a plug-in
// gets them, schedules cut at a frame and merged, and the block driver
// holding a call's messages past its end for the calls after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/midi/midi_message.h"
#include "engine/midi/midi_sequence.h"
#include "engine/render/block_driver.h"
#include "engine/render/channel_mapping.h"

namespace varkel::engine {
namespace {

struct MessageRow {
    std::vector<std::uint8_t> bytes;
    const char* fault;  // nullptr: a message
};

TEST(MidiMessageCheck, WholeMessagesPassAndEachFaultIsNamed) {
    const std::vector<MessageRow> rows = {
        {{0x90, 60, 100}, nullptr},
        {{0x8F, 0, 0}, nullptr},
        {{0xC3, 5}, nullptr},
        {{0xD0, 0x7F}, nullptr},
        {{0xE1, 0, 0x40}, nullptr},
        {{0xF0, 0x7E, 0x01, 0xF7}, nullptr},
        {{0xF0, 0xF7}, nullptr},
        {{0xF2, 1, 2}, nullptr},
        {{0xF8}, nullptr},
        {{}, "empty"},
        {{60, 100}, "status byte"},
        {{0x90, 60}, "takes 2 data bytes, not 1"},
        {{0x90, 60, 100, 1}, "takes 2 data bytes, not 3"},
        {{0xC0}, "takes 1 data byte, not 0"},
        {{0x90, 60, 0x80}, "data byte 80"},
        {{0xF0, 1, 2}, "ends with F7"},
        {{0xF0, 1, 0x90, 0xF7}, "not 90"},
        {{0xF8, 0}, "takes 0 data bytes"},
        {{0xF4}, "no MIDI message"},
        {{0xFF, 0x2F, 0}, "no MIDI message"},
    };
    for (const MessageRow& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.bytes));
        if (row.fault == nullptr) {
            EXPECT_NO_THROW(checkMidiMessage(row.bytes.data(), row.bytes.size()));
            continue;
        }
        try {
            checkMidiMessage(row.bytes.data(), row.bytes.size());
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(row.fault), std::string::npos) << error.what();
        }
    }
}

// A schedule at 1000 Hz of note-ons whose note numbers are their times in ms.
MidiSchedule notesAt(const std::vector<int>& milliseconds) {
    MidiSequence sequence;
    for (int ms : milliseconds) {
        const std::uint8_t note[3] = {0x90, static_cast<std::uint8_t>(ms), 1};
        sequence.add(ms / 1000.0, note, 3);
    }
    return MidiSchedule(sequence, 1000.0);
}

// (frame, note) of every message in frames [0, frames).
std::vector<std::pair<int, int>> contents(const MidiSchedule& schedule, int frames = 1000) {
    std::vector<MidiEvent> events;
    schedule.eventsIn(0, frames, events);
    std::vector<std::pair<int, int>> got;
    for (const MidiEvent& e : events) got.emplace_back(e.frame, e.bytes[1]);
    return got;
}

struct CutRow {
    const char* name;
    std::vector<int> first, second;
    std::int64_t start;  // first cut there, then second merged after it
    std::vector<std::pair<int, int>> expected;
};

TEST(MidiScheduleCutAndMerge, LeftMessagesComeBeforeNewOnesAtTheSameFrame) {
    const std::vector<CutRow> rows = {
        {"nothing left, nothing new", {1, 2}, {}, 3, {}},
        {"the cut frame itself stays", {1, 3, 5}, {}, 3, {{0, 3}, {2, 5}}},
        {"new ones between the old", {4, 8}, {1, 6}, 2, {{1, 1}, {2, 4}, {6, 8}, {6, 6}}},
        {"old first at a shared frame", {7, 7}, {5}, 2, {{5, 7}, {5, 7}, {5, 5}}},
        {"nothing old", {}, {0, 2}, 10, {{0, 0}, {2, 2}}},
    };
    for (const CutRow& row : rows) {
        SCOPED_TRACE(row.name);
        const MidiSchedule both =
            MidiSchedule::merged(notesAt(row.first).from(row.start), notesAt(row.second));
        EXPECT_EQ(contents(both), row.expected);
    }
}

// Records each message it is handed with the stream frame it lands on.
class MidiRecorder : public Plugin {
public:
    std::string format() const override { return "test"; }
    std::string name() const override { return "recorder"; }
    std::string location() const override { return {}; }
    int inputs() const override { return 0; }
    int outputs() const override { return 1; }
    std::vector<InputInfo> inputInfo() const override { return {}; }
    int parameterCount() const override { return 0; }
    ParameterInfo parameterInfo(int) const override { return {}; }
    std::string parameterDisplay(int) const override { return {}; }
    std::vector<std::string> presets() const override { return {}; }
    void loadPreset(const std::string&) override {}
    int latency() override { return 0; }
    float parameter(int) const override { return 0.0f; }
    void setParameter(int, float) override {}
    bool takesMidi() const override { return true; }
    void queueMidi(std::span<const MidiEvent> events) override {
        for (const MidiEvent& e : events) got.emplace_back(clock + e.frame, e.bytes[1]);
    }
    void start(Precision) override {}
    void stop() override {}
    void process(float**, float**, int frames) override { clock += frames; }
    void process(double**, double**, int frames) override { clock += frames; }

    std::vector<std::pair<int, int>> got;
    int clock = 0;
};

struct CallRow {
    int frames;
    std::vector<int> notes;  // ms from the call's first frame, at 1000 Hz
    std::int64_t leftAfter;  // midiFramesLeft() after the call
};

TEST(BlockDriverMidi, MessagesPastACallsEndLandInLaterCallsOnTheirFrames) {
    const std::vector<std::pair<const char*, std::vector<CallRow>>> rows = {
        {"within each call", {{10, {0, 9}, 0}, {10, {3}, 0}}},
        {"held over two calls", {{4, {2, 13}, 10}, {4, {}, 6}, {4, {}, 2}, {4, {}, 0}}},
        {"held and new at one frame", {{5, {7}, 3}, {5, {2, 2}, 0}}},
        {"a call of no frames", {{0, {1}, 2}, {3, {}, 0}}},
    };
    for (const auto& [name, calls] : rows) {
        SCOPED_TRACE(name);
        MidiRecorder recorder;
        const ChannelMapping mapping = midiOnlyMapping({}, 1);
        BlockDriver<float> driver({&recorder}, mapping, 4);
        std::vector<std::pair<int, int>> expected;
        int at = 0;
        for (const CallRow& call : calls) {
            driver.addMidi(notesAt(call.notes));
            for (int ms : call.notes) expected.emplace_back(at + ms, ms);
            std::vector<float> out(static_cast<std::size_t>(call.frames));
            driver.process(nullptr, {}, out.data(), SampleLayout::planar(out.size()), out.size());
            at += call.frames;
            EXPECT_EQ(driver.midiFramesLeft(), call.leftAfter);
        }
        // Ordered by frame; the held message before the new one at frame 7.
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        EXPECT_EQ(recorder.got, expected);
    }
}

}  // namespace
}  // namespace varkel::engine
