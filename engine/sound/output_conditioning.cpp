#include "engine/sound/output_conditioning.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varkel::engine {

namespace {

// A grid of a power of two: dividing by its step is multiplying by the
// inverse, exactly. At most 24 bits, so that any magnitude of 2^23 steps
// or more clips.
bool isIntegerGrid(double step) {
    int exponent = 0;
    return step >= 0x1p-23 && std::frexp(step, &exponent) == 0.5;
}

#if defined(__SSE2__)
// Four float samples' steps on an output's grid, clipped to its range, 0
// where not finite. Rounds to nearest, half to even, as std::nearbyint does
// under the default rounding mode: adding 2^23 to a float of a smaller
// magnitude leaves no bits below the point. A larger magnitude may come out
// wrong, but clips all the same.
class GridSteps {
public:
    explicit GridSteps(double step)
        : scale(_mm_set1_ps(static_cast<float>(1.0 / step))),
          // The steps an output of this many bits holds: from -scale to scale - 1.
          highest(_mm_sub_ps(scale, _mm_set1_ps(1.0f))),
          lowest(_mm_sub_ps(_mm_setzero_ps(), scale)) {}

    __m128i operator()(const float* samples) const {
        const __m128 signBit = _mm_set1_ps(-0.0f);
        const __m128 four = _mm_loadu_ps(samples);
        // Scaled by a power of two, a float keeps its bits, or overflows.
        const __m128 scaled = _mm_mul_ps(four, scale);
        const __m128 sign = _mm_and_ps(signBit, scaled);
        const __m128 shifter = _mm_or_ps(_mm_set1_ps(0x1p23f), sign);
        const __m128 rounded = _mm_sub_ps(_mm_add_ps(scaled, shifter), shifter);
        const __m128 clipped = _mm_min_ps(_mm_max_ps(rounded, lowest), highest);
        const __m128i magnitude = _mm_castps_si128(_mm_andnot_ps(signBit, four));
        const __m128i infinity = _mm_set1_epi32(0x7f800000);
        const __m128 finite = _mm_castsi128_ps(_mm_cmplt_epi32(magnitude, infinity));
        return _mm_cvttps_epi32(_mm_and_ps(finite, clipped));
    }

private:
    __m128 scale;
    __m128 highest;
    __m128 lowest;
};

// The shift that puts an output's bits at the top of an integer of `width` bits.
__m128i shiftToTop(double step, int width) {
    return _mm_cvtsi32_si128(width - 1 - std::ilogb(1.0 / step));
}
#endif

}  // namespace

bool OutputConditioning::convertsToIntegers() const {
    return integer && dither == nullptr && isIntegerGrid(step);
}

void OutputConditioning::toIntegers(const float* samples, std::int32_t* integers,
                                    std::size_t n) const {
    std::size_t done = 0;
#if defined(__SSE2__)
    const GridSteps steps(step);
    const __m128i shift = shiftToTop(step, 32);
    for (; done + 4 <= n; done += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(integers + done),
                         _mm_sll_epi32(steps(samples + done), shift));
#endif
    for (; done < n; ++done) integers[done] = integerOf(samples[done]);
}

void OutputConditioning::toIntegers(const float* samples, std::int16_t* integers,
                                    std::size_t n) const {
    std::size_t done = 0;
#if defined(__SSE2__)
    const GridSteps steps(step);
    const __m128i shift = shiftToTop(step, 16);
    // The steps fit 16 bits, so packing them does not saturate.
    for (; done + 8 <= n; done += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(integers + done),
                         _mm_sll_epi16(_mm_packs_epi32(steps(samples + done),
                                                       steps(samples + done + 4)),
                                       shift));
#endif
    for (; done < n; ++done) integers[done] = shortOf(samples[done]);
}

// Double samples are rendered far less often: one at a time.
void OutputConditioning::toIntegers(const double* samples, std::int32_t* integers,
                                    std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) integers[i] = integerOf(samples[i]);
}

void OutputConditioning::toIntegers(const double* samples, std::int16_t* integers,
                                    std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) integers[i] = shortOf(samples[i]);
}

}  // namespace varkel::engine
