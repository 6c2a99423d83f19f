// Four single-precision lanes in one SSE register, with the operations the
// chain's stages use (see chain_stages.h). Each is the IEEE single operation
// of the float lane, lane by lane; minps and maxps keep the comparisons'
// order, so a NaN is handled as the float lane's conditionals handle it.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#define VARKEL_HAVE_SSE2_LANES 1

#include <emmintrin.h>

#include <cfloat>

#include "dsp/always_inline.h"

namespace varkel::sse {

struct Lanes {
    __m128 v;
    [[gnu::always_inline]] Lanes(__m128 value) : v(value) {}  // NOLINT(google-explicit-constructor)
    [[gnu::always_inline]] explicit Lanes(float value) : v(_mm_set1_ps(value)) {}
};

struct LaneMask {
    __m128 bits;
};

VARKEL_INLINE Lanes operator+(Lanes a, Lanes b) { return _mm_add_ps(a.v, b.v); }
VARKEL_INLINE Lanes operator-(Lanes a, Lanes b) { return _mm_sub_ps(a.v, b.v); }
VARKEL_INLINE Lanes operator*(Lanes a, Lanes b) { return _mm_mul_ps(a.v, b.v); }
VARKEL_INLINE Lanes operator/(Lanes a, Lanes b) { return _mm_div_ps(a.v, b.v); }

VARKEL_INLINE __m128 signBits() { return _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u))); }
VARKEL_INLINE __m128 magnitudeBits() { return _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)); }

VARKEL_INLINE Lanes operator-(Lanes a) { return _mm_xor_ps(a.v, signBits()); }
VARKEL_INLINE Lanes absOf(Lanes a) { return _mm_and_ps(a.v, magnitudeBits()); }
VARKEL_INLINE LaneMask isNegative(Lanes a) { return {_mm_cmplt_ps(a.v, _mm_setzero_ps())}; }
VARKEL_INLINE Lanes select(LaneMask mask, Lanes ifTrue, Lanes ifFalse) {
    return _mm_or_ps(_mm_and_ps(mask.bits, ifTrue.v), _mm_andnot_ps(mask.bits, ifFalse.v));
}
VARKEL_INLINE bool anyOf(LaneMask mask) { return _mm_movemask_ps(mask.bits) != 0; }
VARKEL_INLINE Lanes negateWhere(LaneMask mask, Lanes a) {
    return _mm_xor_ps(a.v, _mm_and_ps(mask.bits, signBits()));
}
VARKEL_INLINE Lanes lesserOf(Lanes a, Lanes b) { return _mm_min_ps(a.v, b.v); }
VARKEL_INLINE Lanes greaterOf(Lanes a, Lanes b) { return _mm_max_ps(a.v, b.v); }
VARKEL_INLINE Lanes finiteOrZero(Lanes a) {
    return _mm_and_ps(a.v, _mm_cmple_ps(absOf(a).v, _mm_set1_ps(FLT_MAX)));
}

}  // namespace varkel::sse

#endif
