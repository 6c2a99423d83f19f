// What happens to each rendered sample on its way to the file: non-finite
// values become silence in an integer output, dither is added, and the
// sample is rounded to the output's grid.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "engine/sound/tpdf_dither.h"

namespace varkel::engine {

class OutputConditioning {
public:
    // step: one step of an integer output, else 0.
    OutputConditioning(bool integer, double step, TpdfDither* dither)
        : integer(integer), step(step), dither(dither) {}

    // False when every sample goes to the file as it is.
    bool changesSamples() const { return integer || dither != nullptr || step > 0.0; }

    template <typename Sample>
    Sample operator()(Sample sample) const {
        // Integer conversion of NaN or infinity is undefined.
        if (integer && !std::isfinite(sample)) return Sample(0);
        if (dither != nullptr) sample += static_cast<Sample>(dither->next());
        // libsndfile's clipping conversion truncates towards minus infinity;
        // a value on the output's grid converts exactly, so rounding here
        // gives the nearest step, as requantisation should.
        if (step > 0.0) sample = static_cast<Sample>(std::nearbyint(sample / step) * step);
        return sample;
    }

    template <typename Sample>
    void apply(Sample* samples, std::size_t n) const {
        for (std::size_t i = 0; i < n; ++i) samples[i] = (*this)(samples[i]);
    }

    // Whether toIntegers() may stand for apply() and the file's own
    // conversion: an integer output without dither.
    bool convertsToIntegers() const;
    // The samples as apply() would leave them, then as libsndfile's clipping
    // conversion would store them, as 32-bit integers with the output's bits
    // at the top; in one pass that vectorises, where the library converts
    // one sample at a time. Only where convertsToIntegers().
    void toIntegers(const float* samples, std::int32_t* integers, std::size_t n) const;
    void toIntegers(const double* samples, std::int32_t* integers, std::size_t n) const;
    // The same in 16-bit integers, the output's bits at the top: a 16-bit
    // file takes them as they are. Only where fitsShorts() too.
    bool fitsShorts() const { return step >= 0x1p-15; }
    void toIntegers(const float* samples, std::int16_t* integers, std::size_t n) const;
    void toIntegers(const double* samples, std::int16_t* integers, std::size_t n) const;

private:
    // One sample of toIntegers().
    template <typename Sample>
    std::int16_t shortOf(Sample sample) const {
        return static_cast<std::int16_t>(integerOf(sample) >> 16);
    }
    template <typename Sample>
    std::int32_t integerOf(Sample sample) const {
        // On the grid (or silent), so the quotient is an integer, or huge.
        const double steps = static_cast<double>((*this)(sample)) / step;
        const double scale = 1.0 / step;
        return static_cast<std::int32_t>(std::clamp(steps, -scale, scale - 1.0)) * stepAsInteger();
    }
    // One step of the output in a 32-bit integer: 2^(32 - bits).
    std::int32_t stepAsInteger() const { return static_cast<std::int32_t>(std::ldexp(step, 31)); }

    bool integer;
    double step;
    TpdfDither* dither;
};

}  // namespace varkel::engine
