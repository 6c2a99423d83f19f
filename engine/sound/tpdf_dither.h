// Triangular dither for an integer output: the sum of two independent
// uniform values, spanning one step either way, which makes the rounding
// error independent of the signal. Deterministic from its seed, so that a
// render repeats to the bit.
#pragma once

#include <cstdint>
#include <string>

namespace varkel::engine {

class TpdfDither {
public:
    // step: one step of the output (1/32768 for 16-bit).
    TpdfDither(std::uint64_t seed, double step) : state(seed), step(step) {}

    // The next value, in (-step, step).
    double next() { return (uniform() - uniform()) * step; }

private:
    // splitmix64: tiny, fast and well spread even from close seeds.
    double uniform() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }

    std::uint64_t state;
    double step;
};

// A seed from a file's name (without its folder), the same on every
// machine, so that the same render gives the same bits wherever it runs.
std::uint64_t ditherSeed(const std::string& outputPath);

}  // namespace varkel::engine
