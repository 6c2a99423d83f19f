// The constants of the op-amp chain: first those that callers outside the
// processor show or depend on, then the processor's own tuning.
#pragma once

namespace varkel {

// Parameter indices, in the order a host sees them.
enum ParameterIndex : int { kPreGainIndex = 0, kLpCutOffIndex = 1, kPostGainIndex = 2 };
inline constexpr int kParameterCount = 3;

// A gain parameter of 1.0 is +12 dB; linear gain = value * 10^(12/20).
inline constexpr double kGainScale = 3.9810719240874812;
inline constexpr double kGainDecibelsAtOne = 12.0;
// Nearest single to 10^(-12/20): the gain parameters' default, unity gain.
inline constexpr float kDefaultGain = 0.25118864f;
inline constexpr float kDefaultCutOff = 1.0f;
// The bandwidth low-pass's corner is kCutOffCornerHz * LPCutOff.
inline constexpr float kCutOffCornerHz = 12000.0f;

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
