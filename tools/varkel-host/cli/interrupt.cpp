#include "tools/varkel-host/interrupt.h"

#include <atomic>

#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

// Lock-free, so the handler may set it, and atomic, because worker threads
// read it.
std::atomic<bool> interruptFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void requestInterrupt(int) { interruptFlag.store(true); }

}  // namespace

InterruptGuard::InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = requestInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInterrupt);
    sigaction(SIGTERM, &action, &savedTerminate);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &savedInterrupt, nullptr);
    sigaction(SIGTERM, &savedTerminate, nullptr);
}

bool interruptRequested() { return interruptFlag.load(); }

void throwIfInterrupted() {
    if (interruptRequested()) throw ToolError("interrupted; nothing written", kExitInterrupted);
}

}  // namespace varkel::tool
