// One plug-in as a stream of audio: the instances the channel mapping needs
// (opened as needed, with the first one's settings), one block driver kept
// from call to call so that filter state and noise run on, automation given
// before a call, and a reset that starts afresh.
//
// A loaded module's noise is per thread, so its instances run on a thread of
// the stream's own for the stream's whole life: no other stream's draws
// disturb them, and a stream cut into calls of any size renders as one.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/midi/midi_sequence.h"
#include "engine/render/automation.h"
#include "engine/render/block_driver.h"
#include "engine/plugins/plugin.h"
#include "engine/plugins/worker_thread.h"

namespace varkel::python {

class PluginStream {
public:
    // Opens one instance for blocks of at most the frames given.
    using Opener = std::function<std::unique_ptr<engine::Plugin>(int blockFrames)>;

    // ownThread: process on a thread of the stream's own (a loaded module),
    // else on the caller's (an instance that carries its own noise).
    PluginStream(Opener open, double sampleRate, int blockFrames, bool ownThread);
    ~PluginStream();
    PluginStream(const PluginStream&) = delete;
    PluginStream& operator=(const PluginStream&) = delete;

    const engine::Plugin& plugin() const { return *instances.front(); }
    engine::Plugin& plugin() { return *instances.front(); }
    // Throws UsageError naming the parameter's range when value is outside it.
    void checkValue(int index, double value) const;
    // On every instance.
    void loadPreset(const std::string& preset);
    // A saved state (.fxp, .fxb, an LV2 bundle or .ttl) or the state's
    // bytes, on every instance.
    void loadState(const std::string& path);
    void setState(const std::string& bytes);
    // The state beyond the parameters, for a copy of the stream elsewhere
    // (empty for a plug-in whose parameters are its whole state).
    std::string carriedState();
    double sampleRate() const { return rate; }
    // The value each parameter had after opening.
    float defaultValue(int index) const;

    // The index of the parameter a name (or index) names; UsageError else.
    int parameterIndex(const std::string& nameOrIndex) const;
    // Sets it on every instance; UsageError for a value outside 0..1.
    void setParameter(int index, double value);

    // A lane for the next process call: seconds from its first frame, values
    // 0..1. The lanes given before a call replace the schedule running.
    void automate(int index, const std::vector<engine::AutomationPoint>& points, bool ramp);

    // The channels the output of `channels` input channels has, with a
    // side-chain of sideChannels (0: silent); UsageError when they do not
    // split among instances or the side-chain does not fit.
    int outputChannels(int channels, int sideChannels = 0) const;

    // Frames of `channels` input channels into planar output; with none, the
    // plug-in plays MIDI alone (its inputs, if any, get silence). The first
    // call after opening or reset fixes the channels, the precision and the
    // block size until the next reset.
    // The side-chain inputs read sideChain (sideChannels channels, as many
    // frames), or silence when it is null. With compensateLatency the call is
    // a whole signal, as a render treats a file: the plug-in's latency in
    // silence follows the frames, and as many frames are dropped from the
    // start, so the output is aligned with the input and as long.
    // midi: messages for this call, their times from its first frame; those
    // past its end are held for the calls after it. UsageError for a plug-in
    // that takes no MIDI.
    template <typename Sample>
    void process(const Sample* input, engine::SampleLayout inputLayout, int channels,
                 Sample* output, std::size_t frames, int blockFrames, bool compensateLatency,
                 const Sample* sideChain = nullptr, engine::SampleLayout sideLayout = {},
                 int sideChannels = 0, const engine::MidiSequence* midi = nullptr);

    // MIDI alone, as a render of a MIDI file ends: up to the last message
    // still to come (midi's or held from earlier calls), then on until the
    // output stays below -96 dBFS for 100 ms, at most 30 s past that message.
    // Returns the output interleaved, of outputChannels(0) channels.
    template <typename Sample>
    std::vector<Sample> processUntilQuiet(int blockFrames, bool compensateLatency,
                                          const engine::MidiSequence* midi);

    // Starts afresh: new instances with the current settings, a new thread.
    void reset();

private:
    struct Running;

    template <typename Sample>
    engine::BlockDriver<Sample>& driverFor(int channels, int blockFrames, int sideChannels);
    // The driver for a call, with the automation and MIDI given for it.
    template <typename Sample>
    engine::BlockDriver<Sample>& preparedDriver(int channels, int blockFrames, int sideChannels,
                                                const engine::MidiSequence* midi);
    engine::ChannelMapping mappingFor(int channels, int sideChannels) const;
    void reopen(int blockFrames, std::size_t count);
    void run(const std::function<void()>& work);

    Opener open;
    double rate;
    int block;
    bool ownThread;
    std::unique_ptr<engine::WorkerThread> home;
    std::vector<std::unique_ptr<engine::Plugin>> instances;
    std::vector<float> defaults;
    std::vector<engine::AutomationLane> pending;  // parameter names are indices
    bool pendingRamp = false;
    std::unique_ptr<Running> running;
};

}  // namespace varkel::python
