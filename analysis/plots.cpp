#include "analysis/plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "analysis/chart.h"
#include "analysis/figures.h"
#include "analysis/level_dependence.h"
#include "analysis/plot_curves.h"

namespace varkel::analysis {

namespace {

// Spectrum columns drawn per figure: the bins in each are peak-held.
constexpr int kSpectrumColumns = 1200;

Figure responseFigure(const std::vector<Analysis>& analyses, double rate) {
    const ResponseResult& first = *analyses.front().response;
    const auto& f = first.frequencies;
    Figure figure;
    figure.title = "Frequency response";
    figure.subtitle = "stepped sines at " + level(first.levelDbfs) + ", " +
                      std::to_string(f.size()) + " frequencies, " + hz(rate) +
                      " sample rate; phase unwrapped from " + hz(f.front());
    figure.height = 620;
    for (std::size_t d = 0; d < analyses.size(); ++d) {
        const auto dependence = levelDependence(*analyses[d].response);
        if (!dependence) continue;
        char text[64];
        std::snprintf(text, sizeof(text), "%+.2f dB (%sout %d, %s)", dependence->changeDb,
                      analyses.size() > 1 ? (d == 0 ? "A: " : "B: ") : "", dependence->channel + 1,
                      shortHz(dependence->frequency).c_str());
        figure.warning += figure.warning.empty()
                              ? "Not linear at " + level(first.levelDbfs) +
                                    ": the gain differs from that at " +
                                    level(first.levelDbfs - kQuieterByDb) + " by up to " + text
                              : ", " + std::string(text);
    }
    Panel magnitude;
    magnitude.x = frequencyAxis(f.front(), f.back());
    addCurves(
        magnitude, analyses, f,
        [](const Analysis& a, int c) { return a.response->channels[c].magnitudeDb; },
        kSameResponseDb);
    magnitude.y = fittedAxis("gain (dB)", allValues(magnitude), 3.0, 12.0);
    magnitude.legend = LegendCorner::BottomLeft;
    Panel phase;
    phase.x = magnitude.x;
    addCurves(
        phase, analyses, f,
        [](const Analysis& a, int c) { return a.response->channels[c].phaseDeg; }, kSameResponseDb);
    // No floor: an unwrapped phase runs to thousands of degrees below zero.
    phase.y = fittedAxis("phase (degrees)", allValues(phase), 45.0, 180.0, -INFINITY);
    for (Series& s : phase.series) s.label.clear();
    figure.panels = {magnitude, phase};
    return figure;
}

// Peak-held columns of a spectrum, evenly spaced in log frequency.
std::pair<std::vector<double>, std::vector<double>> spectrumColumns(const Spectrum& spectrum,
                                                                    double low, double high) {
    std::vector<double> x, y;
    const double step = std::log(high / low) / kSpectrumColumns;
    std::size_t bin = 1;
    for (int column = 0; column < kSpectrumColumns; ++column) {
        const double end = low * std::exp(step * (column + 1));
        double peak = -INFINITY;
        double at = 0.0;
        for (; bin < spectrum.levelDbfs.size() && bin * spectrum.binHz <= end; ++bin) {
            if (bin * spectrum.binHz < low) continue;
            if (spectrum.levelDbfs[bin] > peak) {
                peak = spectrum.levelDbfs[bin];
                at = bin * spectrum.binHz;
            }
        }
        if (std::isfinite(peak)) {
            x.push_back(at);
            y.push_back(peak);
        }
    }
    return {x, y};
}

std::string percent(double ratio) {
    char text[48];
    std::snprintf(text, sizeof(text), "%.4g %% (%.1f dB)", 100.0 * ratio,
                  20.0 * std::log10(std::max(ratio, 1e-20)));
    return text;
}

Figure spectrumFigure(const std::vector<Analysis>& analyses, double rate) {
    const HarmonicsResult& first = *analyses.front().harmonics;
    Figure figure;
    figure.title = "Spectrum of a steady sine";
    figure.subtitle = hz(first.frequency) + " (bin-exact) at " + level(first.levelDbfs) +
                      ", Blackman-Harris window, FFT " + std::to_string(first.fftLength) +
                      "; THD out 1: " + percent(first.channels.front().thd);
    if (analyses.size() > 1)
        figure.subtitle += ", B " + percent(analyses[1].harmonics->channels.front().thd);
    Panel panel;
    const double low = 10.0;
    const double high = rate / 2.0;
    panel.x = frequencyAxis(low, high);
    for (std::size_t d = 0; d < analyses.size(); ++d) {
        const Analysis& a = analyses[d];
        // Spectra differ in their noise, so every channel is drawn; the
        // second device over the first.
        for (int c = 0; c < a.outputs; ++c) {
            auto [x, y] = spectrumColumns(a.harmonics->spectra[c], low, high);
            Series s;
            s.label = (analyses.size() > 1 ? std::string(d == 0 ? "A: " : "B: ") : "") + a.device +
                      (a.outputs > 1 ? ", out " + std::to_string(c + 1) : "");
            s.x = std::move(x);
            s.y = std::move(y);
            s.colour = kPalette[std::min<std::size_t>(d, 1)][std::min(c, 1)];
            s.width = 1.0;
            s.dashed = false;
            panel.series.push_back(std::move(s));
        }
    }
    Axis y = fittedAxis("level (dBFS)", allValues(panel), 20.0, 60.0, -400.0);
    y.min = std::max(y.min, -200.0);
    panel.y = y;
    figure.panels = {panel};
    return figure;
}

// THD above, THD+N below, against the sweep's x; tones(a) gives the tones of
// one analysis, point by point.
Figure distortionFigure(
    const std::vector<Analysis>& analyses, const std::vector<double>& x, const Axis& xAxis,
    const std::function<std::vector<const std::vector<ToneAnalysis>*>(const Analysis&)>& tones) {
    auto panelOf = [&](const char* label, double ToneAnalysis::*member) {
        Panel panel;
        panel.x = xAxis;
        addCurves(
            panel, analyses, x,
            [&](const Analysis& a, int c) {
                std::vector<double> y;
                for (const auto* point : tones(a))
                    y.push_back(member == &ToneAnalysis::thd &&
                                        !thdCountsTheThirdHarmonic((*point)[c])
                                    ? NAN
                                    : ratioDb((*point)[c].*member));
                return y;
            },
            kSameDistortionDb);
        panel.y = fittedAxis(label, allValues(panel), 10.0, 40.0);
        return panel;
    };
    Figure figure;
    figure.panels = {panelOf("THD (dB)", &ToneAnalysis::thd),
                     panelOf("THD+N (dB)", &ToneAnalysis::thdN)};
    for (Series& s : figure.panels[1].series) s.label.clear();
    figure.height = 620;
    return figure;
}

Figure distortionByLevelFigure(const std::vector<Analysis>& analyses) {
    const LevelSweep& first = *analyses.front().levels;
    std::vector<double> x;
    for (const LevelPoint& p : first.points) x.push_back(p.inputDbfs);
    Figure figure =
        distortionFigure(analyses, x, Axis{"input level (dBFS)", x.front(), x.back(), false, 0.0},
                         [](const Analysis& a) {
                             std::vector<const std::vector<ToneAnalysis>*> tones;
                             for (const LevelPoint& p : a.levels->points) tones.push_back(&p.tones);
                             return tones;
                         });
    figure.title = "Distortion against input level";
    figure.subtitle = "THD (harmonics 2-10) and THD+N (all but the tone), " + hz(first.frequency) +
                      " sine, " + level(x.front()) + " to " + level(x.back());
    return figure;
}

Figure distortionByFrequencyFigure(const std::vector<Analysis>& analyses) {
    const FrequencySweep& first = *analyses.front().frequencies;
    std::vector<double> x;
    for (const FrequencyPoint& p : first.points) x.push_back(p.frequency);
    Figure figure =
        distortionFigure(analyses, x, frequencyAxis(x.front(), x.back()), [](const Analysis& a) {
            std::vector<const std::vector<ToneAnalysis>*> tones;
            for (const FrequencyPoint& p : a.frequencies->points) tones.push_back(&p.tones);
            return tones;
        });
    figure.title = "Distortion against frequency";
    figure.subtitle =
        "THD (harmonics 2-10 below Nyquist) and THD+N, sine at " + level(first.levelDbfs);
    const auto lastWithThd = std::find_if(
        first.points.rbegin(), first.points.rend(),
        [](const FrequencyPoint& p) { return thdCountsTheThirdHarmonic(p.tones.front()); });
    // The sweep starts far below a sixth of the rate, so some point has THD.
    if (lastWithThd != first.points.rbegin() && lastWithThd != first.points.rend())
        figure.subtitle +=
            "; no THD above " + shortHz(lastWithThd->frequency) + ", where H3 lies beyond Nyquist";
    else
        figure.subtitle += ", bin-exact frequencies";
    return figure;
}

Figure transferFigure(const std::vector<Analysis>& analyses) {
    const LevelSweep& first = *analyses.front().levels;
    std::vector<double> x;
    for (const LevelPoint& p : first.points) x.push_back(p.inputDbfs);
    Figure figure;
    figure.title = "Transfer: output level against input level";
    figure.subtitle = hz(first.frequency) +
                      " sine held at each level; solid peak, dashed RMS, "
                      "both in dBFS; grey: output = input";
    Panel panel;
    panel.x = Axis{"input peak level (dBFS)", x.front(), x.back(), false, 0.0};
    addCurves(
        panel, analyses, x,
        [](const Analysis& a, int c) {
            std::vector<double> y;
            for (const LevelPoint& p : a.levels->points) y.push_back(p.outputPeakDbfs[c]);
            return y;
        },
        kSameDistortionDb, "peak");
    addCurves(
        panel, analyses, x,
        [](const Analysis& a, int c) {
            std::vector<double> y;
            for (const LevelPoint& p : a.levels->points) y.push_back(p.outputRmsDbfs[c]);
            return y;
        },
        kSameDistortionDb, "RMS", true);
    panel.y = fittedAxis("output level (dBFS)", allValues(panel), 6.0, 24.0);
    panel.series.push_back(Series{"", x, x, Colour{0.6, 0.6, 0.6}, true, 1.0});
    panel.legend = LegendCorner::BottomRight;
    figure.panels = {panel};
    return figure;
}

struct PlotKind {
    const char* name;
    Measurement measurement;
    Figure (*figure)(const std::vector<Analysis>& analyses, double rate);
};

template <Figure (*make)(const std::vector<Analysis>&)>
Figure atAnyRate(const std::vector<Analysis>& analyses, double) {
    return make(analyses);
}

const PlotKind kPlots[] = {
    {"response", Measurement::Response, responseFigure},
    {"spectrum", Measurement::Harmonics, spectrumFigure},
    {"distortion-vs-level", Measurement::Distortion,
     [](const std::vector<Analysis>& a, double) { return distortionByLevelFigure(a); }},
    {"distortion-vs-frequency", Measurement::Distortion,
     [](const std::vector<Analysis>& a, double) { return distortionByFrequencyFigure(a); }},
    {"transfer", Measurement::Transfer,
     [](const std::vector<Analysis>& a, double) { return transferFigure(a); }},
    {"impulse", Measurement::Impulse, atAnyRate<impulseFigure>},
    {"step", Measurement::Impulse, atAnyRate<stepFigure>},
    {"group-delay", Measurement::Impulse, atAnyRate<groupDelayFigure>},
    {"aliasing", Measurement::Aliasing, atAnyRate<aliasingFigure>},
    {"imd", Measurement::Imd, atAnyRate<imdFigure>},
};

}  // namespace

std::vector<std::string> writePlots(const std::vector<Analysis>& analyses, const AnalysisPlan& plan,
                                    const std::string& folder) {
    std::vector<std::string> names;
    for (const PlotKind& plot : kPlots) {
        // Aliasing has no tones at a rate below twice its lowest.
        if (!plan.includes(plot.measurement) ||
            (plot.measurement == Measurement::Aliasing && !analyses.front().aliasing))
            continue;
        const std::string path = folder + "/" + plot.name;
        writeFigure(plot.figure(analyses, plan.rate), path + ".png", path + ".svg");
        names.push_back(plot.name);
    }
    releaseFontCaches();
    return names;
}

std::vector<std::string> plotFileNames() {
    std::vector<std::string> names;
    for (const PlotKind& plot : kPlots)
        for (const char* extension : {".png", ".svg"})
            names.push_back(plot.name + std::string(extension));
    return names;
}

}  // namespace varkel::analysis
