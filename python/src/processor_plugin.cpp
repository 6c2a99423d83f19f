#include "python/src/processor_plugin.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <optional>

#include "dsp/parameter_table.h"
#include "dsp/random_source.h"
#include "dsp/state_control.h"
#include "dsp/stereo_block.h"
#include "engine/engine_error.h"
#include "plugin/varkel_plugin.h"

namespace varkel::python {

namespace {

bool validIndex(int index) { return index >= 0 && index < kParameterCount; }

}  // namespace

ProcessorPlugin::ProcessorPlugin(double sampleRate) {
    const std::optional<int> rate = usableRate(sampleRate);
    if (!rate)
        throw engine::UsageError("sample rate " + std::to_string(sampleRate) +
                                 ": Varkel runs at 1000 Hz or more");
    // Created for 44100 Hz and re-tuned, as the module is when a host sets its rate.
    state = Varkel_new(44100);
    if (state == nullptr) throw std::bad_alloc();
    retune(*state, *rate);
}

ProcessorPlugin::~ProcessorPlugin() { Varkel_delete(state); }

int ProcessorPlugin::parameterCount() const { return kParameterCount; }

engine::ParameterInfo ProcessorPlugin::parameterInfo(int index) const {
    engine::ParameterInfo info;
    if (!validIndex(index)) return info;
    const ParameterDescription& p = kParameters[index];
    info.name = p.name;
    info.symbol = p.name;
    info.unit = p.label;
    info.minimum = p.minimum;
    info.maximum = p.maximum;
    info.defaultValue = p.defaultValue;
    return info;
}

void ProcessorPlugin::loadPreset(const std::string& preset) {
    throw engine::UsageError(preset + ": the processor has no presets (its LV2 edition has)");
}

std::string ProcessorPlugin::parameterDisplay(int index) const {
    if (!validIndex(index)) return {};
    if (!texts) texts = std::make_unique<::Varkel>(nullptr);
    texts->setParameter(index, parameter(index));
    char text[kVstMaxParamStrLen + 1] = {};
    texts->getParameterDisplay(index, text);
    return text;
}

float ProcessorPlugin::parameter(int index) const { return readParameter(*state, index); }

void ProcessorPlugin::setParameter(int index, float value) { writeParameter(*state, index, value); }

template <typename Sample>
void ProcessorPlugin::processBlock(Sample** inputs, Sample** outputs, int frames) {
    const std::uint32_t threads = loadRandomState();
    storeRandomState(noise);
    processStereoBlock(*state, inputs, outputs, frames);
    noise = loadRandomState();
    storeRandomState(threads);
}

void ProcessorPlugin::process(float** inputs, float** outputs, int frames) {
    processBlock(inputs, outputs, frames);
}

void ProcessorPlugin::process(double** inputs, double** outputs, int frames) {
    processBlock(inputs, outputs, frames);
}

}  // namespace varkel::python
