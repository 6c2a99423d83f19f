// Peak, RMS and the samples an integer format cannot hold, over every sample
// of every channel written.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace varkel::engine {

class LevelMeter {
public:
    void add(double sample) {
        if (!std::isfinite(sample)) {
            ++nonFinite;
            return;
        }
        const double magnitude = std::fabs(sample);
        if (magnitude > peak) peak = magnitude;
        if (magnitude > 1.0) ++overFullScale;
        sumOfSquares += sample * sample;
        ++count;
    }

    // The same as add() on each sample in turn, to the bit. The peak and the
    // counts do not depend on the order, so they are taken a run at a time
    // on the samples' bits, in a loop the compiler can vectorise (the bits of
    // magnitudes sort as the magnitudes do); only the sum of squares goes
    // sample by sample, as rounding in another order would change it.
    template <typename Sample>
    void add(const Sample* samples, std::size_t n) {
        using Bits = std::conditional_t<sizeof(Sample) == 4, std::uint32_t, std::uint64_t>;
        constexpr Bits magnitudeMask = std::numeric_limits<Bits>::max() >> 1;
        constexpr Bits infinity = std::bit_cast<Bits>(std::numeric_limits<Sample>::infinity());
        constexpr Bits one = std::bit_cast<Bits>(Sample(1));
        constexpr std::size_t kRun = 256;
        double sum = sumOfSquares;
        for (std::size_t start = 0; start < n; start += kRun) {
            const Sample* run = samples + start;
            const std::size_t length = std::min(kRun, n - start);
            Bits top = 0;
            Bits finite = 0;
            Bits over = 0;
            for (std::size_t i = 0; i < length; ++i) {
                const Bits magnitude = std::bit_cast<Bits>(run[i]) & magnitudeMask;
                // NaN and infinity count only as non-finite.
                const Bits ok = magnitude < infinity;
                const Bits kept = magnitude & (Bits(0) - ok);
                top = std::max(top, kept);
                finite += ok;
                over += kept > one;
            }
            if (finite == length) {
                for (std::size_t i = 0; i < length; ++i) {
                    const double sample = run[i];
                    sum += sample * sample;
                }
            } else {
                for (std::size_t i = 0; i < length; ++i) {
                    const double sample = run[i];
                    if (std::isfinite(sample)) sum += sample * sample;
                }
            }
            peak = std::max(peak, static_cast<double>(std::bit_cast<Sample>(top)));
            count += finite;
            overFullScale += over;
            nonFinite += length - finite;
        }
        sumOfSquares = sum;
    }

    double peakLevel() const { return peak; }
    double rmsLevel() const {
        return count == 0 ? 0.0 : std::sqrt(sumOfSquares / static_cast<double>(count));
    }
    std::uint64_t samplesOverFullScale() const { return overFullScale; }
    std::uint64_t nonFiniteSamples() const { return nonFinite; }

private:
    double peak = 0.0;
    double sumOfSquares = 0.0;
    std::uint64_t count = 0;
    std::uint64_t overFullScale = 0;
    std::uint64_t nonFinite = 0;
};

}  // namespace varkel::engine
