// The pieces under impulse and aliasing against hand-worked cases: where
// harmonics fold, a sweep divided out of a known filter's output, and a
// round trip through the resamplers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "analysis/aliasing.h"
#include "analysis/impulse.h"
#include "analysis/oversampled_device.h"

namespace {

using namespace varkel::analysis;

TEST(Folding, HarmonicsLandWhereTheRateMirrorsThem) {
    struct Case {
        std::size_t bin, length;
        int oversample, highest;
        std::vector<FoldedHarmonic> expected;
    };
    // N = 1000, Nyquist 500. Tone 300: 2f = 600 -> 400, 3f = 900 -> 100,
    // 4f = 1200 -> 200. Tone 250 (a quarter): every harmonic lands on 0,
    // 250 or Nyquist, none kept. Tone 210: 420 is a harmonic below
    // Nyquist; 630 -> 370, 840 -> 160, 1050 -> 50.
    // At 4 times the rate harmonics fold about 4000 and only images below
    // 500 pass the resampler: for tone 210 orders 3 to 16 (630 .. 3360)
    // land above it, 17f = 3570 -> 430, 3780 -> 220, 3990 -> 10,
    // 4200 -> 200.
    const Case cases[] = {
        {300, 1000, 1, 4, {{2, 400}, {3, 100}, {4, 200}}},
        {250, 1000, 1, 8, {}},
        {210, 1000, 1, 5, {{3, 370}, {4, 160}, {5, 50}}},
        {210, 1000, 4, 20, {{17, 430}, {18, 220}, {19, 10}, {20, 200}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bin << " x" << c.oversample);
        const auto folded = foldedHarmonics(c.bin, c.length, c.oversample, c.highest);
        ASSERT_EQ(folded.size(), c.expected.size());
        for (std::size_t i = 0; i < folded.size(); ++i) {
            EXPECT_EQ(folded[i].order, c.expected[i].order);
            EXPECT_EQ(folded[i].bin, c.expected[i].bin);
        }
    }
}

TEST(Sweep, DividedOutOfAFiltersOutputLeavesItsTaps) {
    const std::vector<double> taps{0.0, 0.0, 0.5, -0.25, 0.125};
    const std::size_t length = 1 << 14;
    const Signal sweep = logSweep(0.5, 10.0, 22050.0, 0.25, 44100.0, length);
    Signal output(length, 0.0f);
    for (std::size_t n = 0; n < length; ++n)
        for (std::size_t k = 0; k < taps.size() && k <= n; ++k)
            output[n] += static_cast<float>(taps[k] * sweep[n - k]);
    const auto h = deconvolve(output, sweep);
    for (std::size_t n = 0; n < 64; ++n)
        EXPECT_NEAR(h[n], n < taps.size() ? taps[n] : 0.0, 1e-5) << n;
}

class Wire : public Device {
public:
    int outputs() const override { return 1; }
    std::string description() const override { return "wire"; }
    std::vector<Signal> render(const Signal& input) const override { return {input}; }
};

// y = x + c T_k(x / a): for a sine of amplitude a the Chebyshev term is a
// pure k-th harmonic of amplitude c, whatever the rate.
class ChebyshevTerm : public Device {
public:
    ChebyshevTerm(int k, double c, double a) : k(k), c(c), a(a) {}
    int outputs() const override { return 1; }
    std::string description() const override { return "Chebyshev term"; }
    std::vector<Signal> render(const Signal& input) const override {
        Signal out(input.size());
        for (std::size_t n = 0; n < input.size(); ++n) {
            const double u = input[n] / a;
            double previous = 1.0, t = u;
            for (int i = 1; i < k; ++i) {
                const double next = 2.0 * u * t - previous;
                previous = t;
                t = next;
            }
            out[n] = static_cast<float>(input[n] + c * t);
        }
        return {out};
    }

private:
    int k;
    double c, a;
};

TEST(Oversampling, AliasesOfAKnownHarmonicAreCountedWhereTheyLand) {
    // A 10 kHz tone's 17th harmonic, 170 kHz, folds about 4 x 44.1 kHz to
    // 6.4 kHz both at the rate and at four times it.
    for (const int oversample : {4, 1}) {
        SCOPED_TRACE(oversample);
        AnalysisPlan plan;
        plan.aliasingLowestHz = plan.aliasingHighestHz = 10000.0;
        const double a = std::pow(10.0, plan.toneLevelDbfs / 20.0), level = 0.01;
        const ChebyshevTerm model(17, level, a);
        const OversampledDevice fast(model, oversample);
        const Device& device = oversample > 1 ? static_cast<const Device&>(fast) : model;
        const std::function<void(double)> quiet;
        Renderer render(device, 1, quiet);
        const AliasingResult result = measureAliasing(device, plan, oversample, render);
        EXPECT_EQ(result.highestOrder, 100 * oversample);
        const AliasingChannel& channel = result.points.at(0).channels.at(0);
        ASSERT_FALSE(channel.aliases.empty());
        const Alias& strongest = channel.aliases.front();
        EXPECT_EQ(strongest.order, 17);
        EXPECT_NEAR(strongest.landsHz, 4.0 * 44100.0 - 17.0 * result.points[0].frequency, 1e-6);
        EXPECT_NEAR(strongest.levelDb, 20.0 * std::log10(level / a), 0.05);
        EXPECT_NEAR(channel.totalDb, strongest.levelDb, 0.05);
    }
}

TEST(Oversampling, AWireComesBackInPlaceAndInLevel) {
    const Wire wire;
    const OversampledDevice device(wire, 4);
    Signal tone(8192);
    for (std::size_t n = 0; n < tone.size(); ++n)
        tone[n] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * n / 44100.0));
    const Signal back = device.render(tone).front();
    ASSERT_EQ(back.size(), tone.size());
    // Away from the ends, where the filters start and stop.
    for (std::size_t n = 1000; n < tone.size() - 1000; ++n) ASSERT_NEAR(back[n], tone[n], 1e-4) << n;
}

}  // namespace
