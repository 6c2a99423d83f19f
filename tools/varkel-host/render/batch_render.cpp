#include "tools/varkel-host/render/batch_render.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/report/summary_text.h"
#include "tools/varkel-host/cli/command.h"
#include "tools/varkel-host/cli/interrupt.h"
#include "tools/varkel-host/cli/report.h"

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

// The state the workers share with the thread that shows progress.
class BatchState {
public:
    BatchState(std::vector<engine::BatchItem> planned, int workers, bool quiet)
        : items(std::move(planned)),
          slots(static_cast<std::size_t>(workers)),
          quiet(quiet),
          progressShown(!quiet && ::isatty(STDERR_FILENO) == 1),
          started(std::chrono::steady_clock::now()) {}

    std::size_t size() const { return items.size(); }
    const engine::BatchItem& item(std::size_t index) const { return items[index]; }

    // The next item to render, or false when none is left or interrupted.
    bool take(std::size_t& index) {
        if (interruptRequested()) stopped = true;
        if (stopped.load()) return false;
        index = next.fetch_add(1);
        return index < items.size();
    }

    // Called by each worker after every stretch it renders: two relaxed
    // stores to a cache line of its own, no lock and no barrier.
    void progress(int slot, std::int64_t done, std::int64_t total) {
        slots[slot].done.store(done, std::memory_order_relaxed);
        slots[slot].total.store(total, std::memory_order_relaxed);
    }

    void skipped() {
        const std::lock_guard lock(mutex);
        ++skips;
    }

    void succeeded(int slot, const RenderSummary& summary) {
        const std::lock_guard lock(mutex);
        ++rendered;
        clearSlot(slot);
        if (quiet) return;
        clearLine();
        printSummary(summary);
    }

    void failed(int slot, const EngineError& error) {
        const std::lock_guard lock(mutex);
        clearSlot(slot);
        if (error.status() == kExitInterrupted) {
            stopped = true;
            return;
        }
        ++failures;
        clearLine();
        std::fflush(stdout);
        std::fprintf(stderr, "varkel-host: %s\n", error.what());
    }

    void warn(const std::string& warning) {
        const std::lock_guard lock(mutex);
        clearLine();
        std::fflush(stdout);
        std::fprintf(stderr, "varkel-host: warning: %s\n", warning.c_str());
    }

    // A planned problem, reported without running anything.
    void failed(const std::string& problem) {
        const std::lock_guard lock(mutex);
        ++failures;
        std::fprintf(stderr, "varkel-host: %s\n", problem.c_str());
    }

    void workerDone() {
        const std::lock_guard lock(mutex);
        ++workersDone;
        finishedChanged.notify_all();
    }

    // Draws the progress line until every worker is done, five times a
    // second: often enough to watch, and no load on the workers.
    void showProgressUntilDone(int workers) {
        std::unique_lock lock(mutex);
        while (workersDone < workers) {
            finishedChanged.wait_for(lock, std::chrono::milliseconds(200));
            if (progressShown) drawProgress();
        }
        clearLine();
    }

    void printTotals(std::size_t problemsBefore) const {
        const std::size_t total = items.size() + problemsBefore;
        const std::size_t notRendered = total - rendered - failures - skips;
        if (quiet && failures == 0 && !interrupted()) return;
        std::fflush(stdout);
        std::printf("%s\n", engine::batchTotalsLine(total, rendered, skips, failures, notRendered,
                                            secondsSinceStart())
                                .c_str());
    }

    bool interrupted() const { return stopped.load(); }
    std::size_t failureCount() const { return failures; }

private:
    // One cache line each, so that workers reporting progress do not
    // contend for one.
    struct alignas(64) Slot {
        std::atomic<std::int64_t> done{0};
        std::atomic<std::int64_t> total{0};
    };

    double secondsSinceStart() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }

    void clearSlot(int slot) {
        slots[slot].done = 0;
        slots[slot].total = 0;
    }

    void clearLine() {
        if (!progressShown) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }

    // Files done, plus the part done of those running, against the lot.
    void drawProgress() {
        double running = 0.0;
        for (const Slot& slot : slots) {
            const std::int64_t total = slot.total;
            if (total > 0) running += std::min(1.0, static_cast<double>(slot.done) / total);
        }
        const double finished = static_cast<double>(rendered + failures + skips);
        const double fraction = (finished + running) / static_cast<double>(items.size());
        const double elapsed = secondsSinceStart();
        const std::string left =
            fraction > 0.0 ? ", " + engine::clockText(elapsed / fraction - elapsed) + " left" : "";
        std::fprintf(stderr, "\r\033[K[%zu/%zu files] %s elapsed%s", rendered + failures + skips,
                     items.size(), engine::clockText(elapsed).c_str(), left.c_str());
        std::fflush(stderr);
    }

    std::vector<engine::BatchItem> items;
    std::vector<Slot> slots;
    bool quiet;
    bool progressShown;
    std::chrono::steady_clock::time_point started;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    std::mutex mutex;
    std::condition_variable finishedChanged;
    std::size_t rendered = 0;
    std::size_t failures = 0;
    std::size_t skips = 0;
    int workersDone = 0;
};

// skipExisting: an output that another run made meanwhile counts as
// skipped, found before rendering or at the end.
void renderItems(BatchState& state, int slot, const engine::RenderJob& common, bool skipExisting) {
    std::size_t index = 0;
    while (state.take(index)) {
        const engine::BatchItem& item = state.item(index);
        if (!item.problem.empty()) {
            state.failed(item.problem);
            continue;
        }
        std::error_code error;
        if (item.skip || (skipExisting && !item.replace && fs::exists(item.output, error))) {
            state.skipped();
            continue;
        }
        if (!item.warning.empty()) state.warn(item.warning);
        try {
            engine::RenderJob job = common;
            job.input = item.input;
            job.output = item.output;
            job.replaceExisting = common.replaceExisting || item.replace;
            fs::create_directories(fs::path(item.output).parent_path(), error);
            const RenderSummary summary = engine::renderFile(
                job,
                [&](std::int64_t done, std::int64_t total) { state.progress(slot, done, total); },
                interruptRequested);
            state.succeeded(slot, summary);
        } catch (const engine::OutputExists& error) {
            if (!skipExisting) {
                state.failed(slot, error);
                continue;
            }
            state.progress(slot, 0, 0);
            state.skipped();
        } catch (const EngineError& error) {
            state.failed(slot, error);
        } catch (const std::exception& error) {
            state.failed(slot, EngineError(item.input + ": " + error.what()));
        }
    }
    state.workerDone();
}

}  // namespace

int runBatch(const BatchOptions& options, const engine::RenderJob& render) {
    engine::PreparedBatch batch = engine::prepareBatch(options.request, render);
    std::vector<engine::BatchItem>& items = batch.items;
    const std::vector<std::string>& problems = batch.problems;

    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int jobs = options.jobs > 0 ? options.jobs : cores;
    const int workers = std::max(1, std::min<int>(jobs, static_cast<int>(items.size())));
    engine::RenderJob common = render;
    common.replaceExisting = options.request.overwrite;

    BatchState state(std::move(items), workers, options.quiet);
    for (const std::string& problem : problems) state.failed(problem);
    {
        const InterruptGuard interrupts(batch.outputFolders);
        std::vector<std::thread> threads;
        for (int slot = 0; slot < workers; ++slot)
            threads.emplace_back(renderItems, std::ref(state), slot, std::cref(common),
                                 options.request.skipExisting);
        state.showProgressUntilDone(workers);
        for (std::thread& thread : threads) thread.join();
    }
    state.printTotals(problems.size());
    if (state.interrupted()) {
        std::fflush(stdout);
        std::fprintf(stderr, "varkel-host: interrupted; the unfinished files were removed\n");
        return interruptedStatus();
    }
    return state.failureCount() > 0 ? kExitFailure : kExitSuccess;
}

}  // namespace varkel::tool
