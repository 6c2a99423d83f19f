#include "tools/varkel-host/cli/interrupt.h"

#include <atomic>

#include "engine/engine_error.h"

namespace varkel::tool {

namespace {

// Lock-free, so the handler may set it, and atomic, because worker threads
// read it.
std::atomic<int> interruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void requestInterrupt(int signal) { interruptSignal.store(signal); }

}  // namespace

InterruptGuard::InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = requestInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInterrupt);
    sigaction(SIGTERM, &action, &savedTerminate);
    sigaction(SIGHUP, &action, &savedHangUp);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &savedInterrupt, nullptr);
    sigaction(SIGTERM, &savedTerminate, nullptr);
    sigaction(SIGHUP, &savedHangUp, nullptr);
}

bool interruptRequested() { return interruptSignal.load() != 0; }

int interruptedStatus() {
    const int signal = interruptSignal.load();
    return signal != 0 ? 128 + signal : engine::kExitInterrupted;
}

void throwIfInterrupted() {
    if (interruptRequested()) throw engine::EngineError("interrupted; nothing written", engine::kExitInterrupted);
}

}  // namespace varkel::tool
