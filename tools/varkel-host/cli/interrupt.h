// Ctrl-C (SIGINT), SIGTERM and SIGHUP (the terminal closed) while files are
// being written: instead of dying with a temporary file left behind, the
// work stops at the next check and unwinds, which removes it.
#pragma once

#include <csignal>

namespace varkel::tool {

class InterruptGuard {
public:
    InterruptGuard();
    // Puts back the handlers that were there before.
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction savedInterrupt {};
    struct sigaction savedTerminate {};
    struct sigaction savedHangUp {};
};

// Whether a signal has arrived.
bool interruptRequested();
// Throws EngineError with kExitInterrupted once a signal has arrived.
void throwIfInterrupted();
// The exit status for the signal that arrived: 128 + its number, as a shell
// reports a process the signal ended (130 when none is known).
int interruptedStatus();

}  // namespace varkel::tool
