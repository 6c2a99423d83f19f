#include "analysis/plot_curves.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varkel::analysis {

namespace {

std::string joinChannels(const std::vector<int>& channels) {
    std::string text = channels.size() == 1 ? "out " : "outs ";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i > 0) text += '+';
        text += std::to_string(channels[i] + 1);
    }
    return text;
}

// Channels grouped by identical curves (to within tolerance).
std::vector<std::vector<int>> channelGroups(int channels,
                                            const std::function<std::vector<double>(int)>& curve,
                                            double tolerance) {
    std::vector<std::vector<int>> groups;
    for (int c = 0; c < channels; ++c) {
        const std::vector<double> mine = curve(c);
        bool placed = false;
        for (auto& group : groups) {
            const std::vector<double> theirs = curve(group.front());
            bool same = mine.size() == theirs.size();
            for (std::size_t i = 0; same && i < mine.size(); ++i)
                same = std::fabs(mine[i] - theirs[i]) <= tolerance ||
                       (mine[i] < -200.0 && theirs[i] < -200.0) ||
                       (std::isnan(mine[i]) && std::isnan(theirs[i]));
            if (same) {
                group.push_back(c);
                placed = true;
                break;
            }
        }
        if (!placed) groups.push_back({c});
    }
    return groups;
}

}  // namespace

void addCurves(Panel& panel, const std::vector<Analysis>& analyses, const std::vector<double>& x,
               const std::function<std::vector<double>(const Analysis&, int)>& curve,
               double tolerance, const std::string& suffix, bool dashed) {
    for (std::size_t d = 0; d < analyses.size(); ++d) {
        const Analysis& a = analyses[d];
        const auto groups = channelGroups(
            a.outputs, [&](int c) { return curve(a, c); }, tolerance);
        for (std::size_t g = 0; g < groups.size(); ++g) {
            Series s;
            s.label = (analyses.size() > 1 ? std::string(d == 0 ? "A: " : "B: ") : "") + a.device +
                      (a.outputs > 1 ? ", " + joinChannels(groups[g]) : "") +
                      (suffix.empty() ? "" : ": " + suffix);
            s.x = x;
            s.y = curve(a, groups[g].front());
            s.colour = kPalette[std::min<std::size_t>(d, 1)][std::min<std::size_t>(g, 1)];
            s.dashed = dashed || g > 0;
            panel.series.push_back(std::move(s));
        }
    }
}

std::vector<double> allValues(const Panel& panel) {
    std::vector<double> values;
    for (const Series& s : panel.series) values.insert(values.end(), s.y.begin(), s.y.end());
    return values;
}

Axis frequencyAxis(double low, double high) { return Axis{"frequency (Hz)", low, high, true, 0.0}; }

std::string level(double dbfs) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g dBFS", dbfs);
    return text;
}

std::string hz(double f) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.6g Hz", f);
    return text;
}

std::string shortHz(double f) {
    char text[32];
    std::snprintf(text, sizeof(text), f >= 1000.0 ? "%.3g kHz" : "%.3g Hz",
                  f >= 1000.0 ? f / 1000.0 : f);
    return text;
}


}  // namespace varkel::analysis
