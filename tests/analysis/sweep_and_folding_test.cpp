// The pieces under impulse and aliasing against hand-worked cases: where
// harmonics fold, a sweep divided out of a known filter's output, and a
// round trip through the resamplers.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "analysis/aliasing.h"
#include "analysis/impulse.h"
#include "analysis/oversampled_device.h"

namespace {

using namespace varkel::analysis;

TEST(Folding, HarmonicsLandWhereTheRateMirrorsThem) {
    struct Case {
        std::size_t bin, length;
        int highest;
        std::vector<FoldedHarmonic> expected;
    };
    // N = 1000, Nyquist 500. Tone 300: 2f = 600 -> 400, 3f = 900 -> 100,
    // 4f = 1200 -> 200. Tone 250 (a quarter): every harmonic lands on 0,
    // 250 or Nyquist, none kept. Tone 210: 420 is a harmonic below
    // Nyquist; 630 -> 370, 840 -> 160, 1050 -> 50.
    const Case cases[] = {
        {300, 1000, 4, {{2, 400}, {3, 100}, {4, 200}}},
        {250, 1000, 8, {}},
        {210, 1000, 5, {{3, 370}, {4, 160}, {5, 50}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bin);
        const auto folded = foldedHarmonics(c.bin, c.length, c.highest);
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
