// A thread of its own that runs the work handed to it, one piece at a time.
// The processor's noise generator is per thread and starts afresh on a new
// one, so a plug-in instance that is only ever run here draws its own noise
// sequence, whatever else runs beside it or before it.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace varkel::engine {

class WorkerThread {
public:
    WorkerThread();
    // Finishes the work in hand, then ends the thread.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts work on the thread; one piece at a time, each followed by wait().
    void post(std::function<void()> work);
    // Waits for the posted work; rethrows what it threw.
    void wait();
    // post, then wait.
    void run(std::function<void()> work) {
        post(std::move(work));
        wait();
    }

private:
    void loop();

    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> pending;
    bool busy = false;
    bool closing = false;
    std::exception_ptr failure;
    std::thread thread;  // last, so that it starts after the rest exists
};

}  // namespace varkel::engine
