// Aliasing: high tones through the device, and the level at the folded
// frequency of every harmonic the device makes above the Nyquist frequency.
// Tones and aliases sit on FFT bins, so each alias is measured bin-exactly.
#pragma once

#include <cstddef>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/rendering.h"

namespace varkel::analysis {

// Where harmonic `order` of a tone at `bin` lands in an FFT of fftLength.
// A device run at oversample times the rate folds its harmonics about that
// rate, |order bin - m oversample fftLength|, and the resampler down keeps
// only the images that land below the rate's Nyquist frequency.
struct FoldedHarmonic {
    int order = 0;
    std::size_t bin = 0;
};

// The harmonics 2 .. highest above Nyquist whose images land in band and can
// be told apart: left out are those landing on the tone or on a harmonic
// below Nyquist, too near DC or Nyquist, or on a lower order's alias.
std::vector<FoldedHarmonic> foldedHarmonics(std::size_t bin, std::size_t fftLength, int oversample,
                                            int highest);

struct Alias {
    int order = 0;
    double landsHz = 0.0;
    double levelDb = 0.0;  // relative to the fundamental
};

struct AliasingChannel {
    double fundamentalDbfs = 0.0;
    double totalDb = 0.0;        // RMS sum of every alias, relative to the fundamental
    std::vector<Alias> aliases;  // strongest first
};

struct AliasingPoint {
    double frequency = 0.0;  // bin-exact
    std::vector<AliasingChannel> channels;
};

struct AliasingResult {
    double levelDbfs = 0.0;
    int oversample = 1;
    int highestOrder = 0;  // every order up to it whose image lands in band is counted
    std::size_t fftLength = 0;
    std::vector<AliasingPoint> points;
};

// Tones the plan measures: its aliasing range in its steps, up to 0.46 of
// the rate.
std::vector<double> aliasingTones(const AnalysisPlan& plan);
inline int aliasingToneCount(const AnalysisPlan& plan) {
    return static_cast<int>(aliasingTones(plan).size());
}

// device at plan.rate (oversample 1) or an OversampledDevice whose factor
// is oversample, which is recorded.
AliasingResult measureAliasing(const Device& device, const AnalysisPlan& plan, int oversample,
                               Renderer& render);

}  // namespace varkel::analysis
