#include <cmath>

#include "analysis/figures.h"
#include "analysis/plot_curves.h"

namespace varkel::analysis {

namespace {

// Below the floor is drawn as a gap, not as a level.
std::vector<double> productCurve(const ImdResult& r, int channel,
                                 std::optional<double> ImdChannel::*product) {
    std::vector<double> y;
    for (const ImdPoint& p : r.points) {
        const auto& value = p.channels[static_cast<std::size_t>(channel)].*product;
        y.push_back(value && *value >= kImdFloorDb ? *value : NAN);
    }
    return y;
}

}  // namespace

Figure imdFigure(const std::vector<Analysis>& analyses) {
    const ImdResult& first = *analyses.front().imd;
    std::vector<double> x;
    for (const ImdPoint& p : first.points) x.push_back(p.levelDbfs);
    Figure figure;
    figure.title = "Intermodulation distortion against level";
    figure.subtitle = "IEC 60268-3; input level: the pair's peak; SMPTE 60 Hz + 7 kHz at 4:1, "
                      "sidebands re f2; CCIF 19 + 20 kHz at 1:1, d2 and d3 re 2 U(f2)";
    auto panelOf = [&](const char* label,
                       const std::vector<std::pair<std::optional<double> ImdChannel::*, const char*>>&
                           products) {
        Panel panel;
        panel.x = Axis{"input peak level (dBFS)", x.front(), x.back(), false, 0.0};
        bool dashed = false;
        for (const auto& [product, name] : products) {
            addCurves(
                panel, analyses, x,
                [&](const Analysis& a, int c) { return productCurve(*a.imd, c, product); },
                kSameDistortionDb, name, dashed);
            dashed = true;
        }
        panel.y = fittedAxis(label, allValues(panel), 10.0, 40.0);
        panel.legend = LegendCorner::TopLeft;
        return panel;
    };
    figure.panels.push_back(panelOf("SMPTE IMD (dB)", {{&ImdChannel::smpteDb, "SMPTE"}}));
    figure.panels.push_back(panelOf("CCIF (dB)", {{&ImdChannel::d2Db, "d2 f2-f1"},
                                                  {&ImdChannel::d3Db, "d3 2f1-f2 + 2f2-f1"}}));
    figure.height = 680;
    return figure;
}

}  // namespace varkel::analysis
