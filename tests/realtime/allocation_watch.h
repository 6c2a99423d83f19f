// Counts the heap allocations, releases and mutex locks of the whole process
// while a Watch is alive, and can make a chosen allocation fail. Linking
// allocation_watch.cpp replaces malloc, calloc, realloc, free,
// pthread_mutex_lock and the global operator new and delete, so a binary
// with it stands apart from the other tests and from the sanitizers.
#pragma once

#include <atomic>

namespace realtime {

extern std::atomic<bool> watching;
extern std::atomic<long> allocations;
extern std::atomic<long> releases;
extern std::atomic<long> locks;
extern std::atomic<long> failCountdown;  // the allocation that reaches 0 fails

struct Watch {
    Watch() {
        allocations = 0;
        releases = 0;
        locks = 0;
        watching = true;
    }
    ~Watch() { watching = false; }
};

}  // namespace realtime
