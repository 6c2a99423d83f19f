// The per-sample chain of the op-amp stage, inlined into the block loops.
//
// Every step is single precision in the order written, except where a comment
// says double: those are computed in double from widened operands and rounded
// back to single where they re-enter the chain. Coefficients derived from a
// parameter are cached under the parameter's bit pattern, which yields the
// same bits as deriving them afresh at every sample.
#pragma once

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

#include "dsp/chain_constants.h"
#include "dsp/noise_tables.h"
#include "dsp/random_source.h"
#include "dsp/varkel.h"

namespace varkel {

inline constexpr float kLowCornerRadians = 628.3185f;     // 2 pi * 100 Hz
inline constexpr float kBandDoubledCorner = 24000.0f;     // 2 * 12000 Hz at cutOff 1
inline constexpr double kInversePi = 0.3183098861837907;
inline constexpr float kDeadZonePerGain = 0.001f;
inline constexpr float kNoisePerGain = 0.0001f;
inline constexpr float kRail = 0.7414f;
inline constexpr float kSlewPerSecond = 20000.0f;
inline constexpr float kDcBlockerRadians = 190.0f;  // R = 1 - 190 / rate, about 30 Hz

// Parameters may be written by a host thread while audio runs; relaxed atomic
// views keep that from being a data race without changing the record's layout.
inline float loadParameter(float& field) {
    return std::atomic_ref<float>(field).load(std::memory_order_relaxed);
}
inline void storeParameter(float& field, float value) {
    std::atomic_ref<float>(field).store(value, std::memory_order_relaxed);
}

// The fields tied to the rate: the slew limit per sample and the sample period.
inline void tuneForRate(VarkelState& s, int rateHz) {
    const float r = static_cast<float>(rateHz);
    s.rateHz = rateHz;
    s.maxSlew = kSlewPerSecond / r;
    s.samplePeriod = 1.0f / r;
}

inline float gainOf(float parameter) {
    return static_cast<float>(static_cast<double>(parameter) * kGainScale);  // double
}

struct ChannelState {
    float lowState, bandState, slewPrev, dcPrevIn, dcPrevOut;

    static ChannelState load(const VarkelState& s, int ch) {
        return {s.lowState[ch], s.bandState[ch], s.slewPrev[ch], s.dcPrevIn[ch], s.dcPrevOut[ch]};
    }
    void store(VarkelState& s, int ch) const {
        s.lowState[ch] = lowState;
        s.bandState[ch] = bandState;
        s.slewPrev[ch] = slewPrev;
        s.dcPrevIn[ch] = dcPrevIn;
        s.dcPrevOut[ch] = dcPrevOut;
    }
};

class ChainCoefficients {
public:
    explicit ChainCoefficients(const VarkelState& s)
        : lowCoefficient(kLowCornerRadians * s.samplePeriod),
          samplePeriod(s.samplePeriod),
          maxSlew(s.maxSlew),
          dcPole(1.0f - kDcBlockerRadians / static_cast<float>(s.rateHz)) {}

    // Reads the three parameters; true when a coefficient changed.
    bool update(VarkelState& s) {
        const bool pre = setPreGain(loadParameter(s.preGain));
        const bool cut = setCutOff(loadParameter(s.cutOff));
        const bool post = setPostGain(loadParameter(s.postGain));
        return pre || cut || post;
    }

    float gIn = 0, gOut = 0;
    float bandCoefficient = 0;
    float deadZone = 0, deadZoneKnee = 0;
    float noiseLevel = 0;
    const float lowCoefficient;
    const float samplePeriod;
    const float maxSlew;
    const float dcPole;

private:
    bool setPreGain(float preGain) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(preGain);
        if (bits == preGainBits && preGainValid) return false;
        preGainBits = bits;
        preGainValid = true;
        gIn = gainOf(preGain);
        deadZone = kDeadZonePerGain * preGain;
        deadZoneKnee =
            static_cast<float>(static_cast<double>(std::fabs(0.4f * deadZone)) + 0.0001);  // double
        noiseLevel = kNoisePerGain * preGain;
        return true;
    }
    bool setCutOff(float cutOff) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(cutOff);
        if (bits == cutOffBits && cutOffValid) return false;
        cutOffBits = bits;
        cutOffValid = true;
        // rc = 1 / (2 pi * 12000 * cutOff) seconds; infinite at cutOff 0, which freezes the filter.
        const float doubledCorner = kBandDoubledCorner * cutOff;
        const float rc =
            static_cast<float>(kInversePi / static_cast<double>(doubledCorner));  // double
        bandCoefficient = samplePeriod / rc;
        return true;
    }
    bool setPostGain(float postGain) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(postGain);
        if (bits == postGainBits && postGainValid) return false;
        postGainBits = bits;
        postGainValid = true;
        gOut = gainOf(postGain);
        return true;
    }

    std::uint32_t preGainBits = 0, cutOffBits = 0, postGainBits = 0;
    bool preGainValid = false, cutOffValid = false, postGainValid = false;
};

// A state that would turn non-finite is restarted at 0 so the channel recovers.
inline float finiteOrZero(float v) { return std::isfinite(v) ? v : 0.0f; }

// One Box-Muller deviate from two draws. The pair comes from one generator
// state in two independent steps; a first draw of 0 (u = 0) is drawn again.
inline float gaussianDeviate(std::uint32_t& rng, const NoiseTables& tables) {
    const std::uint32_t first = rng * kLcgMultiplier + kLcgIncrement;
    std::uint32_t second = rng * kLcgMultiplier2 + kLcgIncrement2;
    int r1 = drawOf(first);
    if (r1 == 0) [[unlikely]] {
        rng = first;
        do {
            rng = rng * kLcgMultiplier + kLcgIncrement;
            r1 = drawOf(rng);
        } while (r1 == 0);
        second = rng * kLcgMultiplier + kLcgIncrement;
    }
    rng = second;
    const int r2 = drawOf(second);
    return static_cast<float>(static_cast<double>(tables.cosine[r2]) *
                              tables.radius[r1]);  // double
}

inline float processSample(ChannelState& st, const ChainCoefficients& k, float x,
                           std::uint32_t& rng, const NoiseTables& tables) {
    // Input gain, then a 100 Hz one-pole low-pass added back: a +6 dB low shelf.
    const float a = x * k.gIn;
    const float l = (a - st.lowState) * k.lowCoefficient + st.lowState;
    st.lowState = finiteOrZero(l);
    const float s = a + l;

    // Bandwidth one-pole low-pass; its coefficient is not limited, so above
    // cutOff ~0.585 (at 44.1 kHz) it overshoots and rings at Nyquist.
    const float b = (s - st.bandState) * k.bandCoefficient + st.bandState;
    st.bandState = finiteOrZero(b);

    // Inverting soft clipper: -b(105 + 10b^2) / (105 + 45b^2 + b^4), a
    // continued-fraction tanh.
    const float b2 = b * b;
    const float b3 = b2 * b;
    const float n = 10.0f * b3 + b * 105.0f;
    const float d = b * b3 + (b2 * 45.0f + 105.0f);
    const float c = (-n) / d;

    // Crossover dead zone: magnitudes above t lose t; inside the zone a
    // parabola 0.4 e (1 + e/q) bends through zero.
    const float e = std::fabs(c) - k.deadZone;
    float w = e;
    if (e < 0.0f) w = (0.4f * e) * (e / k.deadZoneKnee + 1.0f);
    if (c < 0.0f) w = -w;

    // Rail clamp; ordered comparisons send a NaN to +rail.
    w = w < kRail ? w : kRail;
    w = w > -kRail ? w : -kRail;

    const float v = gaussianDeviate(rng, tables) * k.noiseLevel + w;

    // Slew-rate limiter.
    const float delta = v - st.slewPrev;
    const float o = delta < -k.maxSlew ? st.slewPrev - k.maxSlew
                                       : st.slewPrev + (delta < k.maxSlew ? delta : k.maxSlew);
    st.slewPrev = o;

    // DC blocker: y[n] = R y[n-1] - x[n-1] + x[n].
    const float y = (k.dcPole * st.dcPrevOut - st.dcPrevIn) + o;
    st.dcPrevIn = o;
    st.dcPrevOut = y;

    return y * k.gOut;
}

}  // namespace varkel
