// Sinusoid fits and tone spectra on synthetic signals whose content is
// known by construction.
#include "analysis/spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "analysis/sine_fit.h"

namespace {

using varkel::analysis::analyseTone;
using varkel::analysis::binExactFrequency;
using varkel::analysis::fitSinusoid;
using varkel::analysis::Spectrum;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

TEST(SineFit, RecoversAmplitudeAndPhaseWithoutWholeCycles) {
    struct Case {
        double frequency, amplitude, phase, offset;
        std::size_t first, count;
    };
    // Lengths of 0.6 to many cycles, with offsets: a plain DFT bin would leak.
    const Case cases[] = {{10.0, 0.5, 0.3, 0.0, 0, 2646},
                          {1000.0, 0.01, -2.0, 0.001, 100, 4410},
                          {997.3, 0.9, 1.0, -0.2, 37, 1234},
                          {21000.0, 0.2, 2.5, 0.0, 11025, 4411}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frequency);
        std::vector<float> signal(c.first + c.count);
        for (std::size_t n = 0; n < signal.size(); ++n)
            signal[n] = static_cast<float>(
                c.amplitude * std::cos(kTwoPi * c.frequency / 44100.0 * n + c.phase) + c.offset);
        const std::complex<double> fit =
            fitSinusoid(signal.data(), c.first, c.count, c.frequency, 44100.0);
        EXPECT_NEAR(std::abs(fit) / c.amplitude, 1.0, 1e-6);
        EXPECT_NEAR(std::remainder(std::arg(fit) - c.phase, kTwoPi), 0.0, 1e-6);
    }
}

TEST(Spectrum, BinExactFrequencyIsAWholeNumberOfCycles) {
    for (double wanted : {1000.0, 50.0, 997.0, 15000.0}) {
        const double f = binExactFrequency(wanted, 48000.0, 16384);
        const double cycles = f * 16384.0 / 48000.0;
        EXPECT_DOUBLE_EQ(cycles, std::round(cycles));
        EXPECT_LE(std::fabs(f - wanted), 48000.0 / 16384.0 / 2.0 + 1e-9);
    }
    // Kept clear of DC by more than the tone's own width: bin 8 at least.
    EXPECT_DOUBLE_EQ(binExactFrequency(1.0, 48000.0, 16384), 8.0 * 48000.0 / 16384.0);
}

// a1 sin + harmonics + optional white noise, on bin 100 of 8192 unless told.
std::vector<float> tone(const std::vector<double>& amplitudes, double noise, double bin = 100.0) {
    const std::size_t length = 8192;
    std::vector<float> signal(length);
    std::uint32_t state = 1;
    for (std::size_t n = 0; n < length; ++n) {
        double x = 0.0;
        for (std::size_t h = 0; h < amplitudes.size(); ++h)
            x += amplitudes[h] * std::sin(kTwoPi * bin * (h + 1) * n / length + 0.1 * h);
        state = state * 1664525u + 1013904223u;
        // Uniform on [-1, 1): RMS 1/sqrt(3).
        x += noise * std::sqrt(3.0) * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
        signal[n] = static_cast<float>(x);
    }
    return signal;
}

TEST(Spectrum, HarmonicLevelsAndThdOfAKnownMixture) {
    const auto signal = tone({0.5, 0.005, 0.0025, 0.0, 0.0005}, 0.0);
    Spectrum spectrum;
    const auto result = analyseTone(signal.data(), signal.size(), 8192.0, 100, &spectrum);
    EXPECT_NEAR(result.fundamentalDbfs, 20.0 * std::log10(0.5), 1e-3);
    EXPECT_NEAR(*result.harmonicsDb[0], -40.0, 1e-3);
    EXPECT_NEAR(*result.harmonicsDb[1], -46.0206, 1e-3);
    EXPECT_NEAR(*result.harmonicsDb[3], -60.0, 1e-2);
    EXPECT_LT(*result.harmonicsDb[2], -120.0);
    const double thd = std::sqrt(0.005 * 0.005 + 0.0025 * 0.0025 + 0.0005 * 0.0005) / 0.5;
    EXPECT_NEAR(result.thd / thd, 1.0, 1e-4);
    // Nothing else in the signal.
    EXPECT_NEAR(result.thdN / thd, 1.0, 1e-3);
    // A full-scale bin-centred sine reads 0 dBFS; this one -6.02.
    EXPECT_NEAR(spectrum.levelDbfs[100], 20.0 * std::log10(0.5), 1e-6);
    EXPECT_DOUBLE_EQ(spectrum.binHz, 1.0);
}

TEST(Spectrum, ThdPlusNoiseCountsTheNoise) {
    const double noise = 0.001;
    const auto signal = tone({0.5}, noise);
    const auto result = analyseTone(signal.data(), signal.size(), 8192.0, 100);
    // Mean squares: fundamental 0.125, noise 1e-6 (less the few bins under
    // the tone and DC, about 0.2 % of the band).
    const double expected = std::sqrt(noise * noise / 0.125);
    EXPECT_NEAR(result.thdN / expected, 1.0, 0.05);
    EXPECT_LT(result.thd, result.thdN / 3.0);
}

TEST(Spectrum, AToneBetweenBinsLeaksOnlyTheWindowsSidelobes) {
    // The four-term Blackman-Harris: main lobe 4 bins each side, sidelobes
    // at most 92 dB under the tone.
    const auto signal = tone({0.5}, 0.0, 100.5);
    Spectrum spectrum;
    analyseTone(signal.data(), signal.size(), 8192.0, 100, &spectrum);
    double loudest = -400.0;
    for (std::size_t k = 0; k < spectrum.levelDbfs.size(); ++k)
        if (k < 96 || k > 105) loudest = std::max(loudest, spectrum.levelDbfs[k]);
    EXPECT_LT(loudest, 20.0 * std::log10(0.5) - 90.0);
}

TEST(Spectrum, HarmonicsAboveNyquistAreLeftOut) {
    const std::size_t length = 8192;
    std::vector<float> signal(length);
    for (std::size_t n = 0; n < length; ++n)
        signal[n] = static_cast<float>(0.5 * std::sin(kTwoPi * 1000.0 * n / length));
    const auto result = analyseTone(signal.data(), length, 8192.0, 1000);
    // Harmonics 2 to 4 lie below bin 4096, 5 and above do not.
    for (std::size_t h = 0; h < 3; ++h) EXPECT_TRUE(result.harmonicsDb[h].has_value()) << h + 2;
    for (std::size_t h = 3; h < result.harmonicsDb.size(); ++h)
        EXPECT_FALSE(result.harmonicsDb[h].has_value()) << h + 2;
}

}  // namespace
