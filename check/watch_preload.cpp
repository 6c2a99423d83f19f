// Preloaded into a check's child (LD_PRELOAD) for the real-time test: counts
// the heap allocations, releases and lock calls made on a thread while it
// has said it is inside a plug-in's process call. Interposing the C
// allocator catches a plug-in's malloc as well as its operator new.
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {

// initial-exec: the flag must be readable inside malloc without allocating.
__attribute__((tls_model("initial-exec"))) thread_local bool inside = false;
std::atomic<long> allocations{0}, releases{0}, locks{0};

void note(std::atomic<long>& counter) {
    if (inside) counter.fetch_add(1, std::memory_order_relaxed);
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void varkel_watch_enter() { inside = true; }
__attribute__((visibility("default"))) void varkel_watch_leave() { inside = false; }
__attribute__((visibility("default"))) void varkel_watch_counts(long* allocated, long* released,
                                                                  long* locked) {
    *allocated = allocations.exchange(0);
    *released = releases.exchange(0);
    *locked = locks.exchange(0);
}

__attribute__((visibility("default"))) void* malloc(size_t size) {
    note(allocations);
    return __libc_malloc(size);
}
__attribute__((visibility("default"))) void* calloc(size_t count, size_t size) {
    note(allocations);
    return __libc_calloc(count, size);
}
__attribute__((visibility("default"))) void* realloc(void* p, size_t size) {
    note(allocations);
    return __libc_realloc(p, size);
}
__attribute__((visibility("default"))) int posix_memalign(void** out, size_t alignment,
                                                          size_t size) {
    note(allocations);
    *out = __libc_memalign(alignment, size);
    return *out == nullptr ? 12 : 0;
}
__attribute__((visibility("default"))) void* aligned_alloc(size_t alignment, size_t size) {
    note(allocations);
    return __libc_memalign(alignment, size);
}
__attribute__((visibility("default"))) void free(void* p) {
    if (p != nullptr) note(releases);
    __libc_free(p);
}

__attribute__((visibility("default"))) int pthread_mutex_lock(pthread_mutex_t* m) {
    static auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    note(locks);
    return real(m);
}
__attribute__((visibility("default"))) int pthread_mutex_trylock(pthread_mutex_t* m) {
    static auto real = next<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
    note(locks);
    return real(m);
}
__attribute__((visibility("default"))) int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    static auto real = next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_rdlock");
    note(locks);
    return real(l);
}
__attribute__((visibility("default"))) int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    static auto real = next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_wrlock");
    note(locks);
    return real(l);
}
__attribute__((visibility("default"))) int sem_wait(sem_t* s) {
    static auto real = next<int (*)(sem_t*)>("sem_wait");
    note(locks);
    return real(s);
}
}
