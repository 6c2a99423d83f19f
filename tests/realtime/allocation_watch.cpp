#include "allocation_watch.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
}

namespace realtime {

std::atomic<bool> watching{false};
std::atomic<long> allocations{0};
std::atomic<long> releases{0};
std::atomic<long> locks{0};
std::atomic<long> failCountdown{0};

namespace {

bool noteAllocation() {
    if (!watching.load(std::memory_order_relaxed)) return true;
    allocations.fetch_add(1, std::memory_order_relaxed);
    const long left = failCountdown.load(std::memory_order_relaxed);
    if (left > 0) return failCountdown.fetch_sub(1, std::memory_order_relaxed) != 1;
    return true;
}

}  // namespace
}  // namespace realtime

using realtime::noteAllocation;

extern "C" {
void* malloc(size_t size) { return noteAllocation() ? __libc_malloc(size) : nullptr; }
void* calloc(size_t count, size_t size) {
    return noteAllocation() ? __libc_calloc(count, size) : nullptr;
}
void* realloc(void* p, size_t size) { return noteAllocation() ? __libc_realloc(p, size) : nullptr; }
void free(void* p) {
    if (p != nullptr && realtime::watching.load(std::memory_order_relaxed))
        realtime::releases.fetch_add(1, std::memory_order_relaxed);
    __libc_free(p);
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    using Lock = int (*)(pthread_mutex_t*);
    static Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (realtime::watching.load(std::memory_order_relaxed))
        realtime::locks.fetch_add(1, std::memory_order_relaxed);
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
