#include "engine/render/block_driver.h"

#include <algorithm>

namespace varkel::engine {

// One instance with its block buffers and its own copy of the automation.
template <typename Sample>
struct BlockDriver<Sample>::Lane {
    Lane(Plugin* plugin, int index, const ChannelMapping& mapping, int blockFrames,
         const AutomationSchedule& automation)
        : plugin(plugin),
          index(index),
          block(static_cast<std::size_t>(blockFrames)),
          automation(automation),
          inputSamples(block * static_cast<std::size_t>(mapping.pluginInputs)),
          outputSamples(block * static_cast<std::size_t>(mapping.pluginOutputs)),
          inputs(static_cast<std::size_t>(mapping.pluginInputs)),
          outputs(static_cast<std::size_t>(mapping.pluginOutputs)) {}

    // The channel pointers from frame offset on, for a block split by automation.
    void point(std::size_t offset) {
        for (std::size_t c = 0; c < inputs.size(); ++c)
            inputs[c] = inputSamples.data() + c * block + offset;
        for (std::size_t c = 0; c < outputs.size(); ++c)
            outputs[c] = outputSamples.data() + c * block + offset;
    }

    // n frames of one channel from a buffer in layout into an input block.
    void fill(int input, const Sample* source, SampleLayout layout, std::size_t n) {
        Sample* target = inputSamples.data() + static_cast<std::size_t>(input) * block;
        if (source == nullptr) {
            std::fill(target, target + n, Sample(0));
            return;
        }
        for (std::size_t f = 0; f < n; ++f) target[f] = source[f * layout.frameStride];
    }

    void process(const ChannelMapping& mapping, const Sample* input, SampleLayout inputLayout,
                 Sample* output, SampleLayout outputLayout, std::size_t frames,
                 std::int64_t start, const Sample* sideChain, SampleLayout sideChainLayout,
                 const MidiSchedule& midi, std::int64_t midiStart) {
        for (std::size_t first = 0; first < frames; first += block) {
            const std::size_t n = std::min(block, frames - first);
            for (int k = 0; k < mapping.mainInputCount(); ++k)
                fill(mapping.mainInputs[static_cast<std::size_t>(k)],
                     input + first * inputLayout.frameStride +
                         static_cast<std::size_t>(mapping.sourceChannel(index, k)) *
                             inputLayout.channelStride,
                     inputLayout, n);
            for (std::size_t k = 0; k < mapping.sideChainInputs.size(); ++k)
                fill(mapping.sideChainInputs[k],
                     sideChain == nullptr
                         ? nullptr
                         : sideChain + first * sideChainLayout.frameStride +
                               static_cast<std::size_t>(mapping.sideChainSource(static_cast<int>(k))) *
                                   sideChainLayout.channelStride,
                     sideChainLayout, n);
            // A plug-in that skips a channel leaves silence, not the last block.
            std::fill(outputSamples.begin(), outputSamples.end(), Sample(0));
            const std::int64_t blockStart = start + static_cast<std::int64_t>(first);
            for (std::size_t at = 0; at < n;) {
                const std::int64_t now = blockStart + static_cast<std::int64_t>(at);
                const std::int64_t next = automation.nextFrame();
                if (next <= now) {
                    automation.applyAt(next,
                                       [&](int parameter, float value) {
                                           plugin->setParameter(parameter, value);
                                       });
                    continue;
                }
                const auto length = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(n - at), next - now));
                point(at);
                if (!midi.empty()) {
                    midi.eventsIn(now - midiStart, static_cast<int>(length), events);
                    if (!events.empty()) plugin->queueMidi(events);
                }
                plugin->process(inputs.data(), outputs.data(), static_cast<int>(length));
                at += length;
            }
            for (int c = 0; c < mapping.outputsPerInstance; ++c) {
                const Sample* source = outputSamples.data() + static_cast<std::size_t>(c) * block;
                Sample* target = output + first * outputLayout.frameStride +
                                 static_cast<std::size_t>(mapping.targetChannel(index, c)) *
                                     outputLayout.channelStride;
                for (std::size_t f = 0; f < n; ++f) target[f * outputLayout.frameStride] = source[f];
            }
        }
    }

    Plugin* plugin;
    int index;
    std::size_t block;
    AutomationSchedule automation;
    std::vector<Sample> inputSamples;
    std::vector<Sample> outputSamples;
    std::vector<Sample*> inputs;
    std::vector<Sample*> outputs;
    std::vector<MidiEvent> events;  // this call's, reused
};

template <typename Sample>
BlockDriver<Sample>::BlockDriver(std::vector<Plugin*> instances, const ChannelMapping& mapping,
                                 int blockFrames, const AutomationSchedule& automation)
    : mapping(mapping) {
    for (std::size_t i = 0; i < instances.size(); ++i) {
        lanes.push_back(std::make_unique<Lane>(instances[i], static_cast<int>(i), mapping,
                                               blockFrames, automation));
        if (i > 0) threads.push_back(std::make_unique<WorkerThread>());
    }
}

template <typename Sample>
BlockDriver<Sample>::~BlockDriver() = default;

template <typename Sample>
void BlockDriver<Sample>::setAutomation(const AutomationSchedule& automation) {
    for (const auto& lane : lanes) lane->automation = automation;
}

template <typename Sample>
void BlockDriver<Sample>::setMidi(MidiSchedule schedule, std::int64_t firstFrame) {
    midi = std::move(schedule);
    midiStart = firstFrame;
}

template <typename Sample>
void BlockDriver<Sample>::addMidi(const MidiSchedule& later) {
    midi = MidiSchedule::merged(midi.from(done - midiStart), later);
    midiStart = done;
}

template <typename Sample>
std::int64_t BlockDriver<Sample>::midiFramesLeft() const {
    return std::max<std::int64_t>(midi.lastFrame() + midiStart + 1 - done, 0);
}

template <typename Sample>
void BlockDriver<Sample>::process(const Sample* input, SampleLayout inputLayout, Sample* output,
                                  SampleLayout outputLayout, std::size_t frames,
                                  const Sample* sideChain, SampleLayout sideChainLayout) {
    for (std::size_t i = 1; i < lanes.size(); ++i)
        threads[i - 1]->post([&, i] {
            lanes[i]->process(mapping, input, inputLayout, output, outputLayout, frames, done,
                              sideChain, sideChainLayout, midi, midiStart);
        });
    lanes.front()->process(mapping, input, inputLayout, output, outputLayout, frames, done,
                           sideChain, sideChainLayout, midi, midiStart);
    for (const auto& thread : threads) thread->wait();
    done += static_cast<std::int64_t>(frames);
}

template class BlockDriver<float>;
template class BlockDriver<double>;

}  // namespace varkel::engine
