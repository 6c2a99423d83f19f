#include "dsp/varkel.h"

#include <cstdlib>

#include "dsp/op_amp_chain.h"

namespace {
constexpr float kDefaultGain = 0.25118864f;  // nearest single to 10^(-12/20): unity gain
}

extern "C" {

VarkelState* Varkel_new(int rate) {
    if (rate <= 0) return nullptr;
    try {
        varkel::ensureNoiseTables();
        if (!varkel::prepareRandomSource()) return nullptr;
    } catch (...) {
        return nullptr;
    }
    auto* state = static_cast<VarkelState*>(std::calloc(1, sizeof(VarkelState)));
    if (state == nullptr) return nullptr;
    const float r = static_cast<float>(rate);
    state->rateHz = rate;
    state->preGain = kDefaultGain;
    state->postGain = kDefaultGain;
    state->cutOff = 1.0f;
    state->maxSlew = varkel::kSlewPerSecond / r;
    state->samplePeriod = 1.0f / r;
    return state;
}

float Varkel_process(int channel, VarkelState* state, float input) {
    const int ch = channel == 0 ? 0 : 1;
    const varkel::NoiseTables& tables = varkel::ensureNoiseTables();
    varkel::ChainCoefficients k(*state);
    k.update(*state);
    varkel::ChannelState st = varkel::ChannelState::load(*state, ch);
    std::uint32_t rng = varkel::loadRandomState();
    const float y = varkel::processSample(st, k, input, rng, tables);
    varkel::storeRandomState(rng);
    st.store(*state, ch);
    return y;
}

void Varkel_delete(VarkelState* state) { std::free(state); }

}  // extern "C"
