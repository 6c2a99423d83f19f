#include "engine/plugins/worker_thread.h"

#include <utility>

namespace varkel::engine {

WorkerThread::WorkerThread() : thread([this] { loop(); }) {}

WorkerThread::~WorkerThread() {
    {
        const std::lock_guard lock(mutex);
        closing = true;
    }
    changed.notify_all();
    thread.join();
}

void WorkerThread::post(std::function<void()> work) {
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !busy; });
        pending = std::move(work);
        busy = true;
    }
    changed.notify_all();
}

void WorkerThread::wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return !busy; });
    if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
}

void WorkerThread::loop() {
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return closing || pending; });
        if (!pending) return;
        std::function<void()> work = std::move(pending);
        pending = nullptr;
        lock.unlock();
        std::exception_ptr thrown;
        try {
            work();
        } catch (...) {
            thrown = std::current_exception();
        }
        lock.lock();
        failure = thrown;
        busy = false;
        changed.notify_all();
    }
}

}  // namespace varkel::engine
