// The processor's noise generator is per thread and starts afresh on a new
// one, so work run on a new thread draws the same noise as any other work run
// that way: a render done so is the same file every time.
#pragma once

#include <exception>
#include <thread>
#include <utility>

namespace varkel::host {

// Runs work on a new thread and waits for it; an exception it throws is
// rethrown here.
template <typename Work>
void onFreshThread(Work&& work) {
    std::exception_ptr failure;
    std::thread([&] {
        try {
            std::forward<Work>(work)();
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace varkel::host
