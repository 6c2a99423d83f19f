// The one loop that drives plug-in instances over audio: it deals a file's
// channels out to the instances as the channel mapping says, cuts the audio
// into the plug-in's blocks, splits a block where automation changes a
// parameter (so that a change lands on its frame whatever the block size),
// and gathers the outputs. Render, analyze and bench all run through it.
//
// Each instance after the first runs on a thread of its own for the driver's
// whole life, so each draws its own noise sequence: a group of channels
// renders the same as that group rendered alone, at any block size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/midi/midi_sequence.h"
#include "engine/render/automation.h"
#include "engine/render/channel_mapping.h"
#include "engine/plugins/plugin.h"
#include "engine/plugins/worker_thread.h"

namespace varkel::engine {

// Where channel c of frame f is in a buffer: base[f * frameStride + c * channelStride].
// Interleaved: {channels, 1}; one channel after another of n frames: {1, n}.
struct SampleLayout {
    std::size_t frameStride = 1;
    std::size_t channelStride = 0;

    static SampleLayout interleaved(int channels) {
        return {static_cast<std::size_t>(channels), 1};
    }
    static SampleLayout planar(std::size_t frames) { return {1, frames}; }
};

template <typename Sample>
class BlockDriver {
public:
    // instances: started, as many as mapping.instances; the schedule's
    // parameters are indices. The driver does not own the instances.
    BlockDriver(std::vector<Plugin*> instances, const ChannelMapping& mapping, int blockFrames,
                const AutomationSchedule& automation = {});
    ~BlockDriver();
    BlockDriver(const BlockDriver&) = delete;
    BlockDriver& operator=(const BlockDriver&) = delete;

    // Processes the next frames: input in the mapping's file layout
    // (mapping.fileChannels channels), output in its output layout
    // (mapping.outputChannels()), and the side-chain inputs from sideChain
    // (mapping.sideChainChannels channels), or silence when it is null.
    // Automation time runs on from the last call.
    void process(const Sample* input, SampleLayout inputLayout, Sample* output,
                 SampleLayout outputLayout, std::size_t frames, const Sample* sideChain = nullptr,
                 SampleLayout sideChainLayout = {});

    std::int64_t framesDone() const { return done; }

    // Replaces the automation from the next process call on. Its frames count
    // as framesDone() does, so a schedule for a stream under way starts there.
    void setAutomation(const AutomationSchedule& automation);

    // Replaces the MIDI from the next process call on; the schedule's frame 0
    // is frame firstFrame of the stream (framesDone() for one under way).
    void setMidi(MidiSchedule midi, std::int64_t firstFrame = 0);
    // Adds MIDI from the next process call on, its frame 0 at framesDone(),
    // to the messages of earlier schedules still to come: a stream's calls
    // each bring their own, and one past a call's end waits for its frame.
    // At a frame both have, the earlier messages come first.
    void addMidi(const MidiSchedule& later);
    // The frames from framesDone() up to and with the last message still to
    // come; 0 when none is.
    std::int64_t midiFramesLeft() const;

private:
    struct Lane;

    ChannelMapping mapping;
    MidiSchedule midi;
    std::int64_t midiStart = 0;
    std::vector<std::unique_ptr<Lane>> lanes;
    std::vector<std::unique_ptr<WorkerThread>> threads;  // for lanes 1..n-1
    std::int64_t done = 0;
};

extern template class BlockDriver<float>;
extern template class BlockDriver<double>;

}  // namespace varkel::engine
