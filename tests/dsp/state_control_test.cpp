// The processor's state verbs: parameters by index, usable rates, re-tuning
// and clearing.
#include "dsp/state_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include "dsp/stereo_block.h"
#include "processor_state.h"

namespace {

void runLoud(VarkelState& s) {
    float left[64], right[64];
    for (int i = 0; i < 64; ++i) left[i] = right[i] = 0.8f * std::sin(0.3f * static_cast<float>(i));
    float* io[2] = {left, right};
    varkel::processStereoBlock(s, io, io, 64);
}

TEST(StateControl, ParametersByIndex) {
    StatePtr s = newState();
    varkel::writeParameter(*s, 0, 0.5f);
    varkel::writeParameter(*s, 1, 0.3f);
    varkel::writeParameter(*s, 2, 1.5f);  // out of 0..1 is stored as it comes
    EXPECT_EQ(s->preGain, 0.5f);
    EXPECT_EQ(s->cutOff, 0.3f);
    EXPECT_EQ(s->postGain, 1.5f);
    EXPECT_EQ(varkel::readParameter(*s, 1), 0.3f);
    for (float bad : {NAN, INFINITY, -INFINITY}) {
        varkel::writeParameter(*s, 0, bad);
        EXPECT_EQ(s->preGain, 0.5f) << bad;
    }
    for (int index : {-1, 3, 1000}) {
        varkel::writeParameter(*s, index, 0.9f);
        EXPECT_EQ(varkel::readParameter(*s, index), 0.0f) << index;
    }
    EXPECT_EQ(s->preGain, 0.5f);
    EXPECT_EQ(s->cutOff, 0.3f);
    EXPECT_EQ(s->postGain, 1.5f);
}

TEST(StateControl, UsableRates) {
    const struct {
        double rate;
        std::optional<int> expected;
    } cases[] = {
        {44100.0, 44100},    {48000.4, 48000},
        {95999.5, 96000},    {1000.0, 1000},
        {1000.4, 1000},      {999.5, std::nullopt},  // below 1000 before rounding
        {999.999, std::nullopt}, {999.4, std::nullopt},
        {0.0, std::nullopt}, {-44100.0, std::nullopt},
        {NAN, std::nullopt}, {INFINITY, std::nullopt},
        {3e9, std::nullopt}, {2147483647.0, 2147483647},
    };
    for (const auto& c : cases) EXPECT_EQ(varkel::usableRate(c.rate), c.expected) << c.rate;
}

TEST(StateControl, RetuneFollowsTheRateKeepsParametersAndClearsFilters) {
    StatePtr s = newState();
    s->preGain = 0.7f;
    s->cutOff = 0.4f;
    s->postGain = 0.2f;
    runLoud(*s);
    ASSERT_NE(s->lowState[0], 0.0f);

    varkel::retune(*s, 96000);
    EXPECT_EQ(s->rateHz, 96000);
    EXPECT_EQ(s->maxSlew, 20000.0f / 96000.0f);
    EXPECT_EQ(s->samplePeriod, 1.0f / 96000.0f);
    EXPECT_EQ(s->preGain, 0.7f);
    EXPECT_EQ(s->cutOff, 0.4f);
    EXPECT_EQ(s->postGain, 0.2f);
    expectFiltersAtRest(*s);

    // The same rate again changes nothing, not even the filters.
    runLoud(*s);
    const float low = s->lowState[1];
    varkel::retune(*s, 96000);
    EXPECT_EQ(s->lowState[1], low);
}

TEST(StateControl, ClearedStateRendersAsANewOne) {
    StatePtr used = newState(48000), fresh = newState(48000);
    runLoud(*used);
    varkel::clearFilters(*used);
    float a[2][32] = {}, b[2][32] = {};
    for (int i = 0; i < 32; ++i)
        a[0][i] = a[1][i] = b[0][i] = b[1][i] = 0.1f * static_cast<float>(i);
    float* ioA[2] = {a[0], a[1]};
    float* ioB[2] = {b[0], b[1]};
    varkel::resetRandom();
    varkel::processStereoBlock(*used, ioA, ioA, 32);
    varkel::resetRandom();
    varkel::processStereoBlock(*fresh, ioB, ioB, 32);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 32; ++i) EXPECT_EQ(a[ch][i], b[ch][i]) << ch << " " << i;
}

}  // namespace
