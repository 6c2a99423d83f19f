#include "engine/output_conditioning.h"

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

}  // namespace

bool OutputConditioning::convertsToIntegers() const {
    return integer && dither == nullptr && isIntegerGrid(step);
}

void OutputConditioning::toIntegers(const float* samples, std::int32_t* integers,
                                    std::size_t n) const {
    std::size_t done = 0;
#if defined(__SSE2__)
    if (convertsToIntegers()) {
        const __m128 scale = _mm_set1_ps(static_cast<float>(1.0 / step));
        // The steps an output of this many bits holds: from -scale to scale - 1.
        const __m128 highest = _mm_sub_ps(scale, _mm_set1_ps(1.0f));
        const __m128 lowest = _mm_sub_ps(_mm_setzero_ps(), scale);
        const __m128 signBit = _mm_set1_ps(-0.0f);
        const __m128 noFraction = _mm_set1_ps(0x1p23f);
        const __m128i infinity = _mm_set1_epi32(0x7f800000);
        const __m128i shift = _mm_cvtsi32_si128(31 - std::ilogb(1.0 / step));
        // Rounds to nearest, half to even, as std::nearbyint does under the
        // default rounding mode: adding 2^23 to a float of a smaller
        // magnitude leaves no bits below the point. A larger magnitude may
        // come out wrong, but clips all the same; non-finite samples become
        // silence.
        for (; done + 4 <= n; done += 4) {
            const __m128 four = _mm_loadu_ps(samples + done);
            // Scaled by a power of two, a float keeps its bits, or overflows.
            const __m128 scaled = _mm_mul_ps(four, scale);
            const __m128 sign = _mm_and_ps(signBit, scaled);
            const __m128 shifter = _mm_or_ps(noFraction, sign);
            const __m128 rounded = _mm_sub_ps(_mm_add_ps(scaled, shifter), shifter);
            const __m128 clipped = _mm_min_ps(_mm_max_ps(rounded, lowest), highest);
            const __m128i magnitude = _mm_castps_si128(_mm_andnot_ps(signBit, four));
            const __m128 finite = _mm_castsi128_ps(_mm_cmplt_epi32(magnitude, infinity));
            const __m128i whole = _mm_cvttps_epi32(_mm_and_ps(finite, clipped));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(integers + done), _mm_sll_epi32(whole, shift));
        }
    }
#endif
    for (; done < n; ++done) integers[done] = integerOf(samples[done]);
}

// Double samples are rendered far less often: one at a time.
void OutputConditioning::toIntegers(const double* samples, std::int32_t* integers,
                                    std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) integers[i] = integerOf(samples[i]);
}

}  // namespace varkel::engine
