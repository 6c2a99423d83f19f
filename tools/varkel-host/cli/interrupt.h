// Ctrl-C (SIGINT) and SIGTERM while files are being written: instead of
// dying with a temporary file left behind, the work stops at the next check
// and unwinds, which removes it.
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
};

// Whether a signal has arrived.
bool interruptRequested();
// Throws ToolError with kExitInterrupted once a signal has arrived.
void throwIfInterrupted();

}  // namespace varkel::tool
