#include "tools/varkel-host/cli/report.h"

#include "tools/varkel-host/cli/clean_text.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

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
        "  " + clockText(elapsed) + " elapsed" +
        (fraction > 0.0 ? ", " + clockText(elapsed / fraction - elapsed) + " left" : "");
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

std::string clockText(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    return fmt::format("{}:{:02}", whole / 60, whole % 60);
}

std::string batchTotalsLine(std::size_t files, std::size_t rendered, std::size_t skipped,
                            std::size_t failed, std::size_t notRendered, double seconds) {
    std::string line = fmt::format("{} {}: {} rendered", files, files == 1 ? "file" : "files", rendered);
    if (skipped > 0) line += fmt::format(", {} skipped (their outputs exist)", skipped);
    line += fmt::format(", {} failed", failed);
    if (notRendered > 0) line += fmt::format(", {} not rendered (interrupted)", notRendered);
    return line + ", " + clockText(seconds);
}

std::string dbfs(double level) {
    if (level <= 0.0) return "-inf dBFS";
    return fmt::format("{:.2f} dBFS", 20.0 * std::log10(level));
}

std::string summaryLine(const RenderSummary& summary) {
    const double duration = static_cast<double>(summary.frames) / summary.sampleRate;
    // A tiny file can finish within the clock's resolution.
    const double speed = duration / std::max(summary.elapsedSeconds, 1e-6);
    std::string line = fmt::format("{}: {} frames, {:.3f} s, {:.1f}x realtime, peak {}, RMS {}",
                                   cleanText(summary.output), summary.frames, duration, speed,
                                   dbfs(summary.levels.peakLevel()), dbfs(summary.levels.rmsLevel()));
    line += "; " + summary.format + (summary.dithered ? ", dithered" : "");
    if (!summary.channelMapping.empty()) line += "; " + summary.channelMapping;
    if (summary.latencyFrames > 0)
        line += fmt::format("; latency of {} frames compensated", summary.latencyFrames);
    if (summary.tailFrames > 0)
        line += fmt::format("; {:.3f} s tail", static_cast<double>(summary.tailFrames) /
                                                   summary.sampleRate);
    return line;
}

std::string summaryWarning(const RenderSummary& summary) {
    std::string warning;
    const auto add = [&warning](const std::string& part) {
        warning += (warning.empty() ? "" : "; ") + part;
    };
    for (const std::string& note : summary.pluginWarnings) add(note);
    if (summary.missingFrames > 0)
        add(fmt::format("{} ends {} frames short of the length its header declares; rendered "
                        "the {} present",
                        summary.input, summary.missingFrames, summary.frames));
    if (summary.automationPastEnd > 0)
        add(fmt::format("{} automation point{} past the last frame, not applied",
                        summary.automationPastEnd, summary.automationPastEnd == 1 ? " lies" : "s lie"));
    const auto over = summary.levels.samplesOverFullScale();
    if (summary.integerOutput && over > 0)
        add(std::to_string(over) + " samples exceed full scale and were clipped");
    return warning.empty() ? warning : "warning: " + cleanText(summary.output) + ": " + warning;
}

RenderSummary renderWithProgress(const engine::RenderJob& job, bool showProgress) {
    ProgressBar bar(showProgress, 0);
    return engine::renderFile(
        job, [&](std::int64_t done, std::int64_t total) { bar.update(done, total); },
        interruptRequested);
}

void printSummary(const RenderSummary& summary) {
    fmt::print("{}\n", summaryLine(summary));
    const std::string warning = summaryWarning(summary);
    if (warning.empty()) return;
    std::fflush(stdout);  // the warning follows its summary, also in a shared pipe
    std::fputs((warning + "\n").c_str(), stderr);
}

}  // namespace varkel::tool
