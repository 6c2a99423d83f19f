// Flushes subnormal results and operands to zero for the lifetime of the
// object and restores the caller's floating-point mode afterwards. Filter
// states decaying after loud input would otherwise settle on subnormal values,
// which x86 cores process many times slower.
#pragma once

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define VARKEL_HAVE_MXCSR 1
#endif

namespace varkel {

class ScopedDenormalFlush {
public:
#if VARKEL_HAVE_MXCSR
    static constexpr unsigned kFlushToZero = 0x8000u;
    static constexpr unsigned kDenormalsAreZero = 0x0040u;
    static constexpr unsigned kBoth = kFlushToZero | kDenormalsAreZero;
    // A host that already flushes pays no write of the control register,
    // which costs more than a short block's work.
    ScopedDenormalFlush() : saved(_mm_getcsr()) {
        if ((saved & kBoth) != kBoth) _mm_setcsr(saved | kBoth);
    }
    ~ScopedDenormalFlush() {
        if ((saved & kBoth) != kBoth) _mm_setcsr(saved);
    }
#else
    ScopedDenormalFlush() = default;
#endif
    ScopedDenormalFlush(const ScopedDenormalFlush&) = delete;
    ScopedDenormalFlush& operator=(const ScopedDenormalFlush&) = delete;

private:
#if VARKEL_HAVE_MXCSR
    unsigned saved;
#endif
};

}  // namespace varkel
