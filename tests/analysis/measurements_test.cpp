// The measurements on model devices written here: gains, clipping and
// broken output whose effect is known by hand.
#include "analysis/measurements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/level_dependence.h"

namespace {

using namespace varkel::analysis;

// Output 1: input x 0.5. Output 2: input clipped hard at +-0.25.
class HalfAndClip : public Device {
public:
    int outputs() const override { return 2; }
    std::string description() const override { return "half and clip"; }
    std::vector<Signal> render(const Signal& input) const override {
        thread_local int rendersOnThisThread = 0;
        if (++rendersOnThisThread != 1) reusedThread = true;
        Signal half(input.size()), clipped(input.size());
        for (std::size_t n = 0; n < input.size(); ++n) {
            half[n] = 0.5f * input[n];
            clipped[n] = std::clamp(input[n], -0.25f, 0.25f);
        }
        return {half, clipped};
    }
    mutable bool reusedThread = false;
};

// Output 1: input plus a constant, 1 % of a -6 dBFS tone's amplitude.
// Output 2: a first-order high-pass at 100 Hz by the bilinear transform,
// |H|^2 = t^2 / (1 + t^2) with t = tan(pi f / rate) / tan(pi 100 / rate).
class OffsetAndHighPass : public Device {
public:
    static constexpr double kRate = 44100.0;
    static double tanOfCorner() { return std::tan(std::numbers::pi * 100.0 / kRate); }

    int outputs() const override { return 2; }
    std::string description() const override { return "offset and high-pass"; }
    std::vector<Signal> render(const Signal& input) const override {
        const double k = tanOfCorner();
        const double b = 1.0 / (1.0 + k);
        const double a = (1.0 - k) / (1.0 + k);
        Signal offset(input.size()), highPass(input.size());
        double previousIn = 0.0, previousOut = 0.0;
        for (std::size_t n = 0; n < input.size(); ++n) {
            offset[n] = input[n] + 0.005f;
            previousOut = b * (input[n] - previousIn) + a * previousOut;
            previousIn = input[n];
            highPass[n] = static_cast<float>(previousOut);
        }
        return {offset, highPass};
    }
};

class Broken : public Device {
public:
    int outputs() const override { return 1; }
    std::string description() const override { return "broken"; }
    std::vector<Signal> render(const Signal& input) const override {
        Signal out = input;
        out[out.size() / 2] = INFINITY;
        return {out};
    }
};

// Output = gain x input, frames late, and says so.
class Delay : public Device {
public:
    Delay(int frames, float gain) : frames(frames), gain(gain) {}
    int outputs() const override { return 1; }
    std::string description() const override { return "delay"; }
    int reportedLatency() const override { return frames; }
    std::vector<Signal> render(const Signal& input) const override {
        Signal out(input.size(), 0.0f);
        for (std::size_t n = static_cast<std::size_t>(frames); n < input.size(); ++n)
            out[n] = gain * input[n - static_cast<std::size_t>(frames)];
        return {out};
    }

private:
    int frames;
    float gain;
};

// y = x + c2 x^3 + c3 x^4, memoryless.
class Polynomial : public Device {
public:
    Polynomial(double cubic, double quartic) : cubic(cubic), quartic(quartic) {}
    int outputs() const override { return 1; }
    std::string description() const override { return "polynomial"; }
    std::vector<Signal> render(const Signal& input) const override {
        Signal out(input.size());
        for (std::size_t n = 0; n < input.size(); ++n) {
            const double x = input[n];
            out[n] = static_cast<float>(x + cubic * x * x * x + quartic * x * x * x * x);
        }
        return {out};
    }

private:
    double cubic, quartic;
};

TEST(Measurements, IntermodulationFollowsTheClosedFormsOfAPolynomial) {
    // SMPTE, x = a sin w1 + b sin w2, a = 4 b, the pair's peak a + b.
    // x^3 makes f2 +- 2 f1 at 3 a^2 b / 4 each and takes 3 b^3 / 4 +
    // 3 a^2 b / 2 from f2. x^4 makes f2 +- f1 at 3 a b (a^2 + b^2) / 2 and
    // f2 +- 3 f1 at a^3 b / 2 each and nothing at f2. (x^5 would make no
    // f2 +- 3 f1: that takes an odd count of f1 and of f2.)
    // CCIF, both at c: x^3 makes 2 f1 - f2 and 2 f2 - f1 at 3 c^3 / 4 each
    // and takes 9 c^3 / 4 from each tone.
    struct Row {
        const char* name;
        double cubic, quartic;
    };
    const double peak = std::pow(10.0, -6.0 / 20.0);
    const double b = peak / 5.0, a = 4.0 * b, c = peak / 2.0;
    for (const Row& row : {Row{"x - x^3 / 3", -1.0 / 3.0, 0.0}, Row{"x + x^4", 0.0, 1.0}}) {
        SCOPED_TRACE(row.name);
        const Polynomial device(row.cubic, row.quartic);
        AnalysisPlan plan;
        plan.what = {Measurement::Imd};
        plan.sweepFromDbfs = plan.sweepToDbfs = -6.0;
        const Analysis analysis = analyse(device, plan);
        const ImdChannel& imd = analysis.imd->points.at(0).channels.at(0);

        const double f2 = b + row.cubic * (0.75 * b * b * b + 1.5 * a * a * b);
        const double sidebands[3] = {row.quartic * 1.5 * a * b * (a * a + b * b),
                                     std::fabs(row.cubic) * 0.75 * a * a * b,
                                     row.quartic * 0.5 * a * a * a * b};
        double squares = 0.0, reported = 0.0;
        ASSERT_EQ(imd.smpteLowerDb.size(), 3u);
        for (int n = 0; n < 3; ++n) {
            SCOPED_TRACE(n + 1);
            const double expected = sidebands[n] > 0.0 ? 20.0 * std::log10(sidebands[n] / f2) : -400.0;
            for (double measured : {imd.smpteLowerDb[n], imd.smpteUpperDb[n]})
                EXPECT_NEAR(std::max(measured, -150.0), std::max(expected, -150.0), 0.05);
            squares += 4.0 * sidebands[n] * sidebands[n];
            const double pair =
                std::pow(10.0, imd.smpteLowerDb[n] / 20.0) + std::pow(10.0, imd.smpteUpperDb[n] / 20.0);
            reported += pair * pair;
        }
        // Every order's pair counted, each pair summed before the RMS.
        EXPECT_NEAR(*imd.smpteDb, 10.0 * std::log10(squares) - 20.0 * std::log10(f2), 0.05);
        EXPECT_NEAR(*imd.smpteDb, 10.0 * std::log10(reported), 1e-9);
        if (row.cubic != 0.0) {
            EXPECT_NEAR(*imd.smpteDb, -21.15, 0.01);
            const double tone = c + row.cubic * 2.25 * c * c * c;
            const double product = std::fabs(row.cubic) * 0.75 * c * c * c;
            EXPECT_NEAR(*imd.d3Db, 20.0 * std::log10(2.0 * product / (2.0 * tone)), 0.05);
            EXPECT_NEAR(*imd.d3Db, -35.66, 0.01);
            EXPECT_NEAR(*imd.d3HighDb, *imd.d3Db - 20.0 * std::log10(2.0), 0.05);
        }
    }
}

TEST(Measurements, AnInvertedImpulsePeaksWhereItsMagnitudeDoes) {
    Delay device(5, -1.0f);
    AnalysisPlan plan;
    plan.what = {Measurement::Impulse};
    const Analysis a = analyse(device, plan, [](double) {});
    ASSERT_TRUE(a.impulse);
    EXPECT_EQ(a.impulse->channels[0].latencyFrames, 5);
    EXPECT_TRUE(a.impulse->latencyAgrees());
    EXPECT_NEAR(a.impulse->channels[0].impulse[5], -1.0, 1e-3);
}

TEST(Measurements, PhaseOfADelayIsItsClosedFormFromTheLowestFrequency) {
    struct Row {
        int frames;
        float gain;
        double atDcDeg;  // 0, or 180 for an inverting delay
    };
    // 64 frames turn the phase by 627 degrees between 20 and 21.2 kHz, more
    // than half a turn from point to point; 8192 frames (186 ms) by 669
    // degrees already at 10 Hz.
    for (const Row& row : {Row{64, 1.0f, 0.0}, Row{5, -1.0f, 180.0}, Row{8192, 0.5f, 0.0}}) {
        SCOPED_TRACE(row.frames);
        Delay device(row.frames, row.gain);
        AnalysisPlan plan;
        plan.what = {Measurement::Response};
        const Analysis a = analyse(device, plan);
        const ResponseResult& r = *a.response;
        const ChannelResponse& c = r.channels.at(0);
        EXPECT_EQ(c.latencyFrames, row.frames);
        const auto closedForm = [&](double f) {
            return row.atDcDeg - 360.0 * f * row.frames / plan.rate;
        };
        // Starts within +-180 degrees, on the closed form but for whole turns.
        EXPECT_LE(std::fabs(c.phaseDeg[0]), 180.0);
        EXPECT_NEAR(std::remainder(c.phaseDeg[0] - closedForm(r.frequencies[0]), 360.0), 0.0, 0.01);
        for (std::size_t i = 0; i < r.frequencies.size(); ++i) {
            SCOPED_TRACE(r.frequencies[i]);
            EXPECT_NEAR(c.phaseDeg[i] - c.phaseDeg[0],
                        closedForm(r.frequencies[i]) - closedForm(r.frequencies[0]), 0.01);
            EXPECT_NEAR(std::fabs(c.phaseWithoutLatencyDeg[i]), row.atDcDeg, 0.01);
        }
    }
}

TEST(Measurements, GainsClippingAndProgressOfAModelDevice) {
    HalfAndClip device;
    AnalysisPlan plan;
    std::vector<double> progress;
    const Analysis a = analyse(device, plan, [&](double f) { progress.push_back(f); });

    EXPECT_FALSE(device.reusedThread) << "a render ran on a thread that had rendered before";
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);

    ASSERT_TRUE(a.response);
    for (double m : a.response->channels[0].magnitudeDb) EXPECT_NEAR(m, -6.0206, 1e-4);
    // At -30 dBFS nothing reaches the clip.
    for (double m : a.response->channels[1].magnitudeDb) EXPECT_NEAR(m, 0.0, 1e-4);

    ASSERT_TRUE(a.levels);
    const double clip = 20.0 * std::log10(0.25);
    for (const LevelPoint& p : a.levels->points) {
        SCOPED_TRACE(p.inputDbfs);
        EXPECT_NEAR(p.outputPeakDbfs[0], p.inputDbfs - 6.0206, 0.01);
        EXPECT_NEAR(p.outputPeakDbfs[1], std::min(p.inputDbfs, clip), 0.01);
        if (p.inputDbfs < clip - 0.1) {
            EXPECT_LT(p.tones[1].thd, 1e-5);
            EXPECT_NEAR(p.outputRmsDbfs[1], p.inputDbfs - 3.0103, 0.01);
        } else if (p.inputDbfs > clip + 1.0) {
            EXPECT_GT(p.tones[1].thd, 0.01);
        }
    }
    // A hard clip is odd: no even harmonics.
    ASSERT_TRUE(a.harmonics);
    EXPECT_LT(*a.harmonics->channels[1].harmonicsDb[0], -100.0);
    EXPECT_GT(*a.harmonics->channels[1].harmonicsDb[1], -20.0);
    // Clipping starts at -12.04 dBFS; the first 2 dB step above it already
    // distorts by more than 1 %.
    const auto onset = levelWhereThdReaches(*a.levels, 1, 0.01);
    ASSERT_TRUE(onset);
    EXPECT_GT(*onset, clip);
    EXPECT_LT(*onset, clip + 2.0);
    EXPECT_FALSE(levelWhereThdReaches(*a.levels, 0, 0.01));
}

TEST(Measurements, AnOffsetIsNoDistortionAndTheLowCornerIsTheOneNearestTheBand) {
    OffsetAndHighPass device;
    AnalysisPlan plan;
    plan.what = {Measurement::Response, Measurement::Harmonics};
    const Analysis a = analyse(device, plan);
    // The window spreads DC over bins 0 to 3, none of which is noise.
    EXPECT_LT(a.harmonics->channels[0].thdN, 1e-5);
    // 3 dB under the gain at 1 kHz: t^2 / (1 + t^2) = g, t^2 = g / (1 - g).
    const auto tOf = [](double f) {
        return std::tan(std::numbers::pi * f / OffsetAndHighPass::kRate) /
               OffsetAndHighPass::tanOfCorner();
    };
    const double g =
        std::pow(10.0, -0.3) * tOf(1000.0) * tOf(1000.0) / (1.0 + tOf(1000.0) * tOf(1000.0));
    const double corner = OffsetAndHighPass::kRate / std::numbers::pi *
                          std::atan(std::sqrt(g / (1.0 - g)) * OffsetAndHighPass::tanOfCorner());
    ASSERT_TRUE(a.response->channels[1].lowCornerHz);
    EXPECT_NEAR(*a.response->channels[1].lowCornerHz, corner, 0.005 * corner);
}

TEST(Measurements, ResponseSaysWhereTheGainChangesWithLevel) {
    // A sine of amplitude A clipped at c = r A keeps a fundamental of
    // (2 / pi) (asin r + r sqrt(1 - r^2)) A.
    const double r = 0.25 / std::pow(10.0, -6.0 / 20.0);
    const double clipped =
        20.0 * std::log10(2.0 / std::numbers::pi * (std::asin(r) + r * std::sqrt(1.0 - r * r)));
    struct Row {
        double levelDbfs;
        double halfChangeDb, clipChangeDb;  // 10 dB lower, the clip is not reached
    };
    for (const Row& row : {Row{-30.0, 0.0, 0.0}, Row{-6.0, 0.0, clipped}}) {
        SCOPED_TRACE(row.levelDbfs);
        HalfAndClip device;
        AnalysisPlan plan;
        plan.what = {Measurement::Response};
        plan.responseLevelDbfs = row.levelDbfs;
        const ResponseResult response = *analyse(device, plan).response;
        for (double change : response.channels[0].gainChangeDb)
            EXPECT_NEAR(change, row.halfChangeDb, 1e-4);
        for (double change : response.channels[1].gainChangeDb)
            EXPECT_NEAR(change, row.clipChangeDb, 0.02);
        const auto dependence = levelDependence(response);
        EXPECT_EQ(dependence.has_value(), row.clipChangeDb != 0.0);
        if (dependence) {
            EXPECT_EQ(dependence->channel, 1);
        }
    }
}

TEST(Measurements, NonFiniteOutputIsAnError) {
    Broken device;
    AnalysisPlan plan;
    plan.what = {Measurement::Harmonics};
    try {
        analyse(device, plan);
        FAIL() << "no error";
    } catch (const AnalysisError& error) {
        EXPECT_NE(std::string(error.what()).find("broken produced non-finite samples"),
                  std::string::npos)
            << error.what();
    }
}

TEST(Measurements, FrequencyGridRunsEndToEndThroughTheReference) {
    const auto grid = frequencyGrid(10.0, 22050.0, 12);
    EXPECT_DOUBLE_EQ(grid.front(), 10.0);
    EXPECT_DOUBLE_EQ(grid.back(), 22050.0);
    EXPECT_NE(std::find(grid.begin(), grid.end(), 1000.0), grid.end());
    for (std::size_t i = 2; i + 1 < grid.size(); ++i)
        EXPECT_NEAR(grid[i] / grid[i - 1], std::exp2(1.0 / 12.0), 1e-12) << grid[i];
    // Interior points keep clear of the ends.
    EXPECT_GT(grid[1] / grid[0], std::exp2(0.05 / 12.0));
    EXPECT_TRUE(std::is_sorted(grid.begin(), grid.end()));
}

TEST(Measurements, ThdThresholdIsFoundOnTheWayUpFromTheCleanestLevel) {
    // THD falls (crossover) to -60 dB at -20 dBFS, then rises (clipping).
    const std::vector<std::pair<double, double>> thdDbAt = {{-40, -30}, {-30, -50}, {-20, -60},
                                                            {-10, -50}, {0, -30},   {10, -10}};
    LevelSweep sweep;
    for (const auto& [level, thdDb] : thdDbAt) {
        LevelPoint p;
        p.inputDbfs = level;
        ToneAnalysis tone;
        tone.thd = std::pow(10.0, thdDb / 20.0);
        p.tones = {tone};
        sweep.points.push_back(p);
    }
    // 1 % is -40 dB: halfway from -50 dB at -10 dBFS to -30 dB at 0 dBFS.
    EXPECT_NEAR(*levelWhereThdReaches(sweep, 0, 0.01), -5.0, 1e-9);
    EXPECT_NEAR(*levelWhereThdReaches(sweep, 0, 0.1), 5.0, 1e-9);
    EXPECT_FALSE(levelWhereThdReaches(sweep, 0, 0.5));
    // Nowhere below: the cleanest level.
    EXPECT_DOUBLE_EQ(*levelWhereThdReaches(sweep, 0, 0.0001), -20.0);
}

}  // namespace
