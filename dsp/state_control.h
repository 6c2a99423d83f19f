// What a plug-in does to a processor's state besides running audio through
// it: parameters by index, re-tuning for a new rate, clearing the filters.
// Parameters may be written from another thread while audio runs.
#pragma once

#include <optional>

#include "dsp/chain_constants.h"
#include "dsp/varkel.h"

namespace varkel {

// The parameter's value, or 0 for an index outside 0..kParameterCount-1.
float readParameter(const VarkelState& state, int index);

// Stores the value as it comes, in or out of 0..1. A non-finite value would
// silence the stage for good, so it is ignored, as is an unknown index.
void writeParameter(VarkelState& state, int index, float value);

// The rate in whole hertz that a processor can run at for a host's rate, or
// nothing when it cannot (not finite, below kLowestUsableRate, beyond int).
std::optional<int> usableRate(double rate);

// Re-tunes for rateHz (from usableRate): the corners, slew limit and DC
// blocker follow the rate, the filters restart from silence, the parameters
// stay. A rate equal to the current one changes nothing.
void retune(VarkelState& state, int rateHz);

// Restarts every filter, the slew limiter and the DC blocker from silence.
void clearFilters(VarkelState& state);

}  // namespace varkel
