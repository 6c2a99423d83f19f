#include "analysis/intermodulation.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "analysis/measurements.h"

namespace varkel::analysis {

namespace {

// 0.74 s at 44.1 kHz: 1.35 Hz bins put 60 Hz sidebands 44 bins apart.
constexpr double kImdFftSeconds = 0.7;
// Highest product of each method, as a fraction of the rate, below Nyquist
// with room for its bins.
constexpr double kHighestProductOfRate = 0.48;

struct Method {
    TonePair tones;
    std::size_t bin1 = 0, bin2 = 0;
};

std::optional<Method> methodAt(double f1, double f2, double ratio, double highestProduct,
                               const AnalysisPlan& plan, std::size_t fftLength) {
    if (highestProduct > kHighestProductOfRate * plan.rate) return std::nullopt;
    const double binHz = plan.rate / static_cast<double>(fftLength);
    Method m;
    m.bin1 = static_cast<std::size_t>(std::llround(f1 / binHz));
    m.bin2 = static_cast<std::size_t>(std::llround(f2 / binHz));
    m.tones = {static_cast<double>(m.bin1) * binHz, static_cast<double>(m.bin2) * binHz, ratio};
    return m;
}

std::optional<Method> smpteMethod(const AnalysisPlan& plan, std::size_t fftLength) {
    return methodAt(60.0, 7000.0, 4.0, 7180.0, plan, fftLength);
}

std::optional<Method> ccifMethod(const AnalysisPlan& plan, std::size_t fftLength) {
    return methodAt(19000.0, 20000.0, 1.0, 21000.0, plan, fftLength);
}

std::size_t imdFftLength(const AnalysisPlan& plan) {
    return powerOfTwoAtLeast(kImdFftSeconds * plan.rate);
}

// The pair with the peak (sum of amplitudes) at dbfs, summed in double.
Signal tonePair(const TonePair& pair, double dbfs, double rate, std::size_t length) {
    const double peak = amplitudeOf(dbfs);
    const double a2 = peak / (1.0 + pair.ratio);
    const double a1 = peak - a2;
    Signal signal(length);
    const double w1 = 2.0 * std::numbers::pi * pair.f1 / rate;
    const double w2 = 2.0 * std::numbers::pi * pair.f2 / rate;
    for (std::size_t n = 0; n < length; ++n) {
        const auto t = static_cast<double>(n);
        signal[n] = static_cast<float>(a1 * std::sin(w1 * t) + a2 * std::sin(w2 * t));
    }
    return signal;
}

std::vector<std::vector<double>> renderPair(const Method& m, double dbfs,
                                            const std::vector<std::size_t>& bins,
                                            const AnalysisPlan& plan, std::size_t fftLength,
                                            const Device& device, Renderer& render) {
    const auto settle = static_cast<std::size_t>(kSettleSeconds * plan.rate);
    char what[128];
    std::snprintf(what, sizeof(what), "%.1f Hz and %.1f Hz at %.1f dBFS", m.tones.f1, m.tones.f2,
                  dbfs);
    std::vector<std::vector<double>> amplitudes;
    for (const Signal& output :
         render.with(device, tonePair(m.tones, dbfs, plan.rate, settle + fftLength), what))
        amplitudes.push_back(toneAmplitudes(output.data() + settle, fftLength, bins));
    return amplitudes;
}

}  // namespace

int imdRenderCount(const AnalysisPlan& plan) {
    const std::size_t n = imdFftLength(plan);
    const int methods = (smpteMethod(plan, n) ? 1 : 0) + (ccifMethod(plan, n) ? 1 : 0);
    return methods * static_cast<int>(sweepLevels(plan).size());
}

ImdResult measureImd(const Device& device, const AnalysisPlan& plan, Renderer& render) {
    ImdResult result;
    result.fftLength = imdFftLength(plan);
    const auto smpte = smpteMethod(plan, result.fftLength);
    const auto ccif = ccifMethod(plan, result.fftLength);
    if (smpte) result.smpte = smpte->tones;
    if (ccif) result.ccif = ccif->tones;
    for (double level : sweepLevels(plan)) {
        ImdPoint point{level, std::vector<ImdChannel>(static_cast<std::size_t>(device.outputs()))};
        if (smpte) {
            // f2, then f2 - n f1 and f2 + n f1 for n = 1..3.
            std::vector<std::size_t> bins{smpte->bin2};
            for (std::size_t n = 1; n <= kSmpteOrders; ++n) {
                bins.push_back(smpte->bin2 - n * smpte->bin1);
                bins.push_back(smpte->bin2 + n * smpte->bin1);
            }
            const auto amplitudes = renderPair(*smpte, level, bins, plan, result.fftLength, device, render);
            for (std::size_t c = 0; c < amplitudes.size(); ++c) {
                const auto& a = amplitudes[c];
                const double f2 = std::max(a[0], 1e-300);
                ImdChannel& channel = point.channels[c];
                double squares = 0.0;
                for (std::size_t n = 1; n <= kSmpteOrders; ++n) {
                    const double lower = a[2 * n - 1], upper = a[2 * n];
                    channel.smpteLowerDb.push_back(ratioDb(lower / f2));
                    channel.smpteUpperDb.push_back(ratioDb(upper / f2));
                    squares += (lower + upper) * (lower + upper);
                }
                channel.smpteDb = ratioDb(std::sqrt(squares) / f2);
            }
        }
        if (ccif) {
            const std::size_t b1 = ccif->bin1, b2 = ccif->bin2;
            const std::vector<std::size_t> bins{b1, b2, b2 - b1, 2 * b1 - b2, 2 * b2 - b1};
            const auto amplitudes = renderPair(*ccif, level, bins, plan, result.fftLength, device, render);
            for (std::size_t c = 0; c < amplitudes.size(); ++c) {
                const auto& a = amplitudes[c];
                const double twiceF2 = std::max(2.0 * a[1], 1e-300);
                const double sum = std::max(a[0] + a[1], 1e-300);
                ImdChannel& channel = point.channels[c];
                channel.d2Db = ratioDb(a[2] / twiceF2);
                channel.d3Db = ratioDb((a[3] + a[4]) / twiceF2);
                channel.d3LowDb = ratioDb(a[3] / sum);
                channel.d3HighDb = ratioDb(a[4] / sum);
            }
        }
        result.points.push_back(std::move(point));
    }
    return result;
}

}  // namespace varkel::analysis
