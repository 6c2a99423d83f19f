// Built for AVX2. Every inline helper it shares with the SSE2 code is forced
// inline (always_inline.h) and its own code has internal linkage, so the
// object defines nothing but the two entry points, which a test checks:
// otherwise the linker could keep an AVX2 body of a shared helper for every
// caller.
#include <immintrin.h>

#include "dsp/random_source.h"
#include "dsp/stereo_pipeline_avx2.h"
#include "dsp/stereo_pipeline_sse.h"

namespace varkel {
namespace {

struct Lanes8 {
    __m256 v;
    Lanes8(__m256 value) : v(value) {}  // NOLINT(google-explicit-constructor)
    explicit Lanes8(float value) : v(_mm256_set1_ps(value)) {}
};
struct LaneMask8 {
    __m256 bits;
};

__m256 signBits8() { return _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(0x80000000u))); }
Lanes8 operator+(Lanes8 a, Lanes8 b) { return _mm256_add_ps(a.v, b.v); }
Lanes8 operator-(Lanes8 a, Lanes8 b) { return _mm256_sub_ps(a.v, b.v); }
Lanes8 operator*(Lanes8 a, Lanes8 b) { return _mm256_mul_ps(a.v, b.v); }
Lanes8 operator/(Lanes8 a, Lanes8 b) { return _mm256_div_ps(a.v, b.v); }
Lanes8 operator-(Lanes8 a) { return _mm256_xor_ps(a.v, signBits8()); }
Lanes8 absOf(Lanes8 a) { return _mm256_andnot_ps(signBits8(), a.v); }
LaneMask8 isNegative(Lanes8 a) { return {_mm256_cmp_ps(a.v, _mm256_setzero_ps(), _CMP_LT_OQ)}; }
Lanes8 select(LaneMask8 mask, Lanes8 ifTrue, Lanes8 ifFalse) {
    return _mm256_blendv_ps(ifFalse.v, ifTrue.v, mask.bits);
}
bool anyOf(LaneMask8 mask) { return _mm256_movemask_ps(mask.bits) != 0; }
Lanes8 negateWhere(LaneMask8 mask, Lanes8 a) {
    return _mm256_xor_ps(a.v, _mm256_and_ps(mask.bits, signBits8()));
}
// minps and maxps return the second operand when either is a NaN, as the
// float lane's a < b ? a : b does.
Lanes8 lesserOf(Lanes8 a, Lanes8 b) { return _mm256_min_ps(a.v, b.v); }
Lanes8 greaterOf(Lanes8 a, Lanes8 b) { return _mm256_max_ps(a.v, b.v); }

// Generator steps 1..16 from one state: s * a^k + c_k.
struct Steps {
    std::uint32_t multiplier[17], increment[17];
    constexpr Steps() : multiplier{1}, increment{0} {
        for (int i = 1; i <= 16; ++i) {
            multiplier[i] = multiplier[i - 1] * kLcgMultiplier;
            increment[i] = increment[i - 1] * kLcgMultiplier + kLcgIncrement;
        }
    }
};
constexpr Steps kSteps;

// Steps first, first + 2, ..., first + 14 of the generator, as constants (a
// table filled at every call cost a fifth of the fuzzer's time).
struct EveryOtherStep {
    alignas(32) std::uint32_t multiplier[8], increment[8];
};
constexpr EveryOtherStep everyOtherStepFrom(int first) {
    EveryOtherStep steps{};
    for (int i = 0; i < 8; ++i) {
        steps.multiplier[i] = kSteps.multiplier[first + 2 * i];
        steps.increment[i] = kSteps.increment[first + 2 * i];
    }
    return steps;
}
constexpr EveryOtherStep kOddSteps = everyOtherStepFrom(1), kEvenSteps = everyOtherStepFrom(2);

__m256i advance(__m256i state, const EveryOtherStep& steps) {
    return _mm256_add_epi32(
        _mm256_mullo_epi32(state, _mm256_load_si256(reinterpret_cast<const __m256i*>(steps.multiplier))),
        _mm256_load_si256(reinterpret_cast<const __m256i*>(steps.increment)));
}

__m256i drawsOf(__m256i states) {
    return _mm256_and_si256(_mm256_srli_epi32(states, 16), _mm256_set1_epi32(0x7FFF));
}

__m256 broadcast(__m128 lanes) { return _mm256_set_m128(lanes, lanes); }

// The middle four frames at a time: eight deviates, each from its pair of
// draws (r1 from the odd steps, r2 from the even ones). A group where a first
// draw comes out 0 (to be drawn again) goes two frames at a time instead.
struct QuadMiddle {
    static constexpr int kFramesPerStep = 4;
    VARKEL_MEMBER_INLINE static int step(sse::Run& run, int j, std::uint32_t& rng,
                                         const NoiseTables& tables) {
        if (run.length - j < 4) return sse::PairMiddle::step(run, j, rng, tables);
        const __m256i state = _mm256_set1_epi32(static_cast<int>(rng));
        const __m256i r1 = drawsOf(advance(state, kOddSteps));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(r1, _mm256_setzero_si256())) != 0) [[unlikely]]
            return sse::PairMiddle::step(run, j, rng, tables);
        const __m256i r2 = drawsOf(advance(state, kEvenSteps));
        rng = rng * kSteps.multiplier[16] + kSteps.increment[16];
        // The masked gathers, as the plain ones leave GCC seeing an
        // uninitialised source.
        const __m256 all = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
        const __m256d allWide = _mm256_castsi256_pd(_mm256_set1_epi32(-1));
        const __m256 cosine =
            _mm256_mask_i32gather_ps(_mm256_setzero_ps(), tables.cosine, r2, all, 4);
        const __m256d radiusLow = _mm256_mask_i32gather_pd(
            _mm256_setzero_pd(), tables.radius, _mm256_castsi256_si128(r1), allWide, 8);
        const __m256d radiusHigh = _mm256_mask_i32gather_pd(
            _mm256_setzero_pd(), tables.radius, _mm256_extracti128_si256(r1, 1), allWide, 8);
        const __m128 low = _mm256_cvtpd_ps(
            _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(cosine)), radiusLow));  // double
        const __m128 high = _mm256_cvtpd_ps(
            _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(cosine, 1)), radiusHigh));
        const Lanes8 v = stage::middle<Lanes8>(
            _mm256_loadu_ps(run.band + 2 * j), _mm256_set_m128(high, low),
            broadcast(run.k.deadZone), broadcast(run.k.deadZoneKnee), broadcast(run.k.noiseLevel));
        _mm256_storeu_ps(run.shaped + 2 * j, v.v);
        return 4;
    }
};

template <typename Sample>
void processWith(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                 Sample* const* outputs, int frames, std::uint32_t& rng,
                 const NoiseTables& tables) {
    sse::StereoPipeline<QuadMiddle> pipeline(state, k);
    pipeline.process(state, k, inputs, outputs, frames, rng, tables);
    pipeline.store(state);
}

}  // namespace

void processStereoPipelineAvx2(VarkelState& state, ChainCoefficients& k, float* const* inputs,
                               float* const* outputs, int frames, std::uint32_t& rng,
                               const NoiseTables& tables) {
    processWith(state, k, inputs, outputs, frames, rng, tables);
}

void processStereoPipelineAvx2(VarkelState& state, ChainCoefficients& k, double* const* inputs,
                               double* const* outputs, int frames, std::uint32_t& rng,
                               const NoiseTables& tables) {
    processWith(state, k, inputs, outputs, frames, rng, tables);
}

}  // namespace varkel
