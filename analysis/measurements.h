// The measurements of a device, each output on its own: frequency response
// by stepped sines, the spectrum of a steady tone, distortion against level
// and frequency, and the static transfer curve.
//
// Every render starts from a fresh instance on a fresh thread, so a device
// with a per-thread noise generator gives the same numbers every run.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/aliasing.h"
#include "analysis/analysis_plan.h"
#include "analysis/device.h"
#include "analysis/impulse.h"
#include "analysis/intermodulation.h"
#include "analysis/spectrum.h"

namespace varkel::analysis {

// The frequency the gain is reported at and the -3 dB points are relative to.
inline constexpr double kReferenceHz = 1000.0;

// The response is measured a second time this much below its level: where
// the two gains differ, the curve is not a linear response.
inline constexpr double kQuieterByDb = 10.0;

struct ChannelResponse {
    std::vector<double> magnitudeDb;
    std::vector<double> gainChangeDb;  // the gain minus the gain kQuieterByDb lower
    // Unwrapped upwards from the lowest frequency, where it lies within
    // +-180 degrees; point to point with the latency taken out, since a delay
    // turns the phase by more than half a turn between points.
    std::vector<double> phaseDeg;
    // The same with the output's latency removed: what is compared.
    std::vector<double> phaseWithoutLatencyDeg;
    int latencyFrames = 0;  // the impulse response's peak (see ImpulseResult)
    double referenceGainDb = 0.0;
    std::optional<double> lowCornerHz;   // below the reference, 3 dB under it
    std::optional<double> highCornerHz;  // above the reference
};

struct ResponseResult {
    double levelDbfs = 0.0;
    std::vector<double> frequencies;
    std::vector<ChannelResponse> channels;
};

struct HarmonicsResult {
    double frequency = 0.0;  // bin-exact
    double levelDbfs = 0.0;
    std::size_t fftLength = 0;
    std::vector<ToneAnalysis> channels;
    std::vector<Spectrum> spectra;
};

struct LevelPoint {
    double inputDbfs = 0.0;
    double inputRmsDbfs = 0.0;
    std::vector<ToneAnalysis> tones;
    std::vector<double> outputPeakDbfs;
    std::vector<double> outputRmsDbfs;
};

// Distortion against level and the transfer curve come from the same renders.
struct LevelSweep {
    double frequency = 0.0;
    std::vector<LevelPoint> points;
};

struct FrequencyPoint {
    double frequency = 0.0;
    std::vector<ToneAnalysis> tones;
};

struct FrequencySweep {
    double levelDbfs = 0.0;
    std::vector<FrequencyPoint> points;
};

struct Analysis {
    std::string device;
    std::string identity;
    std::vector<std::pair<std::string, double>> parameters;
    int outputs = 0;
    std::optional<ResponseResult> response;
    std::optional<HarmonicsResult> harmonics;
    std::optional<LevelSweep> levels;
    std::optional<FrequencySweep> frequencies;
    std::optional<ImpulseResult> impulse;
    std::optional<AliasingResult> aliasing;
    // The same with the device at plan.oversample times the rate.
    std::optional<AliasingResult> oversampledAliasing;
    std::optional<ImdResult> imd;
};

class AnalysisError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Renders the device for every measurement the plan includes. progress, when
// given, hears the fraction done after each render. oversampled, when given,
// is the device at plan.oversample times the rate, between resamplers (see
// OversampledDevice), measured for aliasing beside it.
Analysis analyse(const Device& device, const AnalysisPlan& plan,
                 const std::function<void(double)>& progress = {},
                 const Device* oversampled = nullptr);

// The input level at which THD on channel reaches ratio on its way up from
// the level where it is lowest, interpolated in dB between sweep points; the
// lowest level's own when THD is nowhere below ratio; empty if it never
// reaches it.
std::optional<double> levelWhereThdReaches(const LevelSweep& sweep, int channel, double ratio);

// The points of a response or sweep grid: lowest..highest at the given
// points per octave, on a grid through kReferenceHz.
std::vector<double> frequencyGrid(double lowest, double highest, int pointsPerOctave);

}  // namespace varkel::analysis
