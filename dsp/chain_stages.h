// The stages of the op-amp chain, each written once for any lane type V:
// a float (one channel, one sample) or sse::Lanes (both channels of one or
// two frames side by side). Every step is the single-precision IEEE operation
// in the order written, so both lane types give the same bits.
//
// A lane type offers + - * / and unary -, construction from a float (all
// lanes), and these functions: absOf, isNegative (a mask), select, anyOf,
// negateWhere, lesserOf (a < b ? a : b), greaterOf (a > b ? a : b) and
// finiteOrZero. Ordered comparisons are false for a NaN, and the stages rely
// on that where noted.
#pragma once

#include <cmath>

#include "dsp/always_inline.h"
#include "dsp/chain_constants.h"


namespace varkel {

// --- the float lane ---

VARKEL_INLINE float absOf(float v) { return std::fabs(v); }
VARKEL_INLINE bool isNegative(float v) { return v < 0.0f; }
VARKEL_INLINE float select(bool mask, float ifTrue, float ifFalse) { return mask ? ifTrue : ifFalse; }
VARKEL_INLINE bool anyOf(bool mask) { return mask; }
VARKEL_INLINE float negateWhere(bool mask, float v) { return mask ? -v : v; }
VARKEL_INLINE float lesserOf(float a, float b) { return a < b ? a : b; }
VARKEL_INLINE float greaterOf(float a, float b) { return a > b ? a : b; }
// A state that would turn non-finite is restarted at 0 so the channel recovers.
VARKEL_INLINE float finiteOrZero(float v) { return std::isfinite(v) ? v : 0.0f; }

namespace stage {

template <typename V>
VARKEL_INLINE V inputGain(V x, V gain) {
    return x * gain;
}

// One-pole low-pass, y[n] = (x[n] - y[n-1]) k + y[n-1]; the caller keeps y[n].
template <typename V>
VARKEL_INLINE V onePoleLowPass(V x, V previous, V k) {
    return (x - previous) * k + previous;
}

// The 100 Hz low-pass added back to its input: a +6 dB low shelf.
template <typename V>
VARKEL_INLINE V lowShelf(V a, V lowPassed) {
    return a + lowPassed;
}

// Inverting soft clipper, -b(105 + 10b^2) / (105 + 45b^2 + b^4): a
// continued-fraction tanh.
template <typename V>
VARKEL_INLINE V softClip(V b) {
    const V b2 = b * b;
    const V b3 = b2 * b;
    const V n = V(10.0f) * b3 + b * V(105.0f);
    const V d = b * b3 + (b2 * V(45.0f) + V(105.0f));
    return (-n) / d;
}

// Crossover dead zone: magnitudes above zone lose zone; inside it a parabola
// 0.4 e (1 + e / knee) bends through zero. A NaN stays NaN.
template <typename V>
VARKEL_INLINE V deadZone(V c, V zone, V knee) {
    const V e = absOf(c) - zone;
    const auto inside = isNegative(e);
    V w = e;
    // The knee is needed only near silence or a zero crossing.
    if (anyOf(inside)) w = select(inside, (V(0.4f) * e) * (e / knee + V(1.0f)), e);
    return negateWhere(isNegative(c), w);
}

// Rail clamp; the comparisons send a NaN to +rail.
template <typename V>
VARKEL_INLINE V railClamp(V w) {
    return greaterOf(lesserOf(w, V(kRail)), V(-kRail));
}

template <typename V>
VARKEL_INLINE V addNoise(V w, V deviate, V level) {
    return deviate * level + w;
}

// Slew-rate limiter: the step is clamped to +-maxSlew (a NaN step counts as
// +maxSlew). previous + (-maxSlew) is previous - maxSlew to the bit.
template <typename V>
VARKEL_INLINE V slewLimit(V v, V& previous, V maxSlew, V negativeMaxSlew) {
    const V o = previous + greaterOf(lesserOf(v - previous, maxSlew), negativeMaxSlew);
    previous = o;
    return o;
}

// DC blocker, y[n] = R y[n-1] - x[n-1] + x[n].
template <typename V>
VARKEL_INLINE V dcBlock(V x, V& previousIn, V& previousOut, V pole) {
    const V y = (pole * previousOut - previousIn) + x;
    previousIn = x;
    previousOut = y;
    return y;
}

template <typename V>
VARKEL_INLINE V outputGain(V y, V gain) {
    return y * gain;
}

// --- the chain in three parts, for the pipeline's schedule ---

// Low shelf and bandwidth filter on the gained input (the filters with
// feedback at the front). Guarded, a filter state that would turn non-finite
// is kept as 0.
template <bool guarded, typename V>
VARKEL_INLINE V shelfAndBand(V a, V& low, V& band, V lowCoefficient, V bandCoefficient) {
    const V l = onePoleLowPass(a, low, lowCoefficient);
    if constexpr (guarded)
        low = finiteOrZero(l);
    else
        low = l;
    // The bandwidth coefficient is not limited, so above cutOff ~0.585 (at
    // 44.1 kHz) this filter overshoots and rings at Nyquist.
    const V b = onePoleLowPass(lowShelf(a, l), band, bandCoefficient);
    if constexpr (guarded)
        band = finiteOrZero(b);
    else
        band = b;
    return b;
}

// Gain, low shelf and bandwidth filter.
template <bool guarded, typename V>
VARKEL_INLINE V front(V x, V& low, V& band, V gIn, V lowCoefficient, V bandCoefficient) {
    return shelfAndBand<guarded>(inputGain(x, gIn), low, band, lowCoefficient, bandCoefficient);
}

// Soft clipper, dead zone, rail clamp and noise: no state.
template <typename V>
VARKEL_INLINE V middle(V b, V deviate, V zone, V knee, V noiseLevel) {
    return addNoise(railClamp(deadZone(softClip(b), zone, knee)), deviate, noiseLevel);
}

// Slew limiter, DC blocker and output gain (the filters with feedback at the
// back).
template <typename V>
VARKEL_INLINE V back(V v, V& slew, V& dcIn, V& dcOut, V maxSlew, V negativeMaxSlew, V dcPole,
                    V gOut) {
    return outputGain(dcBlock(slewLimit(v, slew, maxSlew, negativeMaxSlew), dcIn, dcOut, dcPole),
                      gOut);
}

}  // namespace stage
}  // namespace varkel
