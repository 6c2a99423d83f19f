// Ctrl-C (SIGINT), SIGTERM and SIGHUP (the terminal closed) while files are
// being written: instead of dying with a temporary file left behind, the
// work stops at the next check and unwinds, which removes it.
//
// A plug-in stuck in a call never reaches that check. So a second signal,
// or kForcedExitSeconds after the first without the guarded work returning,
// removes this process's temporaries (see engine/sound/temporary_files.h) from the
// folders the guard was given and exits at once with 128 + the signal.
#pragma once

#include <csignal>
#include <string>
#include <thread>
#include <vector>

namespace varkel::tool {

inline constexpr int kForcedExitSeconds = 2;

class InterruptGuard {
public:
    // folders: where the guarded work writes its temporaries.
    explicit InterruptGuard(const std::vector<std::string>& folders = {});
    // Puts back the handlers that were there before.
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction savedInterrupt {};
    struct sigaction savedTerminate {};
    struct sigaction savedHangUp {};
    std::thread watchdog;
};

// Whether a signal has arrived.
bool interruptRequested();
// Throws EngineError with kExitInterrupted once a signal has arrived.
void throwIfInterrupted();
// The exit status for the signal that arrived: 128 + its number, as a shell
// reports a process the signal ended (130 when none is known).
int interruptedStatus();

}  // namespace varkel::tool
