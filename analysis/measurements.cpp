#include "analysis/measurements.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysis/rendering.h"
#include "analysis/sine_fit.h"

namespace varkel::analysis {

namespace {

// Response windows: at least this long and at least two cycles.
constexpr double kResponseWindowSeconds = 0.1;
constexpr double kHarmonicsFftSeconds = 0.5;
constexpr double kSweepFftSeconds = 0.25;
// Tones in a frequency sweep get at least this many bins per cycle of
// spacing, so that a 20 Hz fundamental stays well clear of DC.
constexpr double kMinToneBins = 32.0;

double wrapDegrees(double degrees) {
    double wrapped = std::remainder(degrees, 360.0);
    if (wrapped <= -180.0) wrapped += 360.0;
    return wrapped;
}

// Nearest to previous among phase + k * 360.
double unwrapNear(double phase, double previous) {
    return phase + 360.0 * std::round((previous - phase) / 360.0);
}

// The frequency between grid points i and j where the relative gain crosses
// -3 dB, linear in dB against log frequency.
double crossing(const std::vector<double>& f, const std::vector<double>& relativeDb, std::size_t i,
                std::size_t j) {
    const double t = (-3.0 - relativeDb[i]) / (relativeDb[j] - relativeDb[i]);
    return std::exp(std::log(f[i]) + t * (std::log(f[j]) - std::log(f[i])));
}

// The phases of gains at f, unwrapped from the lowest frequency with
// latency frames taken out, into response.
void unwrapPhase(const std::vector<std::complex<double>>& gains, const std::vector<double>& f,
                 double rate, int latency, ChannelResponse& response) {
    const auto delayDeg = [&](double frequency) { return 360.0 * frequency * latency / rate; };
    auto& without = response.phaseWithoutLatencyDeg;
    for (std::size_t i = 0; i < f.size(); ++i) {
        const double phase = std::arg(gains[i]) * 180.0 / std::numbers::pi + delayDeg(f[i]);
        without.push_back(i == 0 ? wrapDegrees(phase) : unwrapNear(phase, without[i - 1]));
    }
    // The delay's turns below the lowest frequency are not measured.
    const double start = f.empty() ? 0.0 : without[0] - delayDeg(f[0]);
    const double turns = wrapDegrees(start) - start;
    for (std::size_t i = 0; i < f.size(); ++i)
        response.phaseDeg.push_back(without[i] - delayDeg(f[i]) + turns);
    response.latencyFrames = latency;
}

// latencies: each output's, measured.
ResponseResult measureResponse(const Device& device, const AnalysisPlan& plan, Renderer& render,
                               const std::vector<int>& latencies) {
    ResponseResult result;
    result.levelDbfs = plan.responseLevelDbfs;
    result.frequencies =
        frequencyGrid(plan.responseLowestHz, 0.495 * plan.rate, plan.responsePointsPerOctave);
    const auto settle = static_cast<std::size_t>(kSettleSeconds * plan.rate);
    const auto channels = static_cast<std::size_t>(device.outputs());
    // At the level, then kQuieterByDb lower.
    std::vector<std::vector<std::complex<double>>> gains(channels), quieterGains(channels);
    for (double f : result.frequencies) {
        const double cycles = std::ceil(std::max(kResponseWindowSeconds * f, 2.0));
        const auto window = static_cast<std::size_t>(std::ceil(cycles * plan.rate / f));
        const auto measure = [&](double dbfs,
                                 std::vector<std::vector<std::complex<double>>>& into) {
            const Signal input = sine(f, amplitudeOf(dbfs), plan.rate, settle + window);
            const auto outputs = render(input, describeTone(f, dbfs));
            const std::complex<double> in = fitSinusoid(input.data(), settle, window, f, plan.rate);
            for (std::size_t c = 0; c < channels; ++c)
                into[c].push_back(fitSinusoid(outputs[c].data(), settle, window, f, plan.rate) /
                                  in);
        };
        measure(plan.responseLevelDbfs, gains);
        measure(plan.responseLevelDbfs - kQuieterByDb, quieterGains);
    }

    const auto& f = result.frequencies;
    const auto reference =
        static_cast<std::size_t>(std::find(f.begin(), f.end(), kReferenceHz) - f.begin());
    for (std::size_t c = 0; c < channels; ++c) {
        ChannelResponse response;
        for (std::size_t i = 0; i < f.size(); ++i) {
            const std::complex<double> g = gains[c][i];
            response.magnitudeDb.push_back(ratioDb(std::abs(g)));
            response.gainChangeDb.push_back(response.magnitudeDb.back() -
                                            ratioDb(std::abs(quieterGains[c][i])));
        }
        unwrapPhase(gains[c], f, plan.rate, latencies[c], response);
        if (reference < f.size()) {
            response.referenceGainDb = response.magnitudeDb[reference];
            std::vector<double> relative;
            for (double m : response.magnitudeDb) relative.push_back(m - response.referenceGainDb);
            for (std::size_t i = reference; i-- > 0;)
                if (relative[i] < -3.0) {
                    response.lowCornerHz = crossing(f, relative, i, i + 1);
                    break;
                }
            for (std::size_t i = reference + 1; i < f.size(); ++i)
                if (relative[i] < -3.0) {
                    response.highCornerHz = crossing(f, relative, i - 1, i);
                    break;
                }
        }
        result.channels.push_back(std::move(response));
    }
    return result;
}

// A tone held until the device has settled, then one FFT length analysed.
struct ToneRender {
    double frequency = 0.0;
    std::vector<ToneAnalysis> tones;
    std::vector<Spectrum> spectra;
    std::vector<double> peakDbfs;
    std::vector<double> rmsDbfs;
};

ToneRender renderTone(double wanted, double dbfs, std::size_t fftLength, double rate,
                      bool keepSpectra, Renderer& render) {
    ToneRender result;
    result.frequency = binExactFrequency(wanted, rate, fftLength);
    const auto bin = static_cast<std::size_t>(
        std::llround(result.frequency * static_cast<double>(fftLength) / rate));
    const auto settle = static_cast<std::size_t>(kSettleSeconds * rate);
    const Signal input = sine(result.frequency, amplitudeOf(dbfs), rate, settle + fftLength);
    const auto outputs = render(input, describeTone(result.frequency, dbfs));
    for (const Signal& output : outputs) {
        const float* window = output.data() + settle;
        Spectrum spectrum;
        result.tones.push_back(
            analyseTone(window, fftLength, rate, bin, keepSpectra ? &spectrum : nullptr));
        if (keepSpectra) result.spectra.push_back(std::move(spectrum));
        double peak = 0.0;
        double squares = 0.0;
        for (std::size_t n = 0; n < fftLength; ++n) {
            const double s = window[n];
            peak = std::max(peak, std::fabs(s));
            squares += s * s;
        }
        result.peakDbfs.push_back(ratioDb(peak));
        result.rmsDbfs.push_back(ratioDb(std::sqrt(squares / static_cast<double>(fftLength))));
    }
    return result;
}

std::vector<double> distortionFrequencies(const AnalysisPlan& plan) {
    return frequencyGrid(plan.distortionLowestHz,
                         std::min(plan.distortionHighestHz, 0.45 * plan.rate),
                         plan.distortionPointsPerOctave);
}

}  // namespace

std::vector<double> frequencyGrid(double lowest, double highest, int pointsPerOctave) {
    // The ends themselves are points; grid points within a twentieth of a
    // step of an end give way to it.
    const double slack = 0.05;
    const auto first =
        static_cast<int>(std::ceil(std::log2(lowest / kReferenceHz) * pointsPerOctave + slack));
    const auto last =
        static_cast<int>(std::floor(std::log2(highest / kReferenceHz) * pointsPerOctave - slack));
    std::vector<double> grid{lowest};
    for (int k = first; k <= last; ++k)
        grid.push_back(k == 0 ? kReferenceHz
                              : kReferenceHz * std::exp2(static_cast<double>(k) / pointsPerOctave));
    if (highest > lowest) grid.push_back(highest);
    return grid;
}

std::optional<double> levelWhereThdReaches(const LevelSweep& sweep, int channel, double ratio) {
    const auto c = static_cast<std::size_t>(channel);
    const auto& points = sweep.points;
    if (points.empty()) return std::nullopt;
    // From the cleanest level upwards: below it distortion falls with level
    // (crossover, noise), above it rises (clipping), which is what is asked.
    std::size_t cleanest = 0;
    for (std::size_t i = 1; i < points.size(); ++i)
        if (points[i].tones[c].thd < points[cleanest].tones[c].thd) cleanest = i;
    if (points[cleanest].tones[c].thd >= ratio) return points[cleanest].inputDbfs;
    for (std::size_t i = cleanest + 1; i < points.size(); ++i) {
        const double thd = points[i].tones[c].thd;
        if (thd < ratio) continue;
        const double before = ratioDb(points[i - 1].tones[c].thd);
        const double t = (ratioDb(ratio) - before) / (ratioDb(thd) - before);
        return points[i - 1].inputDbfs + t * (points[i].inputDbfs - points[i - 1].inputDbfs);
    }
    return std::nullopt;
}

Analysis analyse(const Device& device, const AnalysisPlan& plan,
                 const std::function<void(double)>& progress, const Device* oversampled) {
    if (device.outputs() < 1)
        throw AnalysisError(device.description() + " has no outputs; there is nothing to measure");
    const bool sweepLevel =
        plan.includes(Measurement::Distortion) || plan.includes(Measurement::Transfer);
    const std::vector<double> levels = sweepLevel ? sweepLevels(plan) : std::vector<double>{};
    const std::vector<double> frequencies = plan.includes(Measurement::Distortion)
                                                ? distortionFrequencies(plan)
                                                : std::vector<double>{};
    std::size_t renders = levels.size() + frequencies.size();
    if (plan.includes(Measurement::Response))
        renders += 2 * frequencyGrid(plan.responseLowestHz, 0.495 * plan.rate,
                                     plan.responsePointsPerOctave)
                           .size();
    if (plan.includes(Measurement::Harmonics)) ++renders;
    // The response's phase is unwrapped with the latency taken out.
    const bool impulse =
        plan.includes(Measurement::Impulse) || plan.includes(Measurement::Response);
    if (impulse) ++renders;
    if (plan.includes(Measurement::Aliasing))
        renders += (oversampled ? 2 : 1) * aliasingToneCount(plan);
    if (plan.includes(Measurement::Imd)) renders += imdRenderCount(plan);
    Renderer render(device, static_cast<int>(renders), progress);

    Analysis analysis;
    analysis.device = device.description();
    analysis.identity = device.identity();
    analysis.parameters = device.parameters();
    analysis.outputs = device.outputs();
    if (impulse) {
        ImpulseResult measured = measureImpulse(device, plan, render);
        if (plan.includes(Measurement::Response)) {
            std::vector<int> latencies;
            for (const ImpulseChannel& c : measured.channels) latencies.push_back(c.latencyFrames);
            analysis.response = measureResponse(device, plan, render, latencies);
        }
        if (plan.includes(Measurement::Impulse)) analysis.impulse = std::move(measured);
    }
    if (plan.includes(Measurement::Harmonics)) {
        const std::size_t fftLength = powerOfTwoAtLeast(kHarmonicsFftSeconds * plan.rate);
        ToneRender tone =
            renderTone(plan.toneHz, plan.toneLevelDbfs, fftLength, plan.rate, true, render);
        analysis.harmonics = HarmonicsResult{tone.frequency, plan.toneLevelDbfs, fftLength,
                                             std::move(tone.tones), std::move(tone.spectra)};
    }
    if (sweepLevel) {
        LevelSweep sweep;
        const std::size_t fftLength = powerOfTwoAtLeast(kSweepFftSeconds * plan.rate);
        for (double level : levels) {
            ToneRender tone = renderTone(plan.toneHz, level, fftLength, plan.rate, false, render);
            sweep.frequency = tone.frequency;
            sweep.points.push_back(LevelPoint{level, level - 10.0 * std::log10(2.0),
                                              std::move(tone.tones), std::move(tone.peakDbfs),
                                              std::move(tone.rmsDbfs)});
        }
        analysis.levels = std::move(sweep);
    }
    if (!frequencies.empty()) {
        FrequencySweep sweep;
        sweep.levelDbfs = plan.toneLevelDbfs;
        for (double f : frequencies) {
            const std::size_t fftLength = powerOfTwoAtLeast(
                std::max(kSweepFftSeconds * plan.rate, kMinToneBins * plan.rate / f));
            ToneRender tone =
                renderTone(f, plan.toneLevelDbfs, fftLength, plan.rate, false, render);
            sweep.points.push_back(FrequencyPoint{tone.frequency, std::move(tone.tones)});
        }
        analysis.frequencies = std::move(sweep);
    }
    if (plan.includes(Measurement::Aliasing) && aliasingToneCount(plan) > 0) {
        analysis.aliasing = measureAliasing(device, plan, 1, render);
        if (oversampled != nullptr)
            analysis.oversampledAliasing =
                measureAliasing(*oversampled, plan, plan.oversample, render);
    }
    if (plan.includes(Measurement::Imd)) analysis.imd = measureImd(device, plan, render);
    return analysis;
}

}  // namespace varkel::analysis
