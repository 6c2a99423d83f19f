// The impulse response by a logarithmic sine sweep: the output divided by
// the sweep in the frequency domain, at a level where the device is near
// linear. From it the step response, the group delay against frequency and
// the latency (where the impulse response peaks), checked against the one
// the device reports.
#pragma once

#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/rendering.h"

namespace varkel::analysis {

// The sweep rises from this to the Nyquist frequency.
inline constexpr double kSweepLowestHz = 10.0;
inline constexpr double kSweepSeconds = 2.0;
// Kept after the latest peak: the impulse and step responses shown and the
// stretch the group delay is computed over.
inline constexpr double kImpulseKeptSeconds = 0.05;

struct ImpulseChannel {
    std::vector<double> impulse;  // from frame 0, as long as ImpulseResult::frames
    std::vector<double> step;     // the running sum of impulse
    std::vector<double> groupDelaySeconds;  // at ImpulseResult::frequencies
    int latencyFrames = 0;                  // where |impulse| peaks
};

struct ImpulseResult {
    double rate = 0.0;
    double levelDbfs = 0.0;
    double fromHz = 0.0;
    double toHz = 0.0;
    double sweepSeconds = 0.0;
    std::size_t fftLength = 0;
    std::size_t frames = 0;
    std::vector<double> frequencies;
    std::vector<ImpulseChannel> channels;
    int reportedLatencyFrames = 0;

    // Every output peaks where the device says its output lags.
    bool latencyAgrees() const;
};

// The sweep: sin(2 pi f1 T / ln(f2 / f1) (exp(t / T ln(f2 / f1)) - 1)) for
// T seconds; its instantaneous frequency rises exponentially from f1 to f2.
Signal logSweep(double amplitude, double fromHz, double toHz, double seconds, double rate,
                std::size_t length);

// h with output = h (*) input, circularly over their common length (a power
// of two), where input is nowhere silent across the spectrum.
std::vector<double> deconvolve(const Signal& output, const Signal& input);

ImpulseResult measureImpulse(const Device& device, const AnalysisPlan& plan, Renderer& render);

}  // namespace varkel::analysis
