// What the user sees while and after a file renders: a progress bar on a
// terminal and the one-line summary with its warnings.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/render/render_job.h"

namespace varkel::tool {

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

// Renders the job with a progress bar (when shown and on a terminal),
// stopping at a signal caught by an InterruptGuard.
RenderSummary renderWithProgress(const engine::RenderJob& job, bool showProgress);

// The summary line on stdout, then any warning on stderr.
void printSummary(const RenderSummary& summary);

}  // namespace varkel::tool
