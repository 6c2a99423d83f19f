#include "tools/varkel-host/cli/report.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/report/summary_text.h"
#include "tools/varkel-host/cli/interrupt.h"

namespace varkel::tool {

namespace {

int terminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) return size.ws_col;
    return 80;
}

}  // namespace

ProgressBar::ProgressBar(bool enabled, std::int64_t totalFrames)
    : active(enabled && ::isatty(STDERR_FILENO) == 1),
      total(totalFrames),
      started(std::chrono::steady_clock::now()),
      lastDrawn(started) {}

void ProgressBar::update(std::int64_t framesDone) {
    if (!active || total <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn < std::chrono::milliseconds(100)) return;
    lastDrawn = now;
    draw(framesDone);
}

void ProgressBar::draw(std::int64_t framesDone) {
    const double fraction =
        std::clamp(static_cast<double>(framesDone) / static_cast<double>(total), 0.0, 1.0);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string times =
        "  " + engine::clockText(elapsed) + " elapsed" +
        (fraction > 0.0 ? ", " + engine::clockText(elapsed / fraction - elapsed) + " left" : "");
    const int width = std::max(10, terminalWidth() - static_cast<int>(times.size()) - 8);
    const int filled = static_cast<int>(fraction * width);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    // The bar is only a view: a terminal that fails to take it stops no render.
    std::fputs(
        fmt::format("\r[{}] {:3}%{}", bar, static_cast<int>(fraction * 100.0), times).c_str(),
        stderr);
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (!active) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    active = false;
}

RenderSummary renderWithProgress(const engine::RenderJob& job, bool showProgress) {
    ProgressBar bar(showProgress, 0);
    return engine::renderFile(
        job, [&](std::int64_t done, std::int64_t total) { bar.update(done, total); },
        interruptRequested);
}

void printSummary(const RenderSummary& summary) {
    fmt::print("{}\n", engine::summaryLine(summary));
    const std::string warning = engine::summaryWarning(summary);
    if (warning.empty()) return;
    std::fflush(stdout);  // the warning follows its summary, also in a shared pipe
    std::fputs((warning + "\n").c_str(), stderr);
}

}  // namespace varkel::tool
