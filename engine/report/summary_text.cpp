#include "engine/report/summary_text.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "engine/render/quiet_end.h"
#include "engine/report/clean_text.h"

namespace varkel::engine {

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
    const double tail = static_cast<double>(summary.tailFrames) / summary.sampleRate;
    if (summary.fromMidi) {
        switch (summary.tail) {
            case RenderSummary::Tail::Given:
                line += fmt::format("; {:.3f} s tail after the last MIDI event, as asked", tail);
                break;
            case RenderSummary::Tail::UntilQuiet:
                line += fmt::format("; {:.3f} s tail after the last MIDI event, until below "
                                    "{:g} dBFS for {:g} ms", tail, kQuietLevelDbfs,
                                    kQuietSeconds * 1000.0);
                break;
            case RenderSummary::Tail::Longest:
                line += fmt::format("; {:.3f} s tail after the last MIDI event, the longest: "
                                    "still above {:g} dBFS there", tail, kQuietLevelDbfs);
                break;
        }
    } else if (summary.tailFrames > 0) {
        line += fmt::format("; {:.3f} s tail", tail);
    }
    if (summary.resampledFrom > 0)
        line += fmt::format("; resampled from {} Hz to {} Hz", summary.resampledFrom,
                            summary.sampleRate);
    if (summary.loudnessGainDb)
        line += fmt::format("; scaled by {:+.2f} dB to the loudness asked for",
                            *summary.loudnessGainDb);
    if (summary.loudness)
        line += fmt::format("; loudness {:.1f} LUFS, range {:.1f} LU, true peak {:.2f} dBTP",
                            summary.loudness->integratedLufs, summary.loudness->rangeLu,
                            summary.loudness->truePeakDbtp);
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

}  // namespace varkel::engine
