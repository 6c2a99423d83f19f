// One thread at a time: an instance's state is not shared, so a second
// thread that reaches it while the first is inside gets an error instead of
// a torn state. The check is taken with the interpreter lock held and kept
// while the work runs without it.
#pragma once

#include <atomic>

#include "engine/engine_error.h"

namespace varkel::python {

class ExclusiveUse {
public:
    class Claim {
    public:
        explicit Claim(ExclusiveUse& use) : owner(use) {
            if (owner.busy.exchange(true, std::memory_order_acquire))
                throw engine::EngineError(
                    "this instance is in use by another thread; give each thread its own");
        }
        ~Claim() { owner.busy.store(false, std::memory_order_release); }
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;

    private:
        ExclusiveUse& owner;
    };

    // In a forked child, where the thread that held it does not exist.
    void forget() { busy.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> busy{false};
};

}  // namespace varkel::python
