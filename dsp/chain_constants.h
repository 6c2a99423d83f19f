// The constants of the op-amp chain that callers outside the processor show
// or depend on; the processor's own tuning constants live with the chain.
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

}  // namespace varkel
