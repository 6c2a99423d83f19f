// Peak, RMS and the samples an integer format cannot hold, over every sample
// of every channel written.
#pragma once

#include <cmath>
#include <cstdint>

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
