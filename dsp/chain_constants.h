// The constants of the op-amp chain: first those that callers outside the
// processor depend on, then the processor's own tuning. What a host shows of
// the parameters is in parameter_table.h.
#pragma once

#include "dsp/parameter_table.h"

namespace varkel {

// A gain parameter's linear gain is value * 10^(kGainDecibelsAtOne/20).
inline constexpr double kGainScale = 3.9810719240874812;

// Below this the DC blocker's pole leaves the unit circle (R = 1 - 190 / rate)
// and the output grows without bound; no audio host runs that slowly.
inline constexpr double kLowestUsableRate = 1000.0;

// --- the chain's tuning ---

// The rate the chain's constants were designed at.
inline constexpr int kDesignRate = 44100;

inline constexpr float kLowCornerRadians = 628.3185f;  // 2 pi * 100 Hz
inline constexpr float kBandDoubledCorner = 2.0f * kCutOffCornerHz;
inline constexpr double kInversePi = 0.3183098861837907;
inline constexpr float kDeadZonePerGain = 0.001f;
inline constexpr float kNoisePerGain = 0.0001f;
inline constexpr float kRail = 0.7414f;
inline constexpr float kSlewPerSecond = 20000.0f;
inline constexpr float kDcBlockerRadians = 190.0f;  // R = 1 - 190 / rate, about 30 Hz

}  // namespace varkel
