// Both channels of one frame at once, one channel per SSE lane. Every lane
// operation is the same IEEE single operation as in the scalar chain and the
// conditional steps become exact selects (min/max keep the comparison order,
// so a NaN still goes to the rail), and the frame's four random draws are
// computed from one generator state in parallel. The output is bit-identical
// to running processSample on the left, then the right.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#define VARKEL_HAVE_SSE2_FRAME 1

#include <emmintrin.h>

#include <cfloat>
#include <cstdint>

#include "dsp/op_amp_chain.h"

namespace varkel {

class StereoFrameSse {
public:
    StereoFrameSse(const VarkelState& s, const ChainCoefficients& k)
        : low(pair(s.lowState)),
          band(pair(s.bandState)),
          slew(pair(s.slewPrev)),
          dcIn(pair(s.dcPrevIn)),
          dcOut(pair(s.dcPrevOut)),
          lowCoefficient(_mm_set1_ps(k.lowCoefficient)),
          maxSlew(_mm_set1_ps(k.maxSlew)),
          minSlew(_mm_set1_ps(-k.maxSlew)),
          dcPole(_mm_set1_ps(k.dcPole)) {}

    void store(VarkelState& s) const {
        unpair(low, s.lowState);
        unpair(band, s.bandState);
        unpair(slew, s.slewPrev);
        unpair(dcIn, s.dcPrevIn);
        unpair(dcOut, s.dcPrevOut);
    }

    // Loads the coefficients that follow the parameters.
    void setCoefficients(const ChainCoefficients& k) {
        gIn = _mm_set1_ps(k.gIn);
        gOut = _mm_set1_ps(k.gOut);
        bandCoefficient = _mm_set1_ps(k.bandCoefficient);
        deadZone = _mm_set1_ps(k.deadZone);
        deadZoneKnee = _mm_set1_ps(k.deadZoneKnee);
        noiseLevel = _mm_set1_ps(k.noiseLevel);
    }

    // x and the result hold left in lane 0 and right in lane 1.
    __m128 process(__m128 x, std::uint32_t& rng, const NoiseTables& tables) {
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 signMask = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(0x80000000u)));
        const __m128 zero = _mm_setzero_ps();

        const __m128 a = _mm_mul_ps(x, gIn);
        const __m128 l = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(a, low), lowCoefficient), low);
        low = finiteOrZero(l, absMask);
        const __m128 s = _mm_add_ps(a, l);

        const __m128 b = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(s, band), bandCoefficient), band);
        band = finiteOrZero(b, absMask);

        const __m128 b2 = _mm_mul_ps(b, b);
        const __m128 b3 = _mm_mul_ps(b2, b);
        const __m128 n = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(10.0f), b3), _mm_mul_ps(b, _mm_set1_ps(105.0f)));
        const __m128 d = _mm_add_ps(_mm_mul_ps(b, b3),
                                    _mm_add_ps(_mm_mul_ps(b2, _mm_set1_ps(45.0f)), _mm_set1_ps(105.0f)));
        const __m128 c = _mm_div_ps(_mm_xor_ps(n, signMask), d);

        // Inside the dead zone only near silence or a zero crossing; the
        // branch keeps the knee's division off the usual path.
        const __m128 e = _mm_sub_ps(_mm_and_ps(c, absMask), deadZone);
        const __m128 inside = _mm_cmplt_ps(e, zero);
        __m128 w = e;
        if ((_mm_movemask_ps(inside) & 3) != 0) {
            const __m128 knee = _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(0.4f), e),
                                           _mm_add_ps(_mm_div_ps(e, deadZoneKnee), _mm_set1_ps(1.0f)));
            w = select(inside, knee, e);
        }
        w = _mm_xor_ps(w, _mm_and_ps(_mm_cmplt_ps(c, zero), signMask));

        w = _mm_min_ps(w, _mm_set1_ps(kRail));   // w < rail ? w : rail
        w = _mm_max_ps(w, _mm_set1_ps(-kRail));  // w > -rail ? w : -rail

        const __m128 v = _mm_add_ps(_mm_mul_ps(noise(rng, tables), noiseLevel), w);

        const __m128 delta = _mm_sub_ps(v, slew);
        const __m128 limited = _mm_add_ps(slew, _mm_min_ps(delta, maxSlew));
        const __m128 o = select(_mm_cmplt_ps(delta, minSlew), _mm_sub_ps(slew, maxSlew), limited);
        slew = o;

        const __m128 y = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(dcPole, dcOut), dcIn), o);
        dcIn = o;
        dcOut = y;
        return _mm_mul_ps(y, gOut);
    }

private:
    static __m128 pair(const float (&v)[2]) { return _mm_setr_ps(v[0], v[1], 0.0f, 0.0f); }
    static void unpair(__m128 p, float (&v)[2]) {
        v[0] = _mm_cvtss_f32(p);
        v[1] = _mm_cvtss_f32(_mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1)));
    }
    static __m128 select(__m128 mask, __m128 ifTrue, __m128 ifFalse) {
        return _mm_or_ps(_mm_and_ps(mask, ifTrue), _mm_andnot_ps(mask, ifFalse));
    }
    static __m128 finiteOrZero(__m128 v, __m128 absMask) {
        return _mm_and_ps(v, _mm_cmple_ps(_mm_and_ps(v, absMask), _mm_set1_ps(FLT_MAX)));
    }

    // Left draws first (r1, then r2), then right, as in the scalar chain.
    static __m128 noise(std::uint32_t& rng, const NoiseTables& tables) {
        constexpr std::uint32_t a1 = kLcgMultiplier, c1 = kLcgIncrement;
        constexpr std::uint32_t a2 = a1 * a1, c2 = a1 * c1 + c1;
        constexpr std::uint32_t a3 = a2 * a1, c3 = a1 * c2 + c1;
        constexpr std::uint32_t a4 = a3 * a1, c4 = a1 * c3 + c1;
        const std::uint32_t s = rng;
        const int leftR1 = drawOf(s * a1 + c1);
        const int rightR1 = drawOf(s * a3 + c3);
        if (leftR1 == 0 || rightR1 == 0) [[unlikely]] {
            const float left = gaussianDeviate(rng, tables);  // a zero first draw is drawn again
            const float right = gaussianDeviate(rng, tables);
            return _mm_setr_ps(left, right, 0.0f, 0.0f);
        }
        const int leftR2 = drawOf(s * a2 + c2);
        rng = s * a4 + c4;
        const int rightR2 = drawOf(rng);
        const __m128d cosine =
            _mm_cvtps_pd(_mm_setr_ps(tables.cosine[leftR2], tables.cosine[rightR2], 0.0f, 0.0f));
        const __m128d radius = _mm_setr_pd(tables.radius[leftR1], tables.radius[rightR1]);
        return _mm_cvtpd_ps(_mm_mul_pd(cosine, radius));  // double
    }

    __m128 low, band, slew, dcIn, dcOut;
    const __m128 lowCoefficient, maxSlew, minSlew, dcPole;
    __m128 gIn{}, gOut{}, bandCoefficient{}, deadZone{}, deadZoneKnee{}, noiseLevel{};
};

}  // namespace varkel

#endif
