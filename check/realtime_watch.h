// Watching a plug-in's process calls for what a real-time thread must not
// do: allocate or free memory, take a lock (counted by the preloaded watch
// library, watch_preload.cpp) or make a system call (trapped with seccomp on
// the calling thread, counted and then made for it).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varkel::check {

// The environment variable and file a child needs preloaded.
inline constexpr const char* kWatchLibraryName = "libvarkel_check_watch.so";

struct WatchCounts {
    long allocations = 0;
    long releases = 0;
    long locks = 0;
    long systemCalls = 0;
    std::vector<std::string> callNames;  // the distinct system calls, first few

    bool clean() const { return allocations + releases + locks + systemCalls == 0; }
    std::string describe() const;
};

class RealtimeWatch {
public:
    // Finds the preloaded library and traps this thread's system calls; what
    // it cannot watch is said by missing().
    RealtimeWatch();
    // What is not watched: "allocations and locks" when the library is not
    // preloaded, "system calls" where seccomp is refused or not x86-64.
    std::vector<std::string> missing() const;

    // Around each process call, on the thread that made the watch.
    void enter();
    void leave();
    // What was counted since the last time, and starts again.
    WatchCounts take();

private:
    void (*libraryEnter)() = nullptr;
    void (*libraryLeave)() = nullptr;
    void (*libraryCounts)(long*, long*, long*) = nullptr;
    bool trapping = false;
    std::string trapRefusal;
};

// The watch library: beside the executable, in <prefix>/lib/varkel, or the
// one in the build tree; empty when there is none.
std::string watchLibraryPath();

}  // namespace varkel::check
