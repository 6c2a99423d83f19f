#include "dsp/varkel.h"

#include <cstdlib>

#include "dsp/op_amp_chain.h"

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
    state->preGain = varkel::kParameters[varkel::kPreGainIndex].defaultValue;
    state->cutOff = varkel::kParameters[varkel::kLpCutOffIndex].defaultValue;
    state->postGain = varkel::kParameters[varkel::kPostGainIndex].defaultValue;
    varkel::tuneForRate(*state, rate);
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
