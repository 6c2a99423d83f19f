// Loudness against EBU Tech 3341's test signals, made here: stereo 1 kHz
// sines at levels given in dBFS, whose published loudness is known.
#include "engine/sound/loudness_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace varkel::engine {
namespace {

struct Stretch {
    double dbfs;
    double seconds;
};

struct LoudnessCase {
    const char* what;
    std::vector<Stretch> signal;  // one after another, the sine running on
    double lufs;
};

TEST(LoudnessMeter, MeasuresTheTestSignalsAtTheirPublishedLoudness) {
    constexpr int kRate = 48000;
    const LoudnessCase cases[] = {
        {"case 1: -23 dBFS for 20 s", {{-23.0, 20.0}}, -23.0},
        {"case 2: -33 dBFS for 20 s", {{-33.0, 20.0}}, -33.0},
        // The quiet stretches fall under the relative gate.
        {"case 3: -36, -23, -36 dBFS for 10, 60, 10 s", {{-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}},
         -23.0},
    };
    for (const LoudnessCase& c : cases) {
        SCOPED_TRACE(c.what);
        LoudnessMeter meter(2, kRate, false);
        std::vector<float> frames;
        std::int64_t frame = 0;
        double loudest = 0.0;
        for (const Stretch& stretch : c.signal) {
            const double level = std::pow(10.0, stretch.dbfs / 20.0);
            loudest = std::max(loudest, level);
            const auto count = static_cast<std::int64_t>(stretch.seconds * kRate);
            frames.clear();
            for (std::int64_t i = 0; i < count; ++i, ++frame) {
                const auto sample = static_cast<float>(
                    level * std::sin(2.0 * std::numbers::pi * 1000.0 * frame / kRate));
                frames.push_back(sample);
                frames.push_back(sample);
            }
            meter.add(frames.data(), frames.size() / 2);
        }
        EXPECT_NEAR(meter.integratedLufs(), c.lufs, 0.1);
        // A sine's true peak is its amplitude.
        EXPECT_NEAR(decibelsOf(meter.truePeak()), 20.0 * std::log10(loudest), 0.05);
    }

    LoudnessMeter silence(2, kRate, true);
    const std::vector<double> zeros(2 * kRate, 0.0);
    silence.add(zeros.data(), kRate);
    EXPECT_EQ(silence.integratedLufs(), -INFINITY);
    EXPECT_EQ(decibelsOf(silence.truePeak()), -INFINITY);

    // The true peak is the highest channel's, whichever channel that is.
    LoudnessMeter leftOnly(2, kRate, false);
    std::vector<double> left(2 * kRate, 0.0);
    for (int i = 0; i < kRate; ++i)
        left[2 * static_cast<std::size_t>(i)] = 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / kRate);
    leftOnly.add(left.data(), kRate);
    EXPECT_NEAR(decibelsOf(leftOnly.truePeak()), 20.0 * std::log10(0.5), 0.05);
}

}  // namespace
}  // namespace varkel::engine
