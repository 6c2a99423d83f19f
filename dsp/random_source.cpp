#include "dsp/random_source.h"

#if defined(_WIN32)
#include <windows.h>

#include <mutex>
#endif

namespace varkel {

#if defined(_WIN32)

namespace {
DWORD slot = TLS_OUT_OF_INDEXES;
std::once_flag slotAllocated;
}  // namespace

bool prepareRandomSource() {
    std::call_once(slotAllocated, [] { slot = TlsAlloc(); });
    return slot != TLS_OUT_OF_INDEXES;
}

std::uint32_t loadRandomState() {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(TlsGetValue(slot))) ^ 1u;
}

void storeRandomState(std::uint32_t state) {
    TlsSetValue(slot, reinterpret_cast<void*>(static_cast<std::uintptr_t>(state ^ 1u)));
}

#else

constinit thread_local std::uint32_t randomState __attribute__((tls_model("initial-exec"))) = 1;

bool prepareRandomSource() { return true; }

#endif

}  // namespace varkel
