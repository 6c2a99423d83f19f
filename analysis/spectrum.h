// Spectra of a steady tone and what they say about distortion: harmonic
// levels, THD and THD+N.
//
// The tone sits on an FFT bin (a whole number of cycles in the FFT length),
// and the window is the four-term Blackman-Harris, a sum of cosines at whole
// bins: a bin-centred sinusoid then occupies exactly its bin and three on
// each side, so neither the fundamental nor a harmonic leaks into the rest of
// the spectrum and THD+N measures what the device added.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace varkel::analysis {

inline constexpr int kHighestHarmonic = 10;
// Bins on each side of a bin-centred tone that hold its energy.
inline constexpr int kToneHalfWidthBins = 3;

// The frequency nearest to wanted that is a whole number of cycles in
// fftLength samples (at least bin 2*halfwidth so it stays clear of DC).
double binExactFrequency(double wanted, double rate, std::size_t fftLength);

struct ToneAnalysis {
    double fundamentalDbfs = 0.0;  // amplitude of the fundamental, 0 dBFS = full-scale sine
    // Harmonics 2..10 relative to the fundamental, dB; empty above Nyquist.
    std::array<std::optional<double>, kHighestHarmonic - 1> harmonicsDb{};
    double thd = 0.0;   // ratio of RMS values: harmonics 2..10 to fundamental
    double thdN = 0.0;  // everything but DC and the fundamental, to fundamental
};

// Whether thd says how much a device distorts: an odd-symmetric device (a
// clipper) makes no second harmonic, so with the third above Nyquist its
// THD would read as none at all.
inline bool thdCountsTheThirdHarmonic(const ToneAnalysis& tone) {
    return tone.harmonicsDb[1].has_value();
}

struct Spectrum {
    double binHz = 0.0;
    std::vector<double> levelDbfs;  // bins 0..N/2, a full-scale bin-centred sine reads 0
};

// signal[0 .. fftLength) holding a tone at fundamentalBin; fills spectrum
// when given.
ToneAnalysis analyseTone(const float* signal, std::size_t fftLength, double rate,
                         std::size_t fundamentalBin, Spectrum* spectrum = nullptr);

// Amplitudes (a full-scale sine reads 1) of the bin-centred tones at each of
// bins in signal[0 .. fftLength): the energy of the bin and of
// kToneHalfWidthBins either side. Each bin at least that far from DC and
// Nyquist.
std::vector<double> toneAmplitudes(const float* signal, std::size_t fftLength,
                                   const std::vector<std::size_t>& bins);

// 20 log10(ratio), with silence as -400 dB rather than -inf so that JSON
// and plots can hold it.
double ratioDb(double ratio);

}  // namespace varkel::analysis
