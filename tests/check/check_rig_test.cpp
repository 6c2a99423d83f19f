// The rig's measures of audio, against values worked out by hand.
#include "check/check_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace varkel::check;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(CheckRig, FirstNonFiniteNamesOutputAndFrame) {
    EXPECT_FALSE(firstNonFinite({{0.0f, 1.0f}, {-1.0f, 0.5f}}));
    EXPECT_EQ(*firstNonFinite({{0.0f, 1.0f}, {0.0f, kNaN}}), "output 2, frame 1 is NaN");
    EXPECT_EQ(*firstNonFinite({{0.0f, -kInf, kNaN}}), "output 1, frame 1 is infinite");
}

TEST(CheckRig, PeakAndDifferenceInDecibels) {
    const Audio a{{0.0f, 0.5f, -0.1f}, {0.0f, 0.0f, -1.0f}};
    EXPECT_NEAR(peakDbfs(a, 0, 3), 0.0, 1e-9);
    EXPECT_NEAR(peakDbfs(a, 0, 2), 20.0 * std::log10(0.5), 1e-9);  // frame 2 left out
    EXPECT_TRUE(std::isinf(peakDbfs(a, 0, 1)));
    const Audio b{{0.0f, 0.5f, -0.1f}, {0.0f, 0.001f, -1.0f}};
    EXPECT_NEAR(differenceDb(a, b), -60.0, 1e-4);
    EXPECT_TRUE(std::isinf(differenceDb(a, a)));
}

TEST(CheckRig, SameBitsTellsSignedZerosAndLengthsApart) {
    EXPECT_TRUE(sameBits({{0.25f, -1.0f}}, {{0.25f, -1.0f}}));
    EXPECT_FALSE(sameBits({{0.0f}}, {{-0.0f}}));
    EXPECT_TRUE(sameBits({{kNaN}}, {{kNaN}}));  // the same NaN is the same bits
    EXPECT_FALSE(sameBits({{0.0f, 0.0f}}, {{0.0f}}));
    EXPECT_FALSE(sameBits({{0.0f}}, {{0.0f}, {0.0f}}));
}

TEST(CheckRig, BlockPatternsRepeatAndStayInRange) {
    BlockPattern fixed = BlockPattern::fixed(7);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(fixed.next(), 7);
    BlockPattern first = BlockPattern::random(3), second = BlockPattern::random(3);
    int small = 0;
    for (int i = 0; i < 1000; ++i) {
        const int frames = first.next();
        EXPECT_EQ(frames, second.next());
        EXPECT_GE(frames, 1);
        EXPECT_LE(frames, kLargestBlock);
        small += frames < 64;
    }
    EXPECT_GT(small, 400);  // about half under 64 frames
    EXPECT_LT(small, 600);
}

TEST(CheckRig, TestSignalDiffersPerChannelWithinHalfScale) {
    const Audio signal = testSignal(3, 4800, 48000.0);
    ASSERT_EQ(signal.size(), 3u);
    EXPECT_LE(peakDbfs(signal, 0, 4800), 20.0 * std::log10(0.5));
    EXPECT_GT(peakDbfs(signal, 0, 4800), -12.0);
    EXPECT_FALSE(sameBits({signal[0]}, {signal[1]}));
    EXPECT_TRUE(sameBits(signal, testSignal(3, 4800, 48000.0)));
}

}  // namespace
