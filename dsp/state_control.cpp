#include "dsp/state_control.h"

#include <cmath>

#include "dsp/op_amp_chain.h"

namespace varkel {
namespace {

float* parameterField(VarkelState& state, int index) {
    switch (index) {
        case kPreGainIndex:
            return &state.preGain;
        case kLpCutOffIndex:
            return &state.cutOff;
        case kPostGainIndex:
            return &state.postGain;
        default:
            return nullptr;
    }
}

}  // namespace

float readParameter(const VarkelState& state, int index) {
    float* field = parameterField(const_cast<VarkelState&>(state), index);
    return field != nullptr ? loadParameter(*field) : 0.0f;
}

void writeParameter(VarkelState& state, int index, float value) {
    float* field = parameterField(state, index);
    if (field == nullptr || !std::isfinite(value)) return;
    storeParameter(*field, value);
}

// The lower bound is checked before rounding: 999.5 Hz is below it even
// though it rounds to 1000.
std::optional<int> usableRate(double rate) {
    if (!std::isfinite(rate) || rate < kLowestUsableRate) return std::nullopt;
    const double rounded = std::nearbyint(rate);
    if (rounded > 2147483647.0) return std::nullopt;
    return static_cast<int>(rounded);
}

void clearFilters(VarkelState& state) {
    for (int ch = 0; ch < 2; ++ch) ChannelState{}.store(state, ch);
}

// Only the rate-tied fields and the filters are written: the host may write
// a parameter from another thread meanwhile, and it must not be lost.
void retune(VarkelState& state, int rateHz) {
    if (rateHz <= 0 || rateHz == state.rateHz) return;
    tuneForRate(state, rateHz);
    clearFilters(state);
}

}  // namespace varkel
