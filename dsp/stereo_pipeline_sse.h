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
// The stages are those of the scalar chain (chain_stages.h) on SSE lanes, and
// the random draws are taken in the chain's order: left then right, frame by
// frame. The output is bit-identical to running processSample on the left,
// then the right.
//
// Parameters are read at every frame; a run ends where one changes, so each
// run has one set of coefficients.
#pragma once

#include "dsp/sse_lanes.h"

#if VARKEL_HAVE_SSE2_LANES
#define VARKEL_HAVE_SSE2_PIPELINE 1

#include <cstdint>

#include "dsp/chain_stages.h"
#include "dsp/op_amp_chain.h"

namespace varkel::sse {

inline __m128 pairOf(const float (&v)[2]) { return _mm_setr_ps(v[0], v[1], 0.0f, 0.0f); }

inline void storePair(__m128 p, float (&v)[2]) {
    v[0] = _mm_cvtss_f32(p);
    v[1] = _mm_cvtss_f32(_mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1)));
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

    template <typename Sample>
    static Lanes inputFrame(const Run& run, Sample* const* inputs, int j) {
        return _mm_setr_ps(static_cast<float>(inputs[0][run.start + j]),
                           static_cast<float>(inputs[1][run.start + j]), 0.0f, 0.0f);
    }

    // One front frame; false (and nothing done) when a parameter changed,
    // which ends the run before this frame.
    template <typename Sample>
    bool front(Run& run, Sample* const* inputs, VarkelState& state, ChainCoefficients& k,
               __m128& notFinite) {
        const int j = run.length;
        if (j > 0 && k.update(state)) return false;
        const Lanes b = stage::front<false, Lanes>(inputFrame(run, inputs, j), low, band, run.k.gIn,
                                                   lowCoefficient, run.k.bandCoefficient);
        // A non-finite low state always makes b non-finite too, so b alone tells.
        notFinite = _mm_add_ps(notFinite, _mm_mul_ps(b.v, _mm_setzero_ps()));
        _mm_storel_pi(reinterpret_cast<__m64*>(run.band + 2 * j), b.v);
        run.length = j + 1;
        return true;
    }

    // The front of a whole run again, storing a state that would turn
    // non-finite as 0 so the channel recovers. Kept out of the hot loop, which
    // measured 25% slower with the guard inside it.
    template <typename Sample>
    void frontGuarded(Run& run, Sample* const* inputs, Lanes lowBefore, Lanes bandBefore) {
        low = lowBefore;
        band = bandBefore;
        for (int j = 0; j < run.length; ++j) {
            const Lanes b =
                stage::front<true, Lanes>(inputFrame(run, inputs, j), low, band, run.k.gIn,
                                          lowCoefficient, run.k.bandCoefficient);
            _mm_storel_pi(reinterpret_cast<__m64*>(run.band + 2 * j), b.v);
        }
    }

    void guardIfNeeded(Run& run, __m128 notFinite, Lanes lowBefore, Lanes bandBefore, auto inputs) {
        if ((_mm_movemask_ps(_mm_cmpunord_ps(notFinite, notFinite)) & 3) != 0) [[unlikely]]
            frontGuarded(run, inputs, lowBefore, bandBefore);
    }

    template <typename Sample>
    void frontAlone(Run& run, Sample* const* inputs, int frames, VarkelState& state,
                    ChainCoefficients& k) {
        const Lanes lowBefore = low, bandBefore = band;
        __m128 notFinite = _mm_setzero_ps();
        const int limit = frames - run.start < kRunFrames ? frames - run.start : kRunFrames;
        while (run.length < limit && front(run, inputs, state, k, notFinite)) {
        }
        guardIfNeeded(run, notFinite, lowBefore, bandBefore, inputs);
    }

    // Two frames at a time: lanes 0, 1 are frame j (left, right), lanes 2, 3
    // frame j + 1.
    void middle(Run& run, std::uint32_t& rng, const NoiseTables& tables) const {
        if (run.length % 2 != 0) {
            run.band[2 * run.length] = 0.0f;
            run.band[2 * run.length + 1] = 0.0f;
        }
        for (int j = 0; j < run.length; j += 2) {
            const Lanes v = stage::middle<Lanes>(
                _mm_load_ps(run.band + 2 * j), noise(rng, tables, run.length - j >= 2),
                run.k.deadZone, run.k.deadZoneKnee, run.k.noiseLevel);
            _mm_store_ps(run.shaped + 2 * j, v.v);
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
        return _mm_setr_ps(deviateOf(r1[0], r2[0], tables), deviateOf(r1[1], r2[1], tables),
                           deviateOf(r1[2], r2[2], tables), deviateOf(r1[3], r2[3], tables));
    }

    template <typename Sample>
    void back(const Run& run, int j, Sample* const* outputs) {
        const Lanes v =
            _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(run.shaped + 2 * j)));
        const Lanes out =
            stage::back<Lanes>(v, slew, dcIn, dcOut, maxSlew, minSlew, dcPole, run.k.gOut);
        outputs[0][run.start + j] = static_cast<Sample>(_mm_cvtss_f32(out.v));
        outputs[1][run.start + j] = static_cast<Sample>(
            _mm_cvtss_f32(_mm_shuffle_ps(out.v, out.v, _MM_SHUFFLE(1, 1, 1, 1))));
    }

    template <typename Sample>
    void backAlone(const Run& run, Sample* const* outputs) {
        for (int j = 0; j < run.length; ++j) back(run, j, outputs);
    }

    // The back of the current run and the front of the next, frame by frame.
    template <typename Sample>
    void backWithFront(const Run& current, Run& next, Sample* const* inputs, Sample* const* outputs,
                       int frames, VarkelState& state, ChainCoefficients& k) {
        const Lanes lowBefore = low, bandBefore = band;
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

    Lanes low, band, slew, dcIn, dcOut;
    const Lanes lowCoefficient, maxSlew, minSlew, dcPole;
};

}  // namespace varkel::sse

#endif
