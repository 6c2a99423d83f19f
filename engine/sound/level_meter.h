// Peak, RMS and the samples an integer format cannot hold, over every sample
// of every channel written.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <type_traits>

namespace varkel::engine {

class LevelMeter {
public:
    void add(double sample) {
        const std::size_t lane = position++ % kLanes;
        if (!std::isfinite(sample)) {
            ++nonFinite;
            return;
        }
        const double magnitude = std::fabs(sample);
        if (magnitude > peak) peak = magnitude;
        if (magnitude > 1.0) ++overFullScale;
        squares[lane] += sample * sample;
        ++count;
    }

    // The same as add() on each sample in turn, to the bit. The peak and the
    // counts do not depend on the order, so they are taken a run at a time
    // on the samples' bits, in a loop the compiler can vectorise (the bits
    // of magnitudes sort as the magnitudes do); the squares go to their
    // lanes, a whole round of lanes at a time.
    template <typename Sample>
    void add(const Sample* samples, std::size_t n) {
        // Signed: without the sign bit, the bits are never negative, and
        // signed comparisons are single instructions where unsigned ones
        // are not.
        using Bits = std::conditional_t<sizeof(Sample) == 4, std::int32_t, std::int64_t>;
        constexpr Bits magnitudeMask = std::numeric_limits<Bits>::max();
        constexpr Bits infinity = std::bit_cast<Bits>(std::numeric_limits<Sample>::infinity());
        constexpr Bits one = std::bit_cast<Bits>(Sample(1));
        constexpr std::size_t kRun = 256;
        // Locals, which the samples cannot alias, so the sums stay in registers.
        double sums[kLanes];
        std::copy(std::begin(squares), std::end(squares), sums);
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
            const auto square = [&](std::size_t i) {
                const double sample = run[i];
                if (std::isfinite(sample)) sums[(position + i) % kLanes] += sample * sample;
            };
            std::size_t i = 0;
            for (; i < length && (position + i) % kLanes != 0; ++i) square(i);
            const auto finiteCount = static_cast<std::size_t>(finite);
            if (finiteCount == length)
                for (; i + kLanes <= length; i += kLanes)
                    for (std::size_t lane = 0; lane < kLanes; ++lane) {
                        const double sample = run[i + lane];
                        sums[lane] += sample * sample;
                    }
            for (; i < length; ++i) square(i);
            position += length;
            peak = std::max(peak, static_cast<double>(std::bit_cast<Sample>(top)));
            count += finiteCount;
            overFullScale += static_cast<std::uint64_t>(over);
            nonFinite += length - finiteCount;
        }
        std::copy(sums, sums + kLanes, std::begin(squares));
    }

    double peakLevel() const { return peak; }
    double rmsLevel() const {
        if (count == 0) return 0.0;
        double sum = 0.0;
        for (const double lane : squares) sum += lane;
        return std::sqrt(sum / static_cast<double>(count));
    }
    std::uint64_t samplesOverFullScale() const { return overFullScale; }
    std::uint64_t nonFiniteSamples() const { return nonFinite; }

private:
    // The squares are summed in lanes, the sample at each position in the
    // stream to lane position % kLanes, so that whole rounds of lanes add up
    // side by side rather than one long chain of dependent additions; the
    // lanes are summed at the end. Fewer roundings in a row, too.
    static constexpr std::size_t kLanes = 8;

    double peak = 0.0;
    double squares[kLanes] = {};
    std::uint64_t position = 0;  // samples seen, finite or not
    std::uint64_t count = 0;
    std::uint64_t overFullScale = 0;
    std::uint64_t nonFinite = 0;
};

}  // namespace varkel::engine
