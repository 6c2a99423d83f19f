// Box-Muller factors for every possible pair of draws. Each uniform draw takes
// only 32768 values, so the rounded cosine and the radius sqrt(-2 ln u) are
// tabulated once; the radius stays double so that the product rounds exactly
// as the direct computation does.
#pragma once

#include <cstdint>

namespace varkel {

inline constexpr int kDrawValues = 32768;
inline constexpr float kUniformScale = 3.0518509e-05f;  // 1 / 32767
inline constexpr float kAngleScale = 0.00019175345f;    // 2 pi / 32767

struct NoiseTables {
    float cosine[kDrawValues];   // cos(r * kAngleScale), rounded to single
    double radius[kDrawValues];  // sqrt(-2 ln(r * kUniformScale)); unused at r = 0
};

// Builds the tables on the first call (thread-safe) and returns them.
const NoiseTables& ensureNoiseTables();

// The tables, once some call of ensureNoiseTables has returned.
const NoiseTables& builtNoiseTables();

// Fills a table set from the maths library; exposed for the benchmark.
void computeNoiseTables(NoiseTables& tables);

}  // namespace varkel
