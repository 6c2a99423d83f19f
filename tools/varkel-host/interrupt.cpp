#include "tools/varkel-host/interrupt.h"

#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace {

volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void requestInterrupt(int) { interruptRequested = 1; }

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

void throwIfInterrupted() {
    if (interruptRequested) throw ToolError("interrupted; nothing written", kExitInterrupted);
}

}  // namespace varkel::tool
