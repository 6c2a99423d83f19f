// What an analysis measures and with which signals.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varkel::analysis {

enum class Measurement { Response, Harmonics, Distortion, Transfer, Impulse, Aliasing, Imd };

// "response", "harmonics", "distortion", "transfer", "impulse", "aliasing", "imd".
const std::vector<std::string>& measurementNames();
std::optional<Measurement> measurementNamed(const std::string& name);
const std::string& measurementName(Measurement m);

struct AnalysisPlan {
    double rate = 44100.0;
    std::vector<Measurement> what{Measurement::Response, Measurement::Harmonics,
                                  Measurement::Distortion, Measurement::Transfer,
                                  Measurement::Impulse,  Measurement::Aliasing,
                                  Measurement::Imd};
    // Also the level of the impulse measurement's sweep.
    double responseLevelDbfs = -30.0;
    int responsePointsPerOctave = 12;
    double responseLowestHz = 10.0;
    double toneHz = 1000.0;
    // Also the level of the aliasing tones.
    double toneLevelDbfs = -6.0;
    // Also the levels of the intermodulation tones (their summed peak).
    double sweepFromDbfs = -40.0;
    double sweepToDbfs = 6.0;
    double sweepStepDb = 2.0;
    double distortionLowestHz = 20.0;
    double distortionHighestHz = 10000.0;
    int distortionPointsPerOctave = 3;
    double aliasingLowestHz = 5000.0;
    double aliasingHighestHz = 20000.0;
    double aliasingStepHz = 1000.0;
    // Orders counted per multiple of the rate the device runs at: a driven
    // clipper's harmonics fold back from far above it, and by order 100 at
    // the rate Varkel's add less than 0.1 dB to the total.
    int aliasingHighestHarmonic = 100;
    // The aliasing measured again with the device at this many times the rate.
    int oversample = 1;

    bool includes(Measurement m) const;
};

// The input levels of the level sweeps: from, from + step, ... up to to.
std::vector<double> sweepLevels(const AnalysisPlan& plan);

}  // namespace varkel::analysis
