#include "analysis/aliasing.h"

#include <algorithm>
#include <cmath>

#include "analysis/spectrum.h"

namespace varkel::analysis {

namespace {

constexpr double kAliasingFftSeconds = 0.25;
constexpr double kHighestToneOfRate = 0.46;

// Two bin-centred tones share a bin when nearer than this.
constexpr std::size_t kApart = 2 * static_cast<std::size_t>(kToneHalfWidthBins);

std::size_t distance(std::size_t a, std::size_t b) { return a > b ? a - b : b - a; }

}  // namespace

std::vector<FoldedHarmonic> foldedHarmonics(std::size_t bin, std::size_t fftLength, int oversample,
                                            int highest) {
    const std::size_t nyquist = fftLength / 2;
    const std::size_t fastLength = fftLength * static_cast<std::size_t>(oversample);
    const auto halfWidth = static_cast<std::size_t>(kToneHalfWidthBins);
    std::vector<FoldedHarmonic> folded;
    for (int order = 2; order <= highest; ++order) {
        const std::size_t harmonic = bin * static_cast<std::size_t>(order);
        if (harmonic + halfWidth < nyquist) continue;
        const std::size_t m = (harmonic + fastLength / 2) / fastLength;
        const std::size_t lands = distance(harmonic, m * fastLength);
        bool clear = lands > halfWidth && lands + halfWidth < nyquist;
        for (std::size_t below = bin; clear && below + halfWidth < nyquist; below += bin)
            clear = distance(lands, below) > kApart;
        for (const FoldedHarmonic& earlier : folded)
            clear = clear && distance(lands, earlier.bin) > kApart;
        if (clear) folded.push_back({order, lands});
    }
    return folded;
}

std::vector<double> aliasingTones(const AnalysisPlan& plan) {
    std::vector<double> tones;
    const double highest = std::min(plan.aliasingHighestHz, kHighestToneOfRate * plan.rate);
    for (double f = plan.aliasingLowestHz; f <= highest * (1.0 + 1e-12); f += plan.aliasingStepHz)
        tones.push_back(f);
    return tones;
}

AliasingResult measureAliasing(const Device& device, const AnalysisPlan& plan, int oversample,
                               Renderer& render) {
    AliasingResult result;
    result.levelDbfs = plan.toneLevelDbfs;
    result.oversample = oversample;
    result.highestOrder = plan.aliasingHighestHarmonic * oversample;
    result.fftLength = powerOfTwoAtLeast(kAliasingFftSeconds * plan.rate);
    const auto settle = static_cast<std::size_t>(kSettleSeconds * plan.rate);
    for (double wanted : aliasingTones(plan)) {
        AliasingPoint point;
        point.frequency = binExactFrequency(wanted, plan.rate, result.fftLength);
        const auto bin = static_cast<std::size_t>(
            std::llround(point.frequency * static_cast<double>(result.fftLength) / plan.rate));
        const auto folded = foldedHarmonics(bin, result.fftLength, oversample, result.highestOrder);
        std::vector<std::size_t> bins{bin};
        for (const FoldedHarmonic& f : folded) bins.push_back(f.bin);
        const Signal input = sine(point.frequency, amplitudeOf(plan.toneLevelDbfs), plan.rate,
                                  settle + result.fftLength);
        for (const Signal& output :
             render.with(device, input, describeTone(point.frequency, plan.toneLevelDbfs))) {
            const auto amplitudes = toneAmplitudes(output.data() + settle, result.fftLength, bins);
            AliasingChannel channel;
            channel.fundamentalDbfs = ratioDb(amplitudes[0]);
            double squares = 0.0;
            for (std::size_t i = 0; i < folded.size(); ++i) {
                const double ratio = amplitudes[i + 1] / std::max(amplitudes[0], 1e-300);
                squares += ratio * ratio;
                channel.aliases.push_back({folded[i].order,
                                           static_cast<double>(folded[i].bin) * plan.rate /
                                               static_cast<double>(result.fftLength),
                                           ratioDb(ratio)});
            }
            channel.totalDb = ratioDb(std::sqrt(squares));
            std::stable_sort(channel.aliases.begin(), channel.aliases.end(),
                             [](const Alias& a, const Alias& b) { return a.levelDb > b.levelDb; });
            point.channels.push_back(std::move(channel));
        }
        result.points.push_back(std::move(point));
    }
    return result;
}

}  // namespace varkel::analysis
