#include "tools/varkel-host/cli/interrupt.h"

#include <atomic>

#include "engine/engine_error.h"

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
    if (interruptRequested()) throw engine::EngineError("interrupted; nothing written", engine::kExitInterrupted);
}

}  // namespace varkel::tool
