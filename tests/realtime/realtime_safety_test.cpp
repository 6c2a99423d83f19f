// The audio path as a host's real-time thread sees it: no heap allocation and
// no mutex while processing. This binary replaces the allocator (and counts
// mutex locks) for the whole process, so it is built apart from the other
// tests and not under the sanitizers, which bring allocators of their own.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "abi/aeffect.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
AEffect* VSTPluginMain(audioMasterCallback audioMaster);
}

namespace {

std::atomic<bool> watching{false};
std::atomic<long> allocations{0};
std::atomic<long> releases{0};
std::atomic<long> locks{0};
std::atomic<long> failCountdown{0};  // the allocation that reaches 0 fails

bool noteAllocation() {
    if (!watching.load(std::memory_order_relaxed)) return true;
    allocations.fetch_add(1, std::memory_order_relaxed);
    const long left = failCountdown.load(std::memory_order_relaxed);
    if (left > 0) return failCountdown.fetch_sub(1, std::memory_order_relaxed) != 1;
    return true;
}

}  // namespace

extern "C" {
void* malloc(size_t size) { return noteAllocation() ? __libc_malloc(size) : nullptr; }
void* calloc(size_t count, size_t size) { return noteAllocation() ? __libc_calloc(count, size) : nullptr; }
void* realloc(void* p, size_t size) { return noteAllocation() ? __libc_realloc(p, size) : nullptr; }
void free(void* p) {
    if (p != nullptr && watching.load(std::memory_order_relaxed)) releases.fetch_add(1, std::memory_order_relaxed);
    __libc_free(p);
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    using Lock = int (*)(pthread_mutex_t*);
    static Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (watching.load(std::memory_order_relaxed)) locks.fetch_add(1, std::memory_order_relaxed);
    return real(m);
}
}

void* operator new(size_t size) {
    void* p = std::malloc(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size); }
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

VstIntPtr host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Watch {
    Watch() {
        allocations = 0;
        releases = 0;
        locks = 0;
        watching = true;
    }
    ~Watch() { watching = false; }
};

TEST(RealtimeSafety, ProcessingAllocatesAndLocksNothing) {
    AEffect* fx = VSTPluginMain(host);
    ASSERT_NE(fx, nullptr);
    fx->dispatcher(fx, effOpen, 0, 0, nullptr, 0.0f);
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);

    std::vector<float> left(4096), right(4096);
    std::vector<double> wideL(4096), wideR(4096);
    for (int i = 0; i < 4096; ++i) {
        left[i] = 4.0f * std::sin(0.01f * static_cast<float>(i));
        right[i] = left[4095 - i];
        wideL[i] = left[i];
        wideR[i] = right[i];
    }
    float* in[2] = {left.data(), right.data()};
    double* win[2] = {wideL.data(), wideR.data()};
    {
        Watch watch;
        for (int block = 0; block < 50; ++block) {
            fx->setParameter(fx, block % 3, 0.1f * static_cast<float>(block % 10));
            fx->getParameter(fx, block % 3);
            fx->processReplacing(fx, in, in, 4096);
            fx->processDoubleReplacing(fx, win, win, 4096);
        }
        EXPECT_EQ(allocations.load(), 0);
        EXPECT_EQ(locks.load(), 0);
    }
    fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
}

// When the object or its processor cannot be made, the host gets null and
// nothing is left allocated.
TEST(RealtimeSafety, FailedCreationReturnsNullAndLeaksNothing) {
    for (long failing = 1; failing <= 2; ++failing) {
        AEffect* fx = nullptr;
        {
            Watch watch;
            failCountdown = failing;
            fx = VSTPluginMain(host);
            failCountdown = 0;
            EXPECT_EQ(fx, nullptr) << "allocation " << failing << " failed";
            EXPECT_GE(allocations.load(), failing);
            EXPECT_EQ(allocations.load() - 1, releases.load());  // all but the failed one freed
        }
    }
    AEffect* fx = VSTPluginMain(host);
    ASSERT_NE(fx, nullptr);
    fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
}

}  // namespace
