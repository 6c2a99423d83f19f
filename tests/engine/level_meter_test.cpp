// The meter's whole-buffer add against adding one sample at a time: the same
// levels to the bit, whatever the length and wherever NaN, infinity or
// samples past full scale fall.
#include "engine/sound/level_meter.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

namespace varkel::engine {
namespace {

template <typename Sample>
void expectSameAsOneByOne(std::size_t length, std::size_t oddEvery) {
    SCOPED_TRACE(testing::Message() << sizeof(Sample) << "-byte samples, " << length
                                    << " of them, one odd in " << oddEvery);
    std::mt19937 random(static_cast<unsigned>(length * 31 + oddEvery));
    std::uniform_real_distribution<Sample> level(Sample(-1.5), Sample(1.5));
    const Sample odd[] = {std::numeric_limits<Sample>::quiet_NaN(),
                          std::numeric_limits<Sample>::infinity(),
                          -std::numeric_limits<Sample>::infinity(),
                          std::numeric_limits<Sample>::max(), Sample(-1), Sample(-0.0)};
    std::vector<Sample> samples(length);
    for (std::size_t i = 0; i < length; ++i)
        samples[i] = oddEvery > 0 && i % oddEvery == oddEvery - 1 ? odd[(i / oddEvery) % 6]
                                                                  : level(random);
    LevelMeter oneByOne;
    for (const Sample sample : samples) oneByOne.add(static_cast<double>(sample));
    // In two calls, as stretch after stretch arrives.
    LevelMeter whole;
    whole.add(samples.data(), length / 3);
    whole.add(samples.data() + length / 3, length - length / 3);

    EXPECT_EQ(whole.peakLevel(), oneByOne.peakLevel());
    EXPECT_EQ(whole.rmsLevel(), oneByOne.rmsLevel());
    EXPECT_EQ(whole.samplesOverFullScale(), oneByOne.samplesOverFullScale());
    EXPECT_EQ(whole.nonFiniteSamples(), oneByOne.nonFiniteSamples());
}

TEST(LevelMeter, AddingABufferIsAddingEachSample) {
    for (const std::size_t length : {0u, 1u, 255u, 256u, 257u, 5000u})
        for (const std::size_t oddEvery : {0u, 1u, 7u, 300u}) {
            expectSameAsOneByOne<float>(length, oddEvery);
            expectSameAsOneByOne<double>(length, oddEvery);
        }
}

// Non-finite samples are counted apart and take no part in the levels: the
// RMS of the finite ones alone, whichever way they were added.
TEST(LevelMeter, NonFiniteSamplesStayOutOfTheLevels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> samples;
    for (int i = 0; i < 300; ++i) samples.insert(samples.end(), {0.5f, nan, -0.5f, inf, -inf});
    LevelMeter whole, oneByOne;
    whole.add(samples.data(), samples.size());
    for (const float sample : samples) oneByOne.add(static_cast<double>(sample));
    for (const LevelMeter* meter : {&whole, &oneByOne}) {
        EXPECT_EQ(meter->rmsLevel(), 0.5);
        EXPECT_EQ(meter->peakLevel(), 0.5);
        EXPECT_EQ(meter->nonFiniteSamples(), 900u);
    }
}

}  // namespace
}  // namespace varkel::engine
