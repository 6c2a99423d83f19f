// What the user sees while and after a file renders: a progress bar on a
// terminal and the one-line summary with its warnings.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/render_job.h"

namespace varkel::tool {

using engine::LevelMeter;
using engine::RenderSummary;

class ProgressBar {
public:
    // Draws on stderr, and only when enabled and stderr is a terminal.
    ProgressBar(bool enabled, std::int64_t totalFrames);
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws at most a few times a second.
    void update(std::int64_t framesDone);
    // The same, for a total first known while rendering.
    void update(std::int64_t framesDone, std::int64_t totalFrames) {
        total = totalFrames;
        update(framesDone);
    }
    // Clears the bar's line.
    void finish();

private:
    void draw(std::int64_t framesDone);

    bool active;
    std::int64_t total;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastDrawn;
};

// "<file>: <frames> frames, <s> s, <x>x realtime, peak <dB> dBFS, RMS <dB> dBFS;
// <format>", then ", dithered" and "; <mapping>" where they apply.
std::string summaryLine(const RenderSummary& summary);
// Empty when the input was whole and every sample fitted the output format.
std::string summaryWarning(const RenderSummary& summary);

// Renders the job with a progress bar (when shown and on a terminal),
// stopping at a signal caught by an InterruptGuard.
RenderSummary renderWithProgress(const engine::RenderJob& job, bool showProgress);

// The summary line on stdout, then any warning on stderr.
void printSummary(const RenderSummary& summary);

// "33 files: 20 rendered, 13 skipped (their outputs exist), 0 failed, 0:25", the
// skipped part only when some were, and ", N not rendered (interrupted)" before
// the time when some were not.
std::string batchTotalsLine(std::size_t files, std::size_t rendered, std::size_t skipped,
                            std::size_t failed, std::size_t notRendered, double seconds);

// "m:ss", rounded to the second.
std::string clockText(double seconds);

// "-6.02 dBFS"; "-inf dBFS" for silence.
std::string dbfs(double level);

}  // namespace varkel::tool
