#include <cmath>
#include <cstdio>

#include "analysis/figures.h"
#include "analysis/plot_curves.h"

namespace varkel::analysis {

namespace {

// Red under the title when a device's outputs peak elsewhere than it says.
std::string latencyWarning(const std::vector<Analysis>& analyses) {
    std::string warning;
    for (const Analysis& a : analyses) {
        const ImpulseResult& r = *a.impulse;
        if (r.latencyAgrees()) continue;
        char text[160];
        std::snprintf(text, sizeof(text), "%s%s reports a latency of %d frames; out 1 peaks at %d",
                      warning.empty() ? "" : "; ", a.device.c_str(), r.reportedLatencyFrames,
                      r.channels.front().latencyFrames);
        warning += text;
    }
    return warning;
}

Figure timeFigure(const std::vector<Analysis>& analyses, const char* title, const char* label,
                  std::vector<double> ImpulseChannel::*curve) {
    const ImpulseResult& first = *analyses.front().impulse;
    std::vector<double> ms;
    for (std::size_t n = 0; n < first.frames; ++n)
        ms.push_back(1000.0 * static_cast<double>(n) / first.rate);
    Figure figure;
    figure.title = title;
    char text[200];
    std::snprintf(text, sizeof(text),
                  "log sine sweep %g Hz to %g Hz over %g s at %s, deconvolved; latency %d frames "
                  "(reported %d)",
                  first.fromHz, first.toHz, first.sweepSeconds, level(first.levelDbfs).c_str(),
                  first.channels.front().latencyFrames, first.reportedLatencyFrames);
    figure.subtitle = text;
    figure.warning = latencyWarning(analyses);
    Panel panel;
    panel.x = Axis{"time (ms)", 0.0, ms.empty() ? 1.0 : ms.back(), false, 0.0};
    addCurves(
        panel, analyses, ms,
        [&](const Analysis& a, int c) {
            std::vector<double> y = a.impulse->channels[static_cast<std::size_t>(c)].*curve;
            y.resize(ms.size(), NAN);
            return y;
        },
        1e-6);
    const std::vector<double> values = allValues(panel);
    double peak = 0.0;
    for (double v : values)
        if (std::isfinite(v)) peak = std::max(peak, std::fabs(v));
    const double step = peak > 0.0 ? std::pow(10.0, std::floor(std::log10(peak))) / 2.0 : 0.1;
    panel.y = fittedAxis(label, values, step, 2.0 * step, -INFINITY);
    figure.panels = {panel};
    return figure;
}

}  // namespace

Figure impulseFigure(const std::vector<Analysis>& analyses) {
    return timeFigure(analyses, "Impulse response", "amplitude", &ImpulseChannel::impulse);
}

Figure stepFigure(const std::vector<Analysis>& analyses) {
    return timeFigure(analyses, "Step response (running sum of the impulse response)", "amplitude",
                      &ImpulseChannel::step);
}

Figure groupDelayFigure(const std::vector<Analysis>& analyses) {
    const ImpulseResult& first = *analyses.front().impulse;
    const auto& f = first.frequencies;
    Figure figure;
    figure.title = "Group delay";
    char text[160];
    std::snprintf(text, sizeof(text),
                  "-d(phase)/d(omega) of the impulse response's first %.0f ms; latency %d frames "
                  "= %.3g ms",
                  1000.0 * static_cast<double>(first.frames) / first.rate,
                  first.channels.front().latencyFrames,
                  1000.0 * first.channels.front().latencyFrames / first.rate);
    figure.subtitle = text;
    figure.warning = latencyWarning(analyses);
    Panel panel;
    panel.x = frequencyAxis(f.front(), f.back());
    addCurves(
        panel, analyses, f,
        [](const Analysis& a, int c) {
            std::vector<double> ms;
            for (double s : a.impulse->channels[static_cast<std::size_t>(c)].groupDelaySeconds)
                ms.push_back(1000.0 * s);
            return ms;
        },
        1e-3);
    panel.y = fittedAxis("group delay (ms)", allValues(panel), 0.1, 0.5, -INFINITY);
    figure.panels = {panel};
    return figure;
}

}  // namespace varkel::analysis
