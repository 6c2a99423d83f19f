// The processor against the reference sequences, against a plain model of
// the chain, and on the edge cases of the stage.
#include "dsp/op_amp_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "chain_reference_data.h"
#include "dsp/random_source.h"
#include "dsp/state_control.h"
#include "dsp/stereo_block.h"
#include "dsp/stereo_pipeline_avx2.h"
#include "dsp/varkel.h"
#include "plain_model.h"
#include "processor_state.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

std::uint32_t bitsOf(float f) { return std::bit_cast<std::uint32_t>(f); }

// The generator state whose next draw is 32767: u = 1 and the noise is
// exactly zero for the sample that draws it.
std::uint32_t stateBeforeSilentNoise() {
    // Inverse of the multiplier mod 2^32 by Newton's iteration.
    std::uint32_t inverse = 214013u;
    for (int i = 0; i < 5; ++i) inverse *= 2u - 214013u * inverse;
    return (0x7FFF0000u - 2531011u) * inverse;
}

TEST(OpAmpChain, MatchesReferenceSequences) {
    StatePtr state;
    std::string current;
    int frame = 0;
    for (const ChainReferenceFrame& f : kChainReference) {
        if (current != f.name) {
            current = f.name;
            state = newState();
            varkel::resetRandom();
            frame = 0;
        }
        state->preGain = f.preGain;
        state->cutOff = f.cutOff;
        state->postGain = f.postGain;
        const float left = Varkel_process(0, state.get(), f.inL);
        const float right = Varkel_process(1, state.get(), f.inR);
        ASSERT_EQ(bitsOf(left), f.outL) << f.name << " frame " << frame;
        ASSERT_EQ(bitsOf(right), f.outR) << f.name << " frame " << frame;
        ++frame;
    }
}

TEST(OpAmpChain, GeneratorMatchesItsFirstDraws) {
    varkel::resetRandom();
    const int expected[] = {41,    18467, 6334, 26500, 19169, 15724, 11478, 29358,
                            26962, 24464, 5705, 28145, 23281, 16827, 9961,  491};
    for (int draw : expected) EXPECT_EQ(varkel::nextRandom(), draw);
}

// Block processing (both channels per frame, coefficients cached) against the
// plain model, over varied signals, parameters written between blocks of
// every size from one frame up, and in-place buffers; with coefficients
// derived afresh for each block, or kept from block to block as an instance
// keeps them (then also across a new rate).
// Each on the SSE2 pipeline and, where the processor has it, the AVX2 one.
class BlockProcessing : public testing::TestWithParam<std::tuple<bool, bool>> {
protected:
    void TearDown() override { varkel::enableAvx2Pipeline(true); }
};

TEST_P(BlockProcessing, EqualsPlainModel) {
    const auto [keepCoefficients, avx2] = GetParam();
    varkel::enableAvx2Pipeline(avx2);
    if (avx2 && !varkel::avx2PipelineEnabled()) GTEST_SKIP() << "no AVX2 here";
    StatePtr state = newState();
    varkel::ChainCoefficients kept;
    plain::Model model(44100);
    plain::Lcg modelRng;
    varkel::resetRandom();

    std::uint32_t seed = 12345;
    auto uniform = [&] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    std::vector<float> left(600), right(600), outL(600), outR(600);
    long frames = 0;
    for (int block = 0; block < 1500; ++block) {
        const int length = block % 10 == 0 ? 1 : 1 + static_cast<int>(uniform() * 599);
        if (block % 3 == 0) {
            // cutOff up to 1, where the bandwidth filter stays stable.
            const float pre = block % 30 == 0 ? 0.0f : uniform();
            const float cut = block % 45 == 0 ? 0.0f : uniform();
            const float post = uniform();
            state->preGain = model.preGain = pre;
            state->cutOff = model.cutOff = cut;
            state->postGain = model.postGain = post;
        }
        const float amplitude = static_cast<float>(block % 5) * 1.5f;
        for (int i = 0; i < length; ++i) {
            left[i] = amplitude * std::sin(0.013f * static_cast<float>(frames + i));
            right[i] = amplitude * (uniform() - 0.5f);
        }
        std::vector<float> expectedL(length), expectedR(length);
        for (int i = 0; i < length; ++i) {
            expectedL[i] = model.process(0, left[i], modelRng);
            expectedR[i] = model.process(1, right[i], modelRng);
        }
        const bool inPlace = block % 2 == 1;
        float* in[2] = {left.data(), right.data()};
        float* out[2] = {inPlace ? left.data() : outL.data(), inPlace ? right.data() : outR.data()};
        if (keepCoefficients)
            varkel::processStereoBlock(*state, kept, in, out, length);
        else
            varkel::processStereoBlock(*state, in, out, length);
        for (int i = 0; i < length; ++i) {
            ASSERT_EQ(bitsOf(out[0][i]), bitsOf(expectedL[i]))
                << "block " << block << " frame " << i;
            ASSERT_EQ(bitsOf(out[1][i]), bitsOf(expectedR[i]))
                << "block " << block << " frame " << i;
        }
        frames += length;
        if (keepCoefficients && block == 750) {
            varkel::retune(*state, 48000);
            plain::Model retuned(48000);
            retuned.preGain = model.preGain;
            retuned.cutOff = model.cutOff;
            retuned.postGain = model.postGain;
            model = retuned;
        }
    }
}
INSTANTIATE_TEST_SUITE_P(OpAmpChain, BlockProcessing,
                         testing::Combine(testing::Bool(), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "KeptCoefficients"
                                                                        : "Fresh") +
                                    (std::get<1>(info.param) ? "Avx2" : "Sse2");
                         });

#if defined(__SSE__)
// Runs work with subnormal results and operands flushed to zero (FTZ, DAZ),
// the floating-point mode the processor's blocks run in.
template <typename Work>
void underFlushToZero(Work work) {
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040u);
    work();
    _mm_setcsr(saved);
}

template <typename Sample>
void expectSubnormalTailEqualsFlushedModel() {
    StatePtr state = newState();
    plain::Model flushed(44100), unflushed(44100);
    plain::Lcg flushedRng, unflushedRng;
    varkel::resetRandom();
    constexpr int kBlock = 441;
    std::vector<Sample> left(kBlock), right(kBlock);
    bool reachedSubnormal = false, flushingMattered = false;
    // A loud second, then four seconds at PreGain 0: the filters decay
    // through the subnormal range.
    for (int block = 0; block < 500; ++block) {
        const float pre = block < 100 ? 1.0f : 0.0f;
        state->preGain = flushed.preGain = unflushed.preGain = pre;
        for (int i = 0; i < kBlock; ++i) {
            const float t = static_cast<float>(block * kBlock + i);
            left[i] = static_cast<Sample>(0.9f * std::sin(0.031f * t));
            right[i] = static_cast<Sample>(-0.8f * std::sin(0.017f * t));
        }
        std::vector<float> expected(2 * kBlock);
        underFlushToZero([&] {
            for (int i = 0; i < kBlock; ++i) {
                expected[2 * i] = flushed.process(0, static_cast<float>(left[i]), flushedRng);
                expected[2 * i + 1] = flushed.process(1, static_cast<float>(right[i]), flushedRng);
            }
        });
        for (int i = 0; i < kBlock; ++i) {
            for (int ch = 0; ch < 2; ++ch) {
                const float y = unflushed.process(
                    ch, static_cast<float>(ch == 0 ? left[i] : right[i]), unflushedRng);
                if (std::fpclassify(y) == FP_SUBNORMAL) reachedSubnormal = true;
                if (bitsOf(y) != bitsOf(expected[2 * i + ch])) flushingMattered = true;
            }
        }
        Sample* io[2] = {left.data(), right.data()};
        varkel::processStereoBlock(*state, io, io, kBlock);
        for (int i = 0; i < kBlock; ++i) {
            ASSERT_EQ(bitsOf(static_cast<float>(left[i])), bitsOf(expected[2 * i]))
                << "block " << block << " frame " << i;
            ASSERT_EQ(bitsOf(static_cast<float>(right[i])), bitsOf(expected[2 * i + 1]))
                << "block " << block << " frame " << i;
        }
    }
    // Without flushing, the chain itself gives subnormals and other bits.
    EXPECT_TRUE(reachedSubnormal);
    EXPECT_TRUE(flushingMattered);
}

// After a loud passage and PreGain 0 the states decay into the subnormal
// range; there the processor is the chain computed with subnormals flushed.
TEST(OpAmpChain, SubnormalTailEqualsChainUnderFlushToZero) {
    expectSubnormalTailEqualsFlushedModel<float>();
    expectSubnormalTailEqualsFlushedModel<double>();
}
#endif

// When the left output is the right input, the right channel must read the
// left result, exactly as the sample-by-sample order does.
// In blocks of one frame (a path of its own) and of many.
class LeftOutputAliasingRightInput : public testing::TestWithParam<int> {};

TEST_P(LeftOutputAliasingRightInput, KeepsSampleOrder) {
    const int block = GetParam();
    StatePtr state = newState();
    plain::Model model(44100);
    plain::Lcg modelRng;
    varkel::resetRandom();
    std::vector<float> left(64), shared(64);
    for (int i = 0; i < 64; ++i) {
        left[i] = 0.5f * std::sin(0.2f * static_cast<float>(i));
        shared[i] = -0.3f;
    }
    std::vector<float> expectedL(64), expectedR(64);
    std::vector<float> modelShared = shared;
    for (int i = 0; i < 64; ++i) {
        expectedL[i] = model.process(0, left[i], modelRng);
        modelShared[i] = expectedL[i];
        expectedR[i] = model.process(1, modelShared[i], modelRng);
    }
    std::vector<float> outR(64);
    float* in[2] = {left.data(), shared.data()};
    float* out[2] = {shared.data(), outR.data()};
    for (int start = 0; start < 64; start += block) {
        float* inAt[2] = {in[0] + start, in[1] + start};
        float* outAt[2] = {out[0] + start, out[1] + start};
        varkel::processStereoBlock(*state, inAt, outAt, block);
    }
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(bitsOf(shared[i]), bitsOf(expectedL[i])) << i;
        EXPECT_EQ(bitsOf(outR[i]), bitsOf(expectedR[i])) << i;
    }
}
INSTANTIATE_TEST_SUITE_P(OpAmpChain, LeftOutputAliasingRightInput, testing::Values(1, 64));

TEST(OpAmpChain, DoublePathRoundsInputsToSingle) {
    StatePtr a = newState(), b = newState();
    std::vector<double> wide = {0.1, 1.0 / 3.0, -0.7777777777, 1e-3, 0.30000000000000004};
    std::vector<float> narrow(wide.begin(), wide.end());
    std::vector<double> wideOut(wide.size());
    std::vector<float> narrowOut(wide.size());
    double* win[2] = {wide.data(), wide.data()};
    double* wout[2] = {wideOut.data(), wideOut.data()};
    std::vector<double> wideOutR(wide.size());
    wout[1] = wideOutR.data();
    float* nin[2] = {narrow.data(), narrow.data()};
    std::vector<float> narrowOutR(wide.size());
    float* nout[2] = {narrowOut.data(), narrowOutR.data()};
    varkel::resetRandom();
    varkel::processStereoBlock(*a, win, wout, static_cast<int>(wide.size()));
    varkel::resetRandom();
    varkel::processStereoBlock(*b, nin, nout, static_cast<int>(wide.size()));
    for (size_t i = 0; i < wide.size(); ++i) {
        EXPECT_EQ(wideOut[i], static_cast<double>(narrowOut[i]));
        EXPECT_EQ(wideOutR[i], static_cast<double>(narrowOutR[i]));
    }
}

TEST(OpAmpChain, NewRecordHoldsDefaultsAndRateConstants) {
    StatePtr s = newState();
    EXPECT_EQ(bitsOf(s->preGain), 0x3E809BCCu);
    EXPECT_EQ(bitsOf(s->postGain), 0x3E809BCCu);
    EXPECT_EQ(s->cutOff, 1.0f);
    EXPECT_EQ(s->rateHz, 44100);
    EXPECT_FLOAT_EQ(s->maxSlew, 0.45351472f);
    EXPECT_FLOAT_EQ(s->samplePeriod, 2.2675737e-05f);
    expectFiltersAtRest(*s);
    // The default gain is unity once rounded.
    EXPECT_EQ(static_cast<float>(static_cast<double>(s->preGain) * 3.9810719240874812), 1.0f);
}

TEST(OpAmpChain, RejectsRatesThatAreNotPositive) {
    EXPECT_EQ(Varkel_new(0), nullptr);
    EXPECT_EQ(Varkel_new(-44100), nullptr);
    Varkel_delete(nullptr);
}

TEST(OpAmpChain, ZeroPreGainGivesExactSilence) {
    StatePtr s = newState();
    s->preGain = 0.0f;
    for (int i = 0; i < 2000; ++i) {
        const float x = 3.0f * std::sin(0.05f * static_cast<float>(i));
        ASSERT_EQ(bitsOf(Varkel_process(i % 2, s.get(), x)), 0u) << i;
    }
}

// Input 0 gives c = -0, which is not negative: the dead zone's parabola at
// e = -t gives +2.5416724e-05. With the noise drawn as exactly 0 that is the
// first output.
TEST(OpAmpChain, DeadZoneValueForSilence) {
    StatePtr s = newState();
    varkel::resetRandom(stateBeforeSilentNoise());
    EXPECT_EQ(Varkel_process(0, s.get(), 0.0f), 2.5416724e-05f);
    // A tiny negative c (from a tiny positive input) mirrors it.
    StatePtr t = newState();
    varkel::resetRandom(stateBeforeSilentNoise());
    EXPECT_NEAR(Varkel_process(0, t.get(), 1e-9f), -2.54e-05f, 2e-8f);
}

TEST(OpAmpChain, SlewLimiterStepsFromRest) {
    StatePtr s = newState();
    // A large negative input holds the inverting clipper beyond +rail (the
    // lower cut-off keeps the bandwidth filter from ringing back).
    s->cutOff = 0.5f;
    varkel::resetRandom(stateBeforeSilentNoise());
    Varkel_process(0, s.get(), -3.0f);
    EXPECT_EQ(s->slewPrev[0], 0.45351472f);
    varkel::resetRandom(stateBeforeSilentNoise());
    Varkel_process(0, s.get(), -3.0f);
    EXPECT_EQ(s->slewPrev[0], 0.7414f);
}

TEST(OpAmpChain, ZeroCutOffFreezesTheBandState) {
    StatePtr s = newState();
    for (int i = 0; i < 10; ++i) Varkel_process(0, s.get(), 0.5f);
    const float frozen = s->bandState[0];
    ASSERT_NE(frozen, 0.0f);
    s->cutOff = 0.0f;
    for (int i = 0; i < 100; ++i) Varkel_process(0, s.get(), -0.9f + 0.01f * static_cast<float>(i));
    EXPECT_EQ(s->bandState[0], frozen);
}

TEST(OpAmpChain, ChannelArgumentSelectsLeftOnlyForZero) {
    for (int channel : {1, 2, -1, 1000}) {
        StatePtr s = newState();
        Varkel_process(channel, s.get(), 0.5f);
        EXPECT_EQ(s->lowState[0], 0.0f) << channel;
        EXPECT_NE(s->lowState[1], 0.0f) << channel;
    }
    StatePtr s = newState();
    Varkel_process(0, s.get(), 0.5f);
    EXPECT_NE(s->lowState[0], 0.0f);
    EXPECT_EQ(s->lowState[1], 0.0f);
}

// Below 44.1 kHz the 12 kHz corner nears Nyquist: the bandwidth coefficient
// is held at its 44.1 kHz maximum (T / rc at cutOff 1, 1.7097102), so the
// filter stays stable, and lower cut-offs keep their own coefficient.
TEST(OpAmpChain, BandwidthFilterStaysStableBelowTheDesignRate) {
    const double designMaximum = (1.0 / 44100.0) * (2.0 * M_PI * 12000.0);
    for (int rate : {44100, 38000, 32000, 22050, 8000}) {
        for (float cut : {1.0f, 0.5f, 0.2f}) {
            StatePtr s = newState(rate);
            s->cutOff = cut;
            varkel::ChainCoefficients k(*s);
            k.update(*s);
            const double unlimited = (1.0 / rate) * (2.0 * M_PI * 12000.0 * cut);
            const double expected = rate < 44100 ? std::min(unlimited, designMaximum) : unlimited;
            EXPECT_NEAR(k.bandCoefficient, expected, 1e-5) << rate << " Hz, cutOff " << cut;
            EXPECT_LT(k.bandCoefficient, 2.0f);

            // A quiet sine comes out at the level it has at 44.1 kHz, give or
            // take the shelf and the bandwidth corner: no run-away.
            std::vector<float> left(rate / 2), right(rate / 2);
            for (size_t i = 0; i < left.size(); ++i)
                left[i] = right[i] =
                    0.05f * std::sin(2.0f * 3.14159265f * 1000.0f * static_cast<float>(i) /
                                     static_cast<float>(rate));
            float* io[2] = {left.data(), right.data()};
            varkel::processStereoBlock(*s, io, io, rate / 2);
            float peak = 0.0f;
            for (size_t i = left.size() / 2; i < left.size(); ++i)
                peak = std::max(peak, std::fabs(left[i]));
            EXPECT_GT(peak, 0.03f) << rate << " Hz, cutOff " << cut;
            EXPECT_LT(peak, 0.08f) << rate << " Hz, cutOff " << cut;
        }
    }
}

// A NaN or infinite sample, or a finite one whose gained value overflows,
// must not leave a filter state non-finite: the channel recovers by itself.
TEST(OpAmpChain, NonFiniteSamplesDoNotKillTheChannel) {
    for (float poison : {NAN, INFINITY, -INFINITY, 3e38f}) {
        StatePtr s = newState();
        s->preGain = 1.0f;
        std::vector<float> in(2048, 0.0f);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
        in[100] = poison;
        std::vector<float> out(in.size());
        std::vector<float> right(in.size(), 0.0f), outR(in.size());
        float* ins[2] = {in.data(), right.data()};
        float* outs[2] = {out.data(), outR.data()};
        varkel::processStereoBlock(*s, ins, outs, static_cast<int>(in.size()));
        EXPECT_TRUE(std::isfinite(s->lowState[0]) && std::isfinite(s->bandState[0]));
        // Long after the poisoned sample the output follows the sine again.
        float lo = 1e9f, hi = -1e9f;
        for (size_t i = 1500; i < out.size(); ++i) {
            ASSERT_TRUE(std::isfinite(out[i]));
            lo = std::min(lo, out[i]);
            hi = std::max(hi, out[i]);
        }
        EXPECT_GT(hi - lo, 0.5f) << poison;
    }
}

}  // namespace
