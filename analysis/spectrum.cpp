#include "analysis/spectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace varkel::analysis {

namespace {

// Four-term Blackman-Harris, periodic form (period fftLength), so that its
// cosines fall on whole bins.
constexpr std::array<double, 4> kWindowTerms{0.35875, 0.48829, 0.14128, 0.01168};

double windowAt(std::size_t n, std::size_t length) {
    const double x = 2.0 * std::numbers::pi * static_cast<double>(n) / static_cast<double>(length);
    return kWindowTerms[0] - kWindowTerms[1] * std::cos(x) + kWindowTerms[2] * std::cos(2.0 * x) -
           kWindowTerms[3] * std::cos(3.0 * x);
}

struct FftwDeleter {
    void operator()(void* memory) const { fftw_free(memory); }
};

// |X_k|^2 of the windowed signal for k = 0..N/2, with the window's sum and
// sum of squares.
struct PowerSpectrum {
    std::vector<double> power;
    double windowSum = 0.0;
    double windowSquares = 0.0;
};

PowerSpectrum windowedPower(const float* signal, std::size_t length) {
    const std::size_t bins = length / 2 + 1;
    std::unique_ptr<double, FftwDeleter> input(fftw_alloc_real(length));
    std::unique_ptr<fftw_complex, FftwDeleter> output(fftw_alloc_complex(bins));
    if (!input || !output) throw std::bad_alloc();
    PowerSpectrum result;
    for (std::size_t n = 0; n < length; ++n) {
        const double w = windowAt(n, length);
        input.get()[n] = w * static_cast<double>(signal[n]);
        result.windowSum += w;
        result.windowSquares += w * w;
    }
    // FFTW_ESTIMATE plans without timing runs, so the same input gives the
    // same bits every time.
    fftw_plan plan =
        fftw_plan_dft_r2c_1d(static_cast<int>(length), input.get(), output.get(), FFTW_ESTIMATE);
    if (plan == nullptr) throw std::runtime_error("FFTW could not plan the spectrum");
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    result.power.resize(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        const double re = output.get()[k][0];
        const double im = output.get()[k][1];
        result.power[k] = re * re + im * im;
    }
    return result;
}

// Mean square of the part of the signal in bins [from, to]; one-sided bins
// count twice, the Nyquist bin once.
double meanSquareOfBins(const PowerSpectrum& ps, std::size_t fftLength, std::size_t from,
                        std::size_t to) {
    const std::size_t nyquistBin = fftLength / 2;
    double sum = 0.0;
    for (std::size_t k = from; k <= to && k <= nyquistBin; ++k)
        sum += (k == nyquistBin ? 1.0 : 2.0) * ps.power[k];
    return sum / (static_cast<double>(fftLength) * ps.windowSquares);
}

}  // namespace

std::vector<double> toneAmplitudes(const float* signal, std::size_t fftLength,
                                   const std::vector<std::size_t>& bins) {
    const PowerSpectrum ps = windowedPower(signal, fftLength);
    const auto halfWidth = static_cast<std::size_t>(kToneHalfWidthBins);
    std::vector<double> amplitudes;
    for (std::size_t bin : bins) {
        if (bin < halfWidth || bin + halfWidth > fftLength / 2)
            throw std::invalid_argument("tone too close to DC or Nyquist for its FFT length");
        amplitudes.push_back(
            std::sqrt(2.0 * meanSquareOfBins(ps, fftLength, bin - halfWidth, bin + halfWidth)));
    }
    return amplitudes;
}

double binExactFrequency(double wanted, double rate, std::size_t fftLength) {
    const double binHz = rate / static_cast<double>(fftLength);
    const double lowest = 2.0 * kToneHalfWidthBins + 2.0;
    const double highest = static_cast<double>(fftLength / 2) - kToneHalfWidthBins - 1.0;
    return std::clamp(std::round(wanted / binHz), lowest, highest) * binHz;
}

double ratioDb(double ratio) { return ratio > 1e-20 ? 20.0 * std::log10(ratio) : -400.0; }

ToneAnalysis analyseTone(const float* signal, std::size_t fftLength, double rate,
                         std::size_t fundamentalBin, Spectrum* spectrum) {
    const PowerSpectrum ps = windowedPower(signal, fftLength);
    const std::size_t nyquistBin = fftLength / 2;
    const auto halfWidth = static_cast<std::size_t>(kToneHalfWidthBins);
    if (fundamentalBin <= 2 * halfWidth || fundamentalBin + halfWidth >= nyquistBin)
        throw std::invalid_argument("tone too close to DC or Nyquist for its FFT length");

    auto meanSquare = [&](std::size_t from, std::size_t to) {
        return meanSquareOfBins(ps, fftLength, from, to);
    };

    ToneAnalysis tone;
    const double fundamental = meanSquare(fundamentalBin - halfWidth, fundamentalBin + halfWidth);
    tone.fundamentalDbfs = 10.0 * std::log10(std::max(2.0 * fundamental, 1e-40));
    double harmonics = 0.0;
    for (int h = 2; h <= kHighestHarmonic; ++h) {
        const std::size_t bin = fundamentalBin * static_cast<std::size_t>(h);
        if (bin + halfWidth >= nyquistBin) break;
        const double level = meanSquare(bin - halfWidth, bin + halfWidth);
        harmonics += level;
        tone.harmonicsDb[static_cast<std::size_t>(h - 2)] =
            ratioDb(std::sqrt(level / std::max(fundamental, 1e-300)));
    }
    const double rest = meanSquare(halfWidth + 1, fundamentalBin - halfWidth - 1) +
                        meanSquare(fundamentalBin + halfWidth + 1, nyquistBin);
    tone.thd = std::sqrt(harmonics / std::max(fundamental, 1e-300));
    tone.thdN = std::sqrt(rest / std::max(fundamental, 1e-300));

    if (spectrum != nullptr) {
        spectrum->binHz = rate / static_cast<double>(fftLength);
        spectrum->levelDbfs.resize(ps.power.size());
        for (std::size_t k = 0; k < ps.power.size(); ++k)
            spectrum->levelDbfs[k] = ratioDb(2.0 * std::sqrt(ps.power[k]) / ps.windowSum);
    }
    return tone;
}

}  // namespace varkel::analysis
