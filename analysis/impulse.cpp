#include "analysis/impulse.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>

#include "analysis/measurements.h"

namespace varkel::analysis {

namespace {

// Bins where the sweep is this far below its strongest are divided with
// this much regularisation, so that a near-silent bin cannot blow up noise;
// a sweep from 10 Hz to Nyquist has no such bin.
constexpr double kRegularisation = 1e-12;

struct FftwDeleter {
    void operator()(void* memory) const { fftw_free(memory); }
};

// The real signal's spectrum, bins 0 .. N/2.
std::vector<std::complex<double>> forward(const Signal& signal) {
    const std::size_t length = signal.size();
    std::unique_ptr<double, FftwDeleter> in(fftw_alloc_real(length));
    std::unique_ptr<fftw_complex, FftwDeleter> out(fftw_alloc_complex(length / 2 + 1));
    if (!in || !out) throw std::bad_alloc();
    std::copy(signal.begin(), signal.end(), in.get());
    fftw_plan plan =
        fftw_plan_dft_r2c_1d(static_cast<int>(length), in.get(), out.get(), FFTW_ESTIMATE);
    if (plan == nullptr) throw AnalysisError("FFTW could not plan the sweep's spectrum");
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    std::vector<std::complex<double>> spectrum(length / 2 + 1);
    for (std::size_t k = 0; k < spectrum.size(); ++k)
        spectrum[k] = {out.get()[k][0], out.get()[k][1]};
    return spectrum;
}

std::vector<double> inverse(const std::vector<std::complex<double>>& spectrum, std::size_t length) {
    std::unique_ptr<fftw_complex, FftwDeleter> in(fftw_alloc_complex(spectrum.size()));
    std::unique_ptr<double, FftwDeleter> out(fftw_alloc_real(length));
    if (!in || !out) throw std::bad_alloc();
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        in.get()[k][0] = spectrum[k].real();
        in.get()[k][1] = spectrum[k].imag();
    }
    fftw_plan plan =
        fftw_plan_dft_c2r_1d(static_cast<int>(length), in.get(), out.get(), FFTW_ESTIMATE);
    if (plan == nullptr) throw AnalysisError("FFTW could not plan the impulse response");
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    std::vector<double> signal(out.get(), out.get() + length);
    for (double& s : signal) s /= static_cast<double>(length);
    return signal;
}

// -d(phase)/d(omega) of h's transform at frequency, in frames: the real
// part of DFT(n h[n]) / DFT(h[n]), which needs no unwrapping.
double groupDelayFrames(const std::vector<double>& h, double frequency, double rate) {
    const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate);
    std::complex<double> phasor = 1.0, transform = 0.0, weighted = 0.0;
    for (std::size_t n = 0; n < h.size(); ++n) {
        transform += h[n] * phasor;
        weighted += static_cast<double>(n) * h[n] * phasor;
        phasor *= turn;
    }
    if (std::abs(transform) == 0.0) return 0.0;
    return (weighted / transform).real();
}

}  // namespace

bool ImpulseResult::latencyAgrees() const {
    return std::all_of(channels.begin(), channels.end(), [&](const ImpulseChannel& c) {
        return c.latencyFrames == reportedLatencyFrames;
    });
}

Signal logSweep(double amplitude, double fromHz, double toHz, double seconds, double rate,
                std::size_t length) {
    const double growth = std::log(toHz / fromHz);
    const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
    Signal sweep(length, 0.0f);
    for (std::size_t n = 0; n < std::min(frames, length); ++n) {
        const double t = static_cast<double>(n) / rate;
        const double phase = 2.0 * std::numbers::pi * fromHz * seconds / growth *
                             (std::exp(t / seconds * growth) - 1.0);
        sweep[n] = static_cast<float>(amplitude * std::sin(phase));
    }
    return sweep;
}

std::vector<double> deconvolve(const Signal& output, const Signal& input) {
    const auto x = forward(input);
    auto y = forward(output);
    double strongest = 0.0;
    for (const auto& bin : x) strongest = std::max(strongest, std::norm(bin));
    const double floor = kRegularisation * strongest;
    for (std::size_t k = 0; k < y.size(); ++k) y[k] = y[k] * std::conj(x[k]) / (std::norm(x[k]) + floor);
    return inverse(y, input.size());
}

ImpulseResult measureImpulse(const Device& device, const AnalysisPlan& plan, Renderer& render) {
    ImpulseResult result;
    result.rate = plan.rate;
    result.levelDbfs = plan.responseLevelDbfs;
    result.fromHz = kSweepLowestHz;
    result.toHz = plan.rate / 2.0;
    result.sweepSeconds = kSweepSeconds;
    result.reportedLatencyFrames = device.reportedLatency();
    const double kept = kImpulseKeptSeconds * plan.rate;
    // Room after the sweep for the response to die away, and for distortion
    // products, which come out before the impulse and wrap round to the end.
    result.fftLength = powerOfTwoAtLeast(kSweepSeconds * plan.rate + 4.0 * kept +
                                         static_cast<double>(result.reportedLatencyFrames));
    const Signal sweep = logSweep(amplitudeOf(plan.responseLevelDbfs), result.fromHz, result.toHz,
                                  result.sweepSeconds, plan.rate, result.fftLength);
    char what[96];
    std::snprintf(what, sizeof(what), "a sine sweep from %g to %g Hz at %.1f dBFS", result.fromHz,
                  result.toHz, plan.responseLevelDbfs);
    const auto outputs = render(sweep, what);

    // The causal half; the latest peak sets how much of it is kept.
    std::vector<std::vector<double>> responses;
    std::size_t latest = 0;
    for (const Signal& output : outputs) {
        std::vector<double> h = deconvolve(output, sweep);
        h.resize(result.fftLength / 2);
        ImpulseChannel channel;
        channel.latencyFrames = static_cast<int>(
            std::max_element(h.begin(), h.end(),
                             [](double a, double b) { return std::fabs(a) < std::fabs(b); }) -
            h.begin());
        latest = std::max(latest, static_cast<std::size_t>(channel.latencyFrames));
        responses.push_back(std::move(h));
        result.channels.push_back(std::move(channel));
    }
    result.frames = std::min(latest + static_cast<std::size_t>(kept), result.fftLength / 2);
    result.frequencies =
        frequencyGrid(plan.responseLowestHz, 0.495 * plan.rate, plan.responsePointsPerOctave);
    for (std::size_t c = 0; c < responses.size(); ++c) {
        ImpulseChannel& channel = result.channels[c];
        channel.impulse.assign(responses[c].begin(),
                               responses[c].begin() + static_cast<std::ptrdiff_t>(result.frames));
        double sum = 0.0;
        for (double h : channel.impulse) channel.step.push_back(sum += h);
        for (double f : result.frequencies)
            channel.groupDelaySeconds.push_back(groupDelayFrames(channel.impulse, f, plan.rate) /
                                                plan.rate);
    }
    return result;
}

}  // namespace varkel::analysis
