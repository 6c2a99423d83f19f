// The complex amplitude of a sinusoid of known frequency in a stretch of
// signal, by least squares over cos, sin and a constant. Unlike a DFT bin it
// is exact for any length, whole number of cycles or not, so the ratio of
// an output's fit to its input's is the transfer function of a linear
// time-invariant system at exactly that frequency.
#pragma once

#include <complex>
#include <cstddef>

namespace varkel::analysis {

// signal[first .. first + count) ~ Re(C * exp(j * 2 pi * frequency / rate * n)) + offset,
// n counted from 0 at signal[0]; returns C.
std::complex<double> fitSinusoid(const float* signal, std::size_t first, std::size_t count,
                                 double frequency, double rate);

}  // namespace varkel::analysis
