// The stereo chain over runs of frames, one channel per SSE lane, in three
// stages so that the out-of-order core is never held up by one long chain:
//
//   front   gain, low shelf and bandwidth filter (feedback: low, band)
//   middle  soft clipper, dead zone, rail clamp and noise: no state, so two
//           frames go through at once, four lanes wide (four frames on AVX2)
//   back    slew limiter and DC blocker (feedback: slew, DC)
//
// Three runs are in flight at once: the back of one, the middle of the next
// and the front of the one after go through one loop, four frames at a time,
// so that the middle's work fills the time the two feedback chains wait on
// latency. (Issued as a loop of its own, the middle waited behind the chains
// and added its whole cost.) The chains' loop does only the work that has to
// be done frame by frame: the input gain, the interleaving of the channels and
// the output gain with the writing of the outputs are done for a whole run at
// once.
//
// The stages are those of the scalar chain (chain_stages.h) on SSE lanes, and
// the random draws are taken in the chain's order: left then right, frame by
// frame. The output is bit-identical to running processSample on the left,
// then the right.
//
// Parameters are read as the frames go (see backMiddleFront); a run ends where
// one changes, so each run has one set of coefficients.
#pragma once

#include "dsp/sse_lanes.h"

#if VARKEL_HAVE_SSE2_LANES
#define VARKEL_HAVE_SSE2_PIPELINE 1

#include <cstdint>

#include "dsp/chain_stages.h"
#include "dsp/op_amp_chain.h"

namespace varkel::sse {

// Two adjacent floats into lanes 0, 1 (2, 3 zero) and back, eight bytes at a
// time; __m64 may alias anything.
VARKEL_INLINE __m128 loadPair(const float* p) {
    return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p));
}
VARKEL_INLINE void storePairAt(float* p, __m128 v) { _mm_storel_pi(reinterpret_cast<__m64*>(p), v); }

VARKEL_INLINE __m128 pairOf(const float (&v)[2]) { return loadPair(v); }
VARKEL_INLINE void storePair(__m128 p, float (&v)[2]) { storePairAt(v, p); }

// Coefficients of one run, broadcast to all lanes.
struct RunCoefficients {
    VARKEL_MEMBER_INLINE void set(const ChainCoefficients& k) {
        gIn = _mm_load_ps(k.quads.gIn);
        gOut = _mm_load_ps(k.quads.gOut);
        bandCoefficient = _mm_load_ps(k.quads.bandCoefficient);
        deadZone = _mm_load_ps(k.quads.deadZone);
        deadZoneKnee = _mm_load_ps(k.quads.deadZoneKnee);
        noiseLevel = _mm_load_ps(k.quads.noiseLevel);
    }
    __m128 gIn, gOut, bandCoefficient, deadZone, deadZoneKnee, noiseLevel;
};

inline constexpr int kRunFrames = 32;
inline constexpr int kFirstRunFrames = 8;

// The parameter bits a run's coefficients were derived from: a run ends at
// the first frame where one differs.
struct ParameterBits {
    VARKEL_MEMBER_INLINE explicit ParameterBits(const ChainCoefficients& k)
        : preGain(k.preGainBitsInUse()), cutOff(k.cutOffBitsInUse()), postGain(k.postGainBitsInUse()) {}
    VARKEL_MEMBER_INLINE bool stillHold(VarkelState& s) const {
        return std::bit_cast<std::uint32_t>(loadParameter(s.preGain)) == preGain &&
               std::bit_cast<std::uint32_t>(loadParameter(s.cutOff)) == cutOff &&
               std::bit_cast<std::uint32_t>(loadParameter(s.postGain)) == postGain;
    }
    std::uint32_t preGain, cutOff, postGain;
};

// Frames as L R L R ..., with room for a padded last group of four.
using FramePairs = float[2 * kRunFrames + 8];

struct Run {
    int start = 0;
    int length = 0;
    RunCoefficients k{};
    alignas(32) FramePairs gained;  // inputs times the input gain
    alignas(32) FramePairs band;    // bandwidth filter outputs
    alignas(32) FramePairs shaped;  // clamped, noisy signal into the slew limiter
    alignas(32) FramePairs out;     // DC blocker outputs, to be gained into the host's buffers
};

// Four frames of each channel into (L R L R), (L R L R).
VARKEL_INLINE void loadFours(const float* left, const float* right, __m128& first, __m128& second) {
    const __m128 l = _mm_loadu_ps(left), r = _mm_loadu_ps(right);
    first = _mm_unpacklo_ps(l, r);
    second = _mm_unpackhi_ps(l, r);
}
VARKEL_INLINE void loadFours(const double* left, const double* right, __m128& first, __m128& second) {
    const __m128 l = _mm_movelh_ps(_mm_cvtpd_ps(_mm_loadu_pd(left)), _mm_cvtpd_ps(_mm_loadu_pd(left + 2)));
    const __m128 r = _mm_movelh_ps(_mm_cvtpd_ps(_mm_loadu_pd(right)), _mm_cvtpd_ps(_mm_loadu_pd(right + 2)));
    first = _mm_unpacklo_ps(l, r);
    second = _mm_unpackhi_ps(l, r);
}
// (L R L R), (L R L R) back to four frames of each channel.
VARKEL_INLINE void storeFours(__m128 first, __m128 second, float* left, float* right) {
    _mm_storeu_ps(left, _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(right, _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
}
VARKEL_INLINE void storeFours(__m128 first, __m128 second, double* left, double* right) {
    const __m128 l = _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 r = _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1));
    _mm_storeu_pd(left, _mm_cvtps_pd(l));
    _mm_storeu_pd(left + 2, _mm_cvtps_pd(_mm_movehl_ps(l, l)));
    _mm_storeu_pd(right, _mm_cvtps_pd(r));
    _mm_storeu_pd(right + 2, _mm_cvtps_pd(_mm_movehl_ps(r, r)));
}

struct FrontStates {
    Lanes low, band;
};
struct BackStates {
    Lanes slew, dcIn, dcOut;
};

// Lanes 0, 1 are frame j (left, right), lanes 2, 3 frame j + 1; with one
// frame, lanes 2, 3 carry a copy that is not stored.
VARKEL_INLINE void middlePair(Run& run, int j, bool twoFrames, __m128 deviates) {
    __m128 b = _mm_loadu_ps(run.band + 2 * j);
    if (!twoFrames) b = _mm_movelh_ps(b, b);
    const Lanes v = stage::middle<Lanes>(b, deviates, run.k.deadZone, run.k.deadZoneKnee,
                                         run.k.noiseLevel);
    if (twoFrames)
        _mm_storeu_ps(run.shaped + 2 * j, v.v);
    else
        storePairAt(run.shaped + 2 * j, v.v);
}

// Deviates for two frames (or one), in the chain's draw order: each takes r1
// (drawn again while 0) and then r2. The draws come from one generator state
// in independent steps.
VARKEL_INLINE __m128 pairDeviates(std::uint32_t& rng, const NoiseTables& tables, bool twoFrames) {
    constexpr std::uint32_t a1 = kLcgMultiplier, c1 = kLcgIncrement;
    constexpr std::uint32_t a2 = a1 * a1, c2 = a1 * c1 + c1;
    constexpr std::uint32_t a3 = a2 * a1, c3 = a1 * c2 + c1;
    constexpr std::uint32_t a4 = a3 * a1, c4 = a1 * c3 + c1;
    constexpr std::uint32_t a5 = a4 * a1, c5 = a1 * c4 + c1;
    constexpr std::uint32_t a6 = a5 * a1, c6 = a1 * c5 + c1;
    constexpr std::uint32_t a7 = a6 * a1, c7 = a1 * c6 + c1;
    constexpr std::uint32_t a8 = a7 * a1, c8 = a1 * c7 + c1;
    const std::uint32_t s = rng;
    const int r1[4] = {drawOf(s * a1 + c1), drawOf(s * a3 + c3), drawOf(s * a5 + c5),
                       drawOf(s * a7 + c7)};
    if (!twoFrames || (r1[0] == 0) | (r1[1] == 0) | (r1[2] == 0) | (r1[3] == 0)) [[unlikely]] {
        float z[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int i = 0; i < (twoFrames ? 4 : 2); ++i) z[i] = gaussianDeviate(rng, tables);
        if (!twoFrames) z[2] = z[0], z[3] = z[1];
        return _mm_loadu_ps(z);
    }
    const int r2[4] = {drawOf(s * a2 + c2), drawOf(s * a4 + c4), drawOf(s * a6 + c6),
                       drawOf(s * a8 + c8)};
    rng = s * a8 + c8;
    return _mm_setr_ps(deviateOf(r1[0], r2[0], tables), deviateOf(r1[1], r2[1], tables),
                       deviateOf(r1[2], r2[2], tables), deviateOf(r1[3], r2[3], tables));
}

// The middle on SSE2: two frames at a time, and the last one alone.
struct PairMiddle {
    static constexpr int kFramesPerStep = 2;
    // The middle of frames j onwards of a run; returns how many were done.
    VARKEL_MEMBER_INLINE static int step(Run& run, int j, std::uint32_t& rng,
                                         const NoiseTables& tables) {
        const bool twoFrames = run.length - j >= 2;
        middlePair(run, j, twoFrames, pairDeviates(rng, tables, twoFrames));
        return twoFrames ? 2 : 1;
    }
};

// Middle is the policy that runs the middle stage (PairMiddle, or a wider
// one built for a newer instruction set).
template <class Middle>
class StereoPipeline {
public:
    StereoPipeline(const VarkelState& s, const ChainCoefficients& k)
        : low(pairOf(s.lowState)),
          band(pairOf(s.bandState)),
          slew(pairOf(s.slewPrev)),
          dcIn(pairOf(s.dcPrevIn)),
          dcOut(pairOf(s.dcPrevOut)),
          lowCoefficient(_mm_load_ps(k.quads.lowCoefficient)),
          maxSlew(_mm_load_ps(k.quads.maxSlew)),
          minSlew(_mm_load_ps(k.quads.minSlew)),
          dcPole(_mm_load_ps(k.quads.dcPole)) {}

    void store(VarkelState& s) const {
        storePair(low.v, s.lowState);
        storePair(band.v, s.bandState);
        storePair(slew.v, s.slewPrev);
        storePair(dcIn.v, s.dcPrevIn);
        storePair(dcOut.v, s.dcPrevOut);
    }

    template <typename Sample>
    void process(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                 Sample* const* outputs, int frames, std::uint32_t& rng,
                 const NoiseTables& tables) {
        Run runs[3];
        Run* shaped = &runs[0];  // middle done, back to do
        Run* banded = &runs[1];  // front done, middle to do
        Run* fresh = &runs[2];
        // The first run is short: its front has nothing to overlap.
        int limit = beginRun(*shaped, 0, frames, kFirstRunFrames, inputs, state, k);
        frontAlone(*shaped, limit, state, ParameterBits(k));
        middle(*shaped, rng, tables);
        if (shaped->length >= frames) {
            backAlone(*shaped);
            writeOutputs(*shaped, outputs);
            return;
        }
        limit = beginRun(*banded, shaped->length, frames, kRunFrames, inputs, state, k);
        frontAlone(*banded, limit, state, ParameterBits(k));
        for (;;) {
            const int nextStart = banded->start + banded->length;
            if (nextStart >= frames) {
                backWithMiddle(*shaped, *banded, rng, tables);
                writeOutputs(*shaped, outputs);
                backAlone(*banded);
                writeOutputs(*banded, outputs);
                return;
            }
            limit = beginRun(*fresh, nextStart, frames, kRunFrames, inputs, state, k);
            backMiddleFront(*shaped, *banded, *fresh, limit, state, ParameterBits(k), rng, tables);
            writeOutputs(*shaped, outputs);
            Run* done = shaped;
            shaped = banded;
            banded = fresh;
            fresh = done;
        }
    }

private:
    // Takes the parameters as they stand and gains the run's inputs; returns
    // the most frames the run may take.
    template <typename Sample>
    static int beginRun(Run& run, int start, int frames, int longest, Sample* const* inputs,
                        VarkelState& state, ChainCoefficients& k) {
        k.update(state);
        run.start = start;
        run.length = 0;
        run.k.set(k);
        const int limit = frames - start < longest ? frames - start : longest;
        const Sample* left = inputs[0] + start;
        const Sample* right = inputs[1] + start;
        int j = 0;
        for (; j + 4 <= limit; j += 4) {
            __m128 first, second;
            loadFours(left + j, right + j, first, second);
            _mm_store_ps(run.gained + 2 * j, _mm_mul_ps(first, run.k.gIn));
            _mm_store_ps(run.gained + 2 * j + 4, _mm_mul_ps(second, run.k.gIn));
        }
        for (; j < limit; ++j) {
            const __m128 pair = _mm_unpacklo_ps(_mm_set_ss(static_cast<float>(left[j])),
                                                _mm_set_ss(static_cast<float>(right[j])));
            storePairAt(run.gained + 2 * j, _mm_mul_ps(pair, run.k.gIn));
        }
        return limit;
    }

    VARKEL_MEMBER_INLINE void front(Run& run, int j, FrontStates& f, __m128& sum) const {
        const Lanes b = stage::shelfAndBand<false, Lanes>(loadPair(run.gained + 2 * j), f.low,
                                                          f.band, lowCoefficient,
                                                          run.k.bandCoefficient);
        // Any non-finite b makes the sum non-finite. A sum that overflows
        // from finite values only costs the guarded pass, which then changes
        // nothing.
        sum = _mm_add_ps(sum, b.v);
        storePairAt(run.band + 2 * j, b.v);
    }

    // The front of a whole run again, storing a state that would turn
    // non-finite as 0 so the channel recovers. Kept out of the hot loop, which
    // measured 25% slower with the guard inside it.
    void frontGuarded(Run& run, Lanes lowBefore, Lanes bandBefore) {
        low = lowBefore;
        band = bandBefore;
        for (int j = 0; j < run.length; ++j) {
            const Lanes b = stage::shelfAndBand<true, Lanes>(loadPair(run.gained + 2 * j), low,
                                                             band, lowCoefficient,
                                                             run.k.bandCoefficient);
            storePairAt(run.band + 2 * j, b.v);
        }
    }

    void guardIfNeeded(Run& run, __m128 sum, Lanes lowBefore, Lanes bandBefore) {
        if ((_mm_movemask_ps(_mm_cmpunord_ps(_mm_mul_ps(sum, _mm_setzero_ps()), sum)) & 3) != 0)
            [[unlikely]]
            frontGuarded(run, lowBefore, bandBefore);
    }

    FrontStates frontStates() const { return {low, band}; }
    BackStates backStates() const { return {slew, dcIn, dcOut}; }
    void keep(const FrontStates& f) {
        low = f.low;
        band = f.band;
    }
    void keep(const BackStates& b) {
        slew = b.slew;
        dcIn = b.dcIn;
        dcOut = b.dcOut;
    }

    // The middle of four more frames of a run (fewer at its end), beside
    // four frames of the feedback chains.
    VARKEL_MEMBER_INLINE static void middleOfAPass(Run& run, int& m, std::uint32_t& rng,
                                                   const NoiseTables& tables) {
        for (int s = 0; s < 4 / Middle::kFramesPerStep && m < run.length; ++s)
            m += Middle::step(run, m, rng, tables);
    }

    // A run ends before the first frame where a parameter has changed.
    void frontAlone(Run& run, int limit, VarkelState& state, const ParameterBits& bits) {
        const Lanes lowBefore = low, bandBefore = band;
        FrontStates f = frontStates();
        __m128 sum = _mm_setzero_ps();
        int j = 0;
        while (j < limit && (j == 0 || bits.stillHold(state))) front(run, j++, f, sum);
        run.length = j;
        keep(f);
        guardIfNeeded(run, sum, lowBefore, bandBefore);
    }

    static void middle(Run& run, std::uint32_t& rng, const NoiseTables& tables) {
        for (int j = 0; j < run.length;) j += Middle::step(run, j, rng, tables);
    }

    VARKEL_MEMBER_INLINE void back(Run& run, int j, BackStates& b) const {
        // The output gain is left to writeOutputs, four frames at a time.
        const Lanes v = loadPair(run.shaped + 2 * j);
        const Lanes y = stage::dcBlock<Lanes>(stage::slewLimit<Lanes>(v, b.slew, maxSlew, minSlew),
                                              b.dcIn, b.dcOut, dcPole);
        storePairAt(run.out + 2 * j, y.v);
    }

    // The back of one run with the middle of the next, at the end of a block.
    void backWithMiddle(Run& shaped, Run& banded, std::uint32_t& rng, const NoiseTables& tables) {
        BackStates b = backStates();
        int m = 0;
        for (int j = 0; j < shaped.length; ++j) {
            back(shaped, j, b);
            if (j % 4 == 3) middleOfAPass(banded, m, rng, tables);
        }
        while (m < banded.length) m += Middle::step(banded, m, rng, tables);
        keep(b);
    }

    void backAlone(Run& run) {
        BackStates b = backStates();
        for (int j = 0; j < run.length; ++j) back(run, j, b);
        keep(b);
    }

    // The back of one run, the middle of the next and the front of the one
    // after, four frames to a pass. The parameters are read once a pass: a
    // host's write from another thread is taken up at most three frames
    // later than a read at every frame would, a difference no host can order
    // or observe.
    void backMiddleFront(Run& shaped, Run& banded, Run& fresh, int limit, VarkelState& state,
                         const ParameterBits& bits, std::uint32_t& rng,
                         const NoiseTables& tables) {
        const Lanes lowBefore = low, bandBefore = band;
        // The states as locals: as members, every store to a run's buffers
        // might change them, and they went through memory at every frame.
        FrontStates f = frontStates();
        BackStates b = backStates();
        __m128 sum = _mm_setzero_ps();
        const int both = shaped.length < limit ? shaped.length : limit;
        bool frontOpen = true;
        int j = 0, m = 0;
        for (; j + 4 <= both; j += 4) {
            if (j > 0 && !bits.stillHold(state)) {
                frontOpen = false;
                break;
            }
            back(shaped, j, b);
            front(fresh, j, f, sum);
            back(shaped, j + 1, b);
            front(fresh, j + 1, f, sum);
            back(shaped, j + 2, b);
            front(fresh, j + 2, f, sum);
            back(shaped, j + 3, b);
            front(fresh, j + 3, f, sum);
            middleOfAPass(banded, m, rng, tables);
        }
        int frontFrames = j;
        while (m < banded.length) m += Middle::step(banded, m, rng, tables);
        for (; j < shaped.length; ++j) back(shaped, j, b);
        if (frontOpen)
            while (frontFrames < limit && (frontFrames == 0 || bits.stillHold(state)))
                front(fresh, frontFrames++, f, sum);
        fresh.length = frontFrames;
        keep(f);
        keep(b);
        guardIfNeeded(fresh, sum, lowBefore, bandBefore);
    }

    // The pairs are read as they were stored, eight bytes at a time: a wider
    // load of pairs still on their way to the cache waits for them to land.
    template <typename Sample>
    static void writeOutputs(const Run& run, Sample* const* outputs) {
        Sample* left = outputs[0] + run.start;
        Sample* right = outputs[1] + run.start;
        const float* out = run.out;
        int j = 0;
        const __m128 gain = run.k.gOut;
        for (; j + 4 <= run.length; j += 4)
            storeFours(
                _mm_mul_ps(_mm_movelh_ps(loadPair(out + 2 * j), loadPair(out + 2 * j + 2)), gain),
                _mm_mul_ps(_mm_movelh_ps(loadPair(out + 2 * j + 4), loadPair(out + 2 * j + 6)), gain),
                left + j, right + j);
        for (; j < run.length; ++j) {
            const __m128 pair = _mm_mul_ps(loadPair(out + 2 * j), gain);
            left[j] = static_cast<Sample>(_mm_cvtss_f32(pair));
            right[j] = static_cast<Sample>(_mm_cvtss_f32(_mm_shuffle_ps(pair, pair, 1)));
        }
    }

    Lanes low, band, slew, dcIn, dcOut;
    const Lanes lowCoefficient, maxSlew, minSlew, dcPole;
};

}  // namespace varkel::sse

#endif
