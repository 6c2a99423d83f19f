// The op-amp chain for one sample of one channel: its coefficients, its
// channel state and its noise, around the stages of chain_stages.h.
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
#include <limits>

#include "dsp/always_inline.h"
#include "dsp/chain_constants.h"
#include "dsp/chain_stages.h"
#include "dsp/noise_tables.h"
#include "dsp/random_source.h"
#include "dsp/varkel.h"

namespace varkel {

// Parameters may be written by a host thread while audio runs; relaxed atomic
// views keep that from being a data race without changing the record's layout.
VARKEL_INLINE float loadParameter(float& field) {
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

VARKEL_INLINE float gainOf(float parameter) {
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

// rc = 1 / (2 pi * 12000 * cutOff) seconds; infinite at cutOff 0, which
// freezes the bandwidth filter.
VARKEL_INLINE float bandTimeConstantOf(float cutOff) {
    const float doubledCorner = kBandDoubledCorner * cutOff;
    return static_cast<float>(kInversePi / static_cast<double>(doubledCorner));  // double
}

// The bandwidth coefficient k = T / rc is not limited at the design rate (it
// reaches about 1.7097 at cutOff 1, ringing towards Nyquist). Below that rate
// the 12 kHz corner nears Nyquist and k would pass 2, where the one-pole
// filter runs away; there k is held at its design-rate maximum, so the
// filter keeps the character it has at 44.1 kHz.
VARKEL_INLINE float bandCoefficientLimitAt(int rateHz) {
    if (rateHz >= kDesignRate) return std::numeric_limits<float>::infinity();
    return (1.0f / static_cast<float>(kDesignRate)) / bandTimeConstantOf(1.0f);
}

// Kept by an instance from block to block, so that a short block costs no
// divisions: every coefficient is derived again only when its parameter's
// bits or the rate change.
class ChainCoefficients {
public:
    ChainCoefficients() = default;  // derived at the first followRate
    explicit ChainCoefficients(const VarkelState& s) { retune(s); }

    // Reads the three parameters; true when a coefficient changed.
    VARKEL_MEMBER_INLINE bool update(VarkelState& s) {
        const bool pre = setPreGain(loadParameter(s.preGain));
        const bool cut = setCutOff(loadParameter(s.cutOff));
        const bool post = setPostGain(loadParameter(s.postGain));
        return pre || cut || post;
    }

    // The rate-tied coefficients again when the record was re-tuned.
    VARKEL_MEMBER_INLINE void followRate(const VarkelState& s) {
        if (s.rateHz != rateHz || std::bit_cast<std::uint32_t>(s.samplePeriod) != periodBits ||
            std::bit_cast<std::uint32_t>(s.maxSlew) != slewBits) [[unlikely]]
            retune(s);
    }

    // The parameter bits the coefficients now stand for (after update).
    VARKEL_MEMBER_INLINE std::uint32_t preGainBitsInUse() const { return preGainBits; }
    VARKEL_MEMBER_INLINE std::uint32_t cutOffBitsInUse() const { return cutOffBits; }
    VARKEL_MEMBER_INLINE std::uint32_t postGainBitsInUse() const { return postGainBits; }

    float gIn = 0, gOut = 0;
    float bandCoefficient = 0;
    float deadZone = 0, deadZoneKnee = 0;
    float noiseLevel = 0;
    float lowCoefficient = 0;
    float samplePeriod = 0;
    float bandCoefficientLimit = 0;
    float maxSlew = 0;
    float dcPole = 0;

    // The same, each four times over, so that SSE code loads a coefficient
    // into all lanes without a shuffle: a one-frame block has ten of them.
    struct Quads {
        alignas(16) float gIn[4], gOut[4], bandCoefficient[4], deadZone[4], deadZoneKnee[4],
            noiseLevel[4], lowCoefficient[4], maxSlew[4], minSlew[4], dcPole[4];
    } quads{};

private:
    static void fill(float (&quad)[4], float value) { quad[0] = quad[1] = quad[2] = quad[3] = value; }

    VARKEL_MEMBER_INLINE bool setPreGain(float preGain) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(preGain);
        if (bits == preGainBits && preGainValid) return false;
        preGainBits = bits;
        preGainValid = true;
        gIn = gainOf(preGain);
        deadZone = kDeadZonePerGain * preGain;
        deadZoneKnee =
            static_cast<float>(static_cast<double>(std::fabs(0.4f * deadZone)) + 0.0001);  // double
        noiseLevel = kNoisePerGain * preGain;
        fill(quads.gIn, gIn);
        fill(quads.deadZone, deadZone);
        fill(quads.deadZoneKnee, deadZoneKnee);
        fill(quads.noiseLevel, noiseLevel);
        return true;
    }
    VARKEL_MEMBER_INLINE bool setCutOff(float cutOff) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(cutOff);
        if (bits == cutOffBits && cutOffValid) return false;
        cutOffBits = bits;
        cutOffValid = true;
        bandCoefficient = samplePeriod / bandTimeConstantOf(cutOff);
        if (bandCoefficient > bandCoefficientLimit) bandCoefficient = bandCoefficientLimit;
        fill(quads.bandCoefficient, bandCoefficient);
        return true;
    }
    VARKEL_MEMBER_INLINE bool setPostGain(float postGain) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(postGain);
        if (bits == postGainBits && postGainValid) return false;
        postGainBits = bits;
        postGainValid = true;
        gOut = gainOf(postGain);
        fill(quads.gOut, gOut);
        return true;
    }

    VARKEL_MEMBER_INLINE void retune(const VarkelState& s) {
        rateHz = s.rateHz;
        periodBits = std::bit_cast<std::uint32_t>(s.samplePeriod);
        slewBits = std::bit_cast<std::uint32_t>(s.maxSlew);
        lowCoefficient = kLowCornerRadians * s.samplePeriod;
        samplePeriod = s.samplePeriod;
        bandCoefficientLimit = bandCoefficientLimitAt(s.rateHz);
        maxSlew = s.maxSlew;
        dcPole = 1.0f - kDcBlockerRadians / static_cast<float>(s.rateHz);
        fill(quads.lowCoefficient, lowCoefficient);
        fill(quads.maxSlew, maxSlew);
        fill(quads.minSlew, -maxSlew);
        fill(quads.dcPole, dcPole);
        cutOffValid = false;  // the bandwidth coefficient depends on the rate
    }

    int rateHz = 0;
    std::uint32_t periodBits = 0, slewBits = 0;
    std::uint32_t preGainBits = 0, cutOffBits = 0, postGainBits = 0;
    bool preGainValid = false, cutOffValid = false, postGainValid = false;
};

// The Box-Muller deviate of a pair of draws: radius(r1) cos(angle(r2)).
VARKEL_INLINE float deviateOf(int r1, int r2, const NoiseTables& tables) {
    return static_cast<float>(static_cast<double>(tables.cosine[r2]) *
                              tables.radius[r1]);  // double
}

// One Box-Muller deviate from two draws. The pair comes from one generator
// state in two independent steps; a first draw of 0 (u = 0) is drawn again.
VARKEL_INLINE float gaussianDeviate(std::uint32_t& rng, const NoiseTables& tables) {
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
    return deviateOf(r1, r2, tables);
}

inline float processSample(ChannelState& st, const ChainCoefficients& k, float x,
                           std::uint32_t& rng, const NoiseTables& tables) {
    const float b = stage::front<true>(x, st.lowState, st.bandState, k.gIn, k.lowCoefficient,
                                       k.bandCoefficient);
    const float v =
        stage::middle(b, gaussianDeviate(rng, tables), k.deadZone, k.deadZoneKnee, k.noiseLevel);
    return stage::back(v, st.slewPrev, st.dcPrevIn, st.dcPrevOut, k.maxSlew, -k.maxSlew, k.dcPole,
                       k.gOut);
}

}  // namespace varkel
