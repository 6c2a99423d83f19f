#include <cmath>
#include <cstdio>

#include "analysis/figures.h"
#include "analysis/plot_curves.h"

namespace varkel::analysis {

namespace {

// Per point and channel: the total, or the strongest alias's level.
std::vector<double> aliasCurve(const AliasingResult& r, int channel, bool strongest) {
    std::vector<double> y;
    for (const AliasingPoint& p : r.points) {
        const AliasingChannel& c = p.channels[static_cast<std::size_t>(channel)];
        if (!strongest)
            y.push_back(c.totalDb);
        else
            y.push_back(c.aliases.empty() ? NAN : c.aliases.front().levelDb);
    }
    return y;
}

}  // namespace

Figure aliasingFigure(const std::vector<Analysis>& analyses) {
    const AliasingResult& first = *analyses.front().aliasing;
    std::vector<double> x;
    for (const AliasingPoint& p : first.points) x.push_back(p.frequency);
    Figure figure;
    figure.title = "Aliasing: harmonics above Nyquist folded back";
    figure.subtitle = "sines at " + level(first.levelDbfs) + ", harmonics 2 to " +
                      std::to_string(first.highestOrder) + " where they fold, re the tone";
    const int oversample =
        analyses.front().oversampledAliasing ? analyses.front().oversampledAliasing->oversample : 1;
    if (oversample > 1)
        figure.subtitle += "; dashed: at " + std::to_string(oversample) +
                           "x the rate via libsoxr, harmonics to " +
                           std::to_string(analyses.front().oversampledAliasing->highestOrder);
    auto panelOf = [&](const char* label, bool strongest) {
        Panel panel;
        panel.x = Axis{"tone frequency (Hz)", x.front(), x.back(), false, 0.0};
        addCurves(
            panel, analyses, x,
            [&](const Analysis& a, int c) { return aliasCurve(*a.aliasing, c, strongest); },
            kSameDistortionDb);
        if (oversample > 1)
            addCurves(
                panel, analyses, x,
                [&](const Analysis& a, int c) {
                    return aliasCurve(*a.oversampledAliasing, c, strongest);
                },
                kSameDistortionDb, std::to_string(oversample) + "x oversampled", true);
        panel.y = fittedAxis(label, allValues(panel), 10.0, 40.0);
        panel.y.min = std::max(panel.y.min, -200.0);
        return panel;
    };
    figure.panels = {panelOf("all aliases (dB re tone)", false),
                     panelOf("strongest alias (dB re tone)", true)};
    for (Series& s : figure.panels[1].series) s.label.clear();
    figure.height = 620;
    return figure;
}

}  // namespace varkel::analysis
