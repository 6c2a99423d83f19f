// Varkel's parameters as every edition presents them: name, unit label,
// range, default, and how the normalised value becomes the value a person
// reads. The VST 2.4 texts, the LV2 description (generated from this at build
// time) and the host's defaults all come from here. A plain header on purpose:
// anything may include it without linking the processor.
#pragma once

#include <cmath>
#include <iterator>
#include <limits>
#include <span>

namespace varkel {

// Parameter indices, in the order a host sees them.
enum ParameterIndex : int { kPreGainIndex = 0, kLpCutOffIndex = 1, kPostGainIndex = 2 };

// A gain parameter of 1.0 is +12 dB: dB = 20 log10(value) + 12.
inline constexpr double kGainDecibelsAtOne = 12.0;
// The bandwidth low-pass's corner is kCutOffCornerHz * LPCutOff.
inline constexpr float kCutOffCornerHz = 12000.0f;

enum class Shown {
    kDecibels,  // 20 log10(value) + atOne, in double precision
    kHertz,     // atOne * value, in single precision, as the processor sees it
};

// Marks worth labelling, in shown units; minus infinity is a gain of 0 (silence).
inline constexpr double kGainMarks[] = {-std::numeric_limits<double>::infinity(), -12.0, -6.0, 0.0, 6.0, 12.0};
inline constexpr double kCornerMarks[] = {1500.0, 3000.0, 6000.0, 9000.0, 12000.0};

struct ParameterDescription {
    const char* name;  // also the LV2 port's symbol
    const char* label;
    const char* role;
    float minimum, maximum, defaultValue;
    Shown shown;
    double atOne;  // the shown value at a normalised 1.0
    std::span<const double> marks;
};

inline constexpr ParameterDescription kParameters[] = {
    // 0.25118864 is the nearest single to 10^(-12/20): unity gain.
    {"PreGain", "dB", "Input gain", 0.0f, 1.0f, 0.25118864f, Shown::kDecibels,
     kGainDecibelsAtOne, kGainMarks},
    {"LPCutOff", "Hz", "Corner of the bandwidth low-pass", 0.0f, 1.0f, 1.0f, Shown::kHertz,
     kCutOffCornerHz, kCornerMarks},
    {"PostGain", "dB", "Output gain", 0.0f, 1.0f, 0.25118864f, Shown::kDecibels,
     kGainDecibelsAtOne, kGainMarks},
};
inline constexpr int kParameterCount = static_cast<int>(std::size(kParameters));

// The decibels a kDecibels parameter shows for value (minus infinity at 0).
inline double shownDecibels(const ParameterDescription& p, float value) {
    return 20.0 * std::log10(static_cast<double>(value)) + p.atOne;
}

// The hertz a kHertz parameter shows for value.
inline float shownHertz(const ParameterDescription& p, float value) {
    return static_cast<float>(p.atOne) * value;
}

// The normalised value at which the parameter shows `shown`: the inverse of
// the two above, in double precision.
inline double valueShowing(const ParameterDescription& p, double shown) {
    return p.shown == Shown::kDecibels ? std::pow(10.0, (shown - p.atOne) / 20.0)
                                       : shown / p.atOne;
}

}  // namespace varkel
