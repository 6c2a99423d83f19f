// The noise generator's uniform source: a per-thread linear congruential
// generator yielding 0..32767. It takes no lock and shares nothing between
// threads, and nothing seeds it, so a render is reproducible sample for sample.
#pragma once

#include <cstdint>

#include "dsp/always_inline.h"

namespace varkel {

inline constexpr std::uint32_t kLcgMultiplier = 214013u;
inline constexpr std::uint32_t kLcgIncrement = 2531011u;
// Two steps at once, so a pair of draws need not wait on each other.
inline constexpr std::uint32_t kLcgMultiplier2 = kLcgMultiplier * kLcgMultiplier;
inline constexpr std::uint32_t kLcgIncrement2 = kLcgMultiplier * kLcgIncrement + kLcgIncrement;

VARKEL_INLINE int drawOf(std::uint32_t state) { return static_cast<int>((state >> 16) & 0x7FFFu); }

// Makes the source ready; false when it cannot be (Windows: no TLS slot
// left). Called before any processor exists, never on the audio path.
bool prepareRandomSource();

#if defined(_WIN32)
// MinGW's thread_local allocates a thread's storage at its first use, which
// would allocate on an audio thread; a native TLS slot holds the state in
// the slot's value itself. The value is stored xor 1, so a thread that has
// never drawn (value 0) starts from state 1.
std::uint32_t loadRandomState();
void storeRandomState(std::uint32_t state);
#else
// Static TLS: reaching the state from a dlopen'd module then needs no lazy
// allocation on a thread's first draw.
extern constinit thread_local std::uint32_t randomState __attribute__((tls_model("initial-exec")));
inline std::uint32_t loadRandomState() { return randomState; }
inline void storeRandomState(std::uint32_t state) { randomState = state; }
#endif

inline int nextRandom() {
    const std::uint32_t state = loadRandomState() * kLcgMultiplier + kLcgIncrement;
    storeRandomState(state);
    return drawOf(state);
}

// Test seam: restarts this thread's sequence. Not exported from the module.
inline void resetRandom(std::uint32_t state = 1) { storeRandomState(state); }

}  // namespace varkel
