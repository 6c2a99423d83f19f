// The stereo chain over runs of frames, one channel per SSE lane, in three
// stages so that the out-of-order core is never held up by one long chain:
//
//   front   gain, low shelf and bandwidth filter (feedback: low, band)
//   middle  soft clipper, dead zone, rail clamp and noise: no state, so two
//           frames go through at once, four lanes wide
//   back    slew limiter, DC blocker and output gain (feedback: slew, DC)
//
// The front of the next run goes through the same loop as the back of the
// current one, so their two short feedback chains overlap.
//
// Every lane operation is the IEEE single (or double) operation of the scalar
// chain, the conditional steps become exact selects (minps/maxps keep the
// comparisons' order, so a NaN still goes to the rail), and the random draws
// are taken in the chain's order: left then right, frame by frame. The output
// is bit-identical to running processSample on the left, then the right.
//
// Parameters are read at every frame; a run ends where one changes, so each
// run has one set of coefficients.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#define VARKEL_HAVE_SSE2_PIPELINE 1

#include <emmintrin.h>

#include <cfloat>
#include <cstdint>

#include "dsp/op_amp_chain.h"

namespace varkel::sse {

inline __m128 pairOf(const float (&v)[2]) { return _mm_setr_ps(v[0], v[1], 0.0f, 0.0f); }

inline void storePair(__m128 p, float (&v)[2]) {
    v[0] = _mm_cvtss_f32(p);
    v[1] = _mm_cvtss_f32(_mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1)));
}

inline __m128 absMask() { return _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)); }
inline __m128 signMask() { return _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u))); }

inline __m128 select(__m128 mask, __m128 ifTrue, __m128 ifFalse) {
    return _mm_or_ps(_mm_and_ps(mask, ifTrue), _mm_andnot_ps(mask, ifFalse));
}

// Coefficients of one run, broadcast to all lanes.
struct RunCoefficients {
    void set(const ChainCoefficients& k) {
        gIn = _mm_set1_ps(k.gIn);
        gOut = _mm_set1_ps(k.gOut);
        bandCoefficient = _mm_set1_ps(k.bandCoefficient);
        deadZone = _mm_set1_ps(k.deadZone);
        deadZoneKnee = _mm_set1_ps(k.deadZoneKnee);
        noiseLevel = _mm_set1_ps(k.noiseLevel);
    }
    __m128 gIn, gOut, bandCoefficient, deadZone, deadZoneKnee, noiseLevel;
};

inline constexpr int kRunFrames = 16;

struct Run {
    int start = 0;
    int length = 0;
    RunCoefficients k{};
    alignas(16) float band[2 * kRunFrames + 2];    // bandwidth filter outputs, L R L R ...
    alignas(16) float shaped[2 * kRunFrames + 2];  // clamped, noisy signal into the slew limiter
};

class StereoPipeline {
public:
    StereoPipeline(const VarkelState& s, const ChainCoefficients& k)
        : low(pairOf(s.lowState)),
          band(pairOf(s.bandState)),
          slew(pairOf(s.slewPrev)),
          dcIn(pairOf(s.dcPrevIn)),
          dcOut(pairOf(s.dcPrevOut)),
          lowCoefficient(_mm_set1_ps(k.lowCoefficient)),
          maxSlew(_mm_set1_ps(k.maxSlew)),
          minSlew(_mm_set1_ps(-k.maxSlew)),
          dcPole(_mm_set1_ps(k.dcPole)) {}

    void store(VarkelState& s) const {
        storePair(low, s.lowState);
        storePair(band, s.bandState);
        storePair(slew, s.slewPrev);
        storePair(dcIn, s.dcPrevIn);
        storePair(dcOut, s.dcPrevOut);
    }

    template <typename Sample>
    void process(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                 Sample* const* outputs, int frames, std::uint32_t& rng,
                 const NoiseTables& tables) {
        Run runs[2];
        Run* current = &runs[0];
        Run* next = &runs[1];
        beginRun(*current, 0, state, k);
        frontAlone(*current, inputs, frames, state, k);
        for (;;) {
            middle(*current, rng, tables);
            const int nextStart = current->start + current->length;
            if (nextStart >= frames) {
                backAlone(*current, outputs);
                break;
            }
            beginRun(*next, nextStart, state, k);
            backWithFront(*current, *next, inputs, outputs, frames, state, k);
            std::swap(current, next);
        }
    }

private:
    static void beginRun(Run& run, int start, VarkelState& state, ChainCoefficients& k) {
        k.update(state);
        run.start = start;
        run.length = 0;
        run.k.set(k);
    }

    // One front frame; false (and nothing done) when a parameter changed,
    // which ends the run before this frame.
    template <typename Sample>
    bool front(Run& run, Sample* const* inputs, VarkelState& state, ChainCoefficients& k,
               __m128& notFinite) {
        const int j = run.length;
        if (j > 0 && k.update(state)) return false;
        const __m128 x = _mm_setr_ps(static_cast<float>(inputs[0][run.start + j]),
                                     static_cast<float>(inputs[1][run.start + j]), 0.0f, 0.0f);
        const __m128 a = _mm_mul_ps(x, run.k.gIn);
        const __m128 l = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(a, low), lowCoefficient), low);
        low = l;
        const __m128 s = _mm_add_ps(a, l);
        const __m128 b = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(s, band), run.k.bandCoefficient), band);
        band = b;
        // A non-finite l always makes b non-finite too, so b alone tells.
        notFinite = _mm_add_ps(notFinite, _mm_mul_ps(b, _mm_setzero_ps()));
        _mm_storel_pi(reinterpret_cast<__m64*>(run.band + 2 * j), b);
        run.length = j + 1;
        return true;
    }

    // The front of a whole run again, storing a state that would turn
    // non-finite as 0 so the channel recovers. It repeats front() rather than
    // sharing a frame function with it: shared, the hot loop measured 25%
    // slower (register allocation of the fused back/front loop).
    template <typename Sample>
    void frontGuarded(Run& run, Sample* const* inputs, __m128 lowBefore, __m128 bandBefore) {
        const __m128 finiteMax = _mm_set1_ps(FLT_MAX);
        low = lowBefore;
        band = bandBefore;
        for (int j = 0; j < run.length; ++j) {
            const __m128 x = _mm_setr_ps(static_cast<float>(inputs[0][run.start + j]),
                                         static_cast<float>(inputs[1][run.start + j]), 0.0f, 0.0f);
            const __m128 a = _mm_mul_ps(x, run.k.gIn);
            const __m128 l = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(a, low), lowCoefficient), low);
            low = _mm_and_ps(l, _mm_cmple_ps(_mm_and_ps(l, absMask()), finiteMax));
            const __m128 s = _mm_add_ps(a, l);
            const __m128 b =
                _mm_add_ps(_mm_mul_ps(_mm_sub_ps(s, band), run.k.bandCoefficient), band);
            band = _mm_and_ps(b, _mm_cmple_ps(_mm_and_ps(b, absMask()), finiteMax));
            _mm_storel_pi(reinterpret_cast<__m64*>(run.band + 2 * j), b);
        }
    }

    void guardIfNeeded(Run& run, __m128 notFinite, __m128 lowBefore, __m128 bandBefore,
                       auto inputs) {
        if ((_mm_movemask_ps(_mm_cmpunord_ps(notFinite, notFinite)) & 3) != 0) [[unlikely]]
            frontGuarded(run, inputs, lowBefore, bandBefore);
    }

    template <typename Sample>
    void frontAlone(Run& run, Sample* const* inputs, int frames, VarkelState& state,
                    ChainCoefficients& k) {
        const __m128 lowBefore = low, bandBefore = band;
        __m128 notFinite = _mm_setzero_ps();
        const int limit = frames - run.start < kRunFrames ? frames - run.start : kRunFrames;
        while (run.length < limit && front(run, inputs, state, k, notFinite)) {
        }
        guardIfNeeded(run, notFinite, lowBefore, bandBefore, inputs);
    }

    // Two frames at a time: lanes 0, 1 are frame j (left, right), lanes 2, 3
    // frame j + 1.
    void middle(Run& run, std::uint32_t& rng, const NoiseTables& tables) const {
        const __m128 zero = _mm_setzero_ps();
        const __m128 rail = _mm_set1_ps(kRail), negativeRail = _mm_set1_ps(-kRail);
        if (run.length % 2 != 0) {
            run.band[2 * run.length] = 0.0f;
            run.band[2 * run.length + 1] = 0.0f;
        }
        for (int j = 0; j < run.length; j += 2) {
            const int usedLanes = run.length - j >= 2 ? 0xF : 0x3;
            const __m128 b = _mm_load_ps(run.band + 2 * j);

            // Inverting soft clipper: -b(105 + 10b^2) / (105 + 45b^2 + b^4).
            const __m128 b2 = _mm_mul_ps(b, b);
            const __m128 b3 = _mm_mul_ps(b2, b);
            const __m128 n =
                _mm_add_ps(_mm_mul_ps(_mm_set1_ps(10.0f), b3), _mm_mul_ps(b, _mm_set1_ps(105.0f)));
            const __m128 d =
                _mm_add_ps(_mm_mul_ps(b, b3),
                           _mm_add_ps(_mm_mul_ps(b2, _mm_set1_ps(45.0f)), _mm_set1_ps(105.0f)));
            const __m128 c = _mm_div_ps(_mm_xor_ps(n, signMask()), d);

            // Dead zone; the knee only near silence or a zero crossing.
            const __m128 e = _mm_sub_ps(_mm_and_ps(c, absMask()), run.k.deadZone);
            const __m128 inside = _mm_cmplt_ps(e, zero);
            __m128 w = e;
            if ((_mm_movemask_ps(inside) & usedLanes) != 0) {
                const __m128 knee =
                    _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(0.4f), e),
                               _mm_add_ps(_mm_div_ps(e, run.k.deadZoneKnee), _mm_set1_ps(1.0f)));
                w = select(inside, knee, e);
            }
            w = _mm_xor_ps(w, _mm_and_ps(_mm_cmplt_ps(c, zero), signMask()));

            w = _mm_min_ps(w, rail);          // w < rail ? w : rail
            w = _mm_max_ps(w, negativeRail);  // w > -rail ? w : -rail

            const __m128 v =
                _mm_add_ps(_mm_mul_ps(noise(rng, tables, usedLanes == 0xF), run.k.noiseLevel), w);
            _mm_store_ps(run.shaped + 2 * j, v);
        }
    }

    // Deviates for two frames (or one), in the chain's draw order: each takes
    // r1 (drawn again while 0) and then r2. The draws come from one generator
    // state in independent steps.
    static __m128 noise(std::uint32_t& rng, const NoiseTables& tables, bool twoFrames) {
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
            return _mm_loadu_ps(z);
        }
        const int r2[4] = {drawOf(s * a2 + c2), drawOf(s * a4 + c4), drawOf(s * a6 + c6),
                           drawOf(s * a8 + c8)};
        rng = s * a8 + c8;
        const __m128 cosine = _mm_setr_ps(tables.cosine[r2[0]], tables.cosine[r2[1]],
                                          tables.cosine[r2[2]], tables.cosine[r2[3]]);
        const __m128d low2 = _mm_mul_pd(_mm_cvtps_pd(cosine),
                                        _mm_setr_pd(tables.radius[r1[0]], tables.radius[r1[1]]));
        const __m128d high2 = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(cosine, cosine)),
                                         _mm_setr_pd(tables.radius[r1[2]], tables.radius[r1[3]]));
        return _mm_movelh_ps(_mm_cvtpd_ps(low2), _mm_cvtpd_ps(high2));  // double products, rounded
    }

    template <typename Sample>
    void back(const Run& run, int j, Sample* const* outputs) {
        const __m128 v =
            _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(run.shaped + 2 * j)));
        // Clamping the step to +-maxSlew gives the limiter's result bit for
        // bit: slew + (-maxSlew) is slew - maxSlew, and minps hands a NaN step
        // on as +maxSlew, as the comparisons do.
        const __m128 delta = _mm_sub_ps(v, slew);
        const __m128 o = _mm_add_ps(slew, _mm_max_ps(_mm_min_ps(delta, maxSlew), minSlew));
        slew = o;
        const __m128 y = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(dcPole, dcOut), dcIn), o);
        dcIn = o;
        dcOut = y;
        const __m128 out = _mm_mul_ps(y, run.k.gOut);
        outputs[0][run.start + j] = static_cast<Sample>(_mm_cvtss_f32(out));
        outputs[1][run.start + j] =
            static_cast<Sample>(_mm_cvtss_f32(_mm_shuffle_ps(out, out, _MM_SHUFFLE(1, 1, 1, 1))));
    }

    template <typename Sample>
    void backAlone(const Run& run, Sample* const* outputs) {
        for (int j = 0; j < run.length; ++j) back(run, j, outputs);
    }

    // The back of the current run and the front of the next, frame by frame.
    template <typename Sample>
    void backWithFront(const Run& current, Run& next, Sample* const* inputs, Sample* const* outputs,
                       int frames, VarkelState& state, ChainCoefficients& k) {
        const __m128 lowBefore = low, bandBefore = band;
        __m128 notFinite = _mm_setzero_ps();
        const int limit = frames - next.start < kRunFrames ? frames - next.start : kRunFrames;
        bool frontOpen = true;
        int j = 0;
        for (; j < current.length; ++j) {
            back(current, j, outputs);
            if (frontOpen)
                frontOpen = next.length < limit && front(next, inputs, state, k, notFinite);
        }
        while (frontOpen && next.length < limit && front(next, inputs, state, k, notFinite)) {
        }
        guardIfNeeded(next, notFinite, lowBefore, bandBefore, inputs);
    }

    __m128 low, band, slew, dcIn, dcOut;
    const __m128 lowCoefficient, maxSlew, minSlew, dcPole;
};

}  // namespace varkel::sse

#endif
