// Varkel as an LV2 plug-in: the descriptor and the calls a host makes, each a
// thin layer over the processor's verbs. Port indices are those of
// Varkel.ttl: the controls first, at the parameter indices the VST 2.4 module
// uses, then the two audio inputs and the two audio outputs. The description
// does not declare lv2:inPlaceBroken, so a host may give one buffer to any
// of the audio ports.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>

#include "dsp/parameter_table.h"
#include "dsp/state_control.h"
#include "dsp/stereo_block.h"
#include "dsp/varkel.h"

namespace {

constexpr const char* kPluginUri = "urn:ostrelvane:varkel";

enum PortIndex : std::uint32_t {
    kFirstAudioInputPort = varkel::kParameterCount,
    kFirstAudioOutputPort = kFirstAudioInputPort + 2,
    kPortCount = kFirstAudioOutputPort + 2,
};

// The processor counts frames in an int; longer runs go through in pieces,
// which gives the same bits as one piece.
constexpr std::uint32_t kLongestPiece = 1u << 20;
// Inputs that an output shares a buffer with go through the scratch in pieces
// of this size; the pieces give the same bits as one block.
constexpr std::uint32_t kScratchFrames = 1024;

struct Lv2Instance {
    VarkelState* state = nullptr;
    varkel::ChainCoefficients coefficients;  // kept from run to run
    // Null until the host connects the port; an unconnected control leaves
    // its parameter where it is.
    const float* controls[varkel::kParameterCount] = {};
    float* inputs[2] = {};
    float* outputs[2] = {};
    float scratch[2][kScratchFrames] = {};
};

bool audioConnected(const Lv2Instance& instance) {
    return instance.inputs[0] != nullptr && instance.inputs[1] != nullptr &&
           instance.outputs[0] != nullptr && instance.outputs[1] != nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const*) {
    const std::optional<int> rateHz = varkel::usableRate(sampleRate);
    if (!rateHz) return nullptr;
    auto* instance = new (std::nothrow) Lv2Instance;
    if (instance == nullptr) return nullptr;
    instance->state = Varkel_new(*rateHz);
    if (instance->state == nullptr) {
        delete instance;
        return nullptr;
    }
    return instance;
}

void connectPort(LV2_Handle handle, std::uint32_t port, void* data) {
    auto& instance = *static_cast<Lv2Instance*>(handle);
    if (port < kFirstAudioInputPort)
        instance.controls[port] = static_cast<const float*>(data);
    else if (port < kFirstAudioOutputPort)
        instance.inputs[port - kFirstAudioInputPort] = static_cast<float*>(data);
    else if (port < kPortCount)
        instance.outputs[port - kFirstAudioOutputPort] = static_cast<float*>(data);
}

// A host reactivates an instance to start it afresh, as after a seek.
void activate(LV2_Handle handle) {
    varkel::clearFilters(*static_cast<Lv2Instance*>(handle)->state);
}

void run(LV2_Handle handle, std::uint32_t frames) {
    auto& instance = *static_cast<Lv2Instance*>(handle);
    for (int index = 0; index < varkel::kParameterCount; ++index)
        if (instance.controls[index] != nullptr)
            varkel::writeParameter(*instance.state, index, *instance.controls[index]);

    // Hosts connect every audio port before running; one that has not gets
    // nothing written rather than a crash.
    if (!audioConnected(instance)) return;
    // The processor writes each frame's left output before it reads the
    // right input, so an output on another channel's input buffer would feed
    // back; those inputs are copied aside first.
    const bool copyInputs =
        !varkel::outputsSpareTheInputs(instance.inputs, instance.outputs, frames);
    const std::uint32_t longest = copyInputs ? kScratchFrames : kLongestPiece;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t piece = std::min(frames - done, longest);
        float* inputs[2] = {instance.inputs[0] + done, instance.inputs[1] + done};
        float* outputs[2] = {instance.outputs[0] + done, instance.outputs[1] + done};
        if (copyInputs) {
            for (int ch = 0; ch < 2; ++ch) std::copy_n(inputs[ch], piece, instance.scratch[ch]);
            for (int ch = 0; ch < 2; ++ch) inputs[ch] = instance.scratch[ch];
        }
        varkel::processStereoBlock(*instance.state, instance.coefficients, inputs, outputs,
                                   static_cast<int>(piece));
        done += piece;
    }
}

void cleanup(LV2_Handle handle) {
    auto* instance = static_cast<Lv2Instance*>(handle);
    Varkel_delete(instance->state);
    delete instance;
}

const void* extensionData(const char*) { return nullptr; }

constexpr LV2_Descriptor kDescriptor = {
    kPluginUri, instantiate, connectPort, activate, run, nullptr, cleanup, extensionData,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
