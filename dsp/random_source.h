// The noise generator's uniform source: a per-thread linear congruential
// generator yielding 0..32767. It takes no lock and shares nothing between
// threads, and nothing seeds it, so a render is reproducible sample for sample.
#pragma once

#include <cstdint>

#if defined(__linux__)
// Static TLS: reaching the state from a dlopen'd module then needs no lazy
// allocation on a thread's first draw.
#define VARKEL_TLS_MODEL __attribute__((tls_model("initial-exec")))
#else
#define VARKEL_TLS_MODEL
#endif

namespace varkel {

inline constexpr std::uint32_t kLcgMultiplier = 214013u;
inline constexpr std::uint32_t kLcgIncrement = 2531011u;
// Two steps at once, so a pair of draws need not wait on each other.
inline constexpr std::uint32_t kLcgMultiplier2 = kLcgMultiplier * kLcgMultiplier;
inline constexpr std::uint32_t kLcgIncrement2 = kLcgMultiplier * kLcgIncrement + kLcgIncrement;

extern constinit thread_local std::uint32_t randomState VARKEL_TLS_MODEL;

inline int drawOf(std::uint32_t state) { return static_cast<int>((state >> 16) & 0x7FFFu); }

inline int nextRandom() {
    randomState = randomState * kLcgMultiplier + kLcgIncrement;
    return drawOf(randomState);
}

// Test seam: restarts this thread's sequence. Not exported from the module.
void resetRandom(std::uint32_t state = 1);

}  // namespace varkel
