// varkel-host analyze's impulse, aliasing and intermodulation measurements
// against the analysis fixtures, whose outputs are known in closed form: a
// K-frame delay, a one-pole low-pass y += a (x - y) and the cubic
// y = x - x^3 / 3. The closed forms are worked out here by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numbers>

#include "tests/e2e/e2e_support.h"

namespace {

using Json = nlohmann::json;
constexpr double kRate = 44100.0;
constexpr int kDelayFrames = 7;

using e2e::db;

class AnalyzeLinearity : public ::testing::Test {
protected:
    Json analyze(std::vector<std::string> args) {
        std::vector<std::string> full{"analyze", "--out", dir / "out"};
        full.insert(full.end(), args.begin(), args.end());
        last = e2e::runHost(full);
        if (last.status != 0) throw std::runtime_error("analyze failed: " + last.err);
        std::ifstream file(dir / "out/analysis.json");
        return Json::parse(file);
    }
    e2e::ScratchDir dir;
    e2e::RunResult last;
};

TEST_F(AnalyzeLinearity, DelayPeaksAtItsLatencyWithAFlatGroupDelay) {
    struct Case {
        const char* plugin;
        bool reportsIt;
    };
    for (const Case& c : {Case{ANALYSIS_DELAY_PLUGIN, true},
                          Case{ANALYSIS_UNREPORTED_DELAY_PLUGIN, false}}) {
        SCOPED_TRACE(c.plugin);
        const Json json = analyze({"--plugin", c.plugin, "--what", "impulse"});
        const Json& impulse = json["devices"][0]["impulse"];
        EXPECT_EQ(impulse["reported_latency_frames"], c.reportsIt ? kDelayFrames : 0);
        EXPECT_EQ(impulse["latency_agrees"], c.reportsIt);
        EXPECT_EQ(last.err.find("reports a latency of 0 frames") != std::string::npos,
                  !c.reportsIt)
            << last.err;
        for (const Json& out : impulse["outputs"]) {
            EXPECT_EQ(out["latency_frames"], kDelayFrames);
            for (const Json& ms : out["group_delay_ms"])
                EXPECT_NEAR(ms.get<double>(), 1000.0 * kDelayFrames / kRate, 1e-6);
        }
    }
}

TEST_F(AnalyzeLinearity, OnePoleLowPassGivesItsImpulseAndStepResponses) {
    const Json json =
        analyze({"--plugin", ANALYSIS_LOWPASS_PLUGIN, "--what", "impulse", "--quiet"});
    // h[n] = a (1 - a)^n; its time constant is 1 / -ln(1 - a) = rate / (2 pi fc) frames.
    const double a = 1.0 - std::exp(-2.0 * std::numbers::pi * 2000.0 / kRate);
    const auto fiveTimeConstants =
        static_cast<std::size_t>(std::ceil(5.0 * kRate / (2.0 * std::numbers::pi * 2000.0)));
    for (const Json& out : json["devices"][0]["impulse"]["outputs"]) {
        EXPECT_EQ(out["latency_frames"], 0);
        const Json& h = out["impulse"];
        const Json& step = out["step"];
        ASSERT_GE(h.size(), static_cast<std::size_t>(0.02 * kRate));
        for (std::size_t n = 0; n < static_cast<std::size_t>(0.02 * kRate); ++n)
            ASSERT_NEAR(h[n].get<double>(), a * std::pow(1.0 - a, n), 1e-4 * a) << n;
        for (std::size_t n = fiveTimeConstants; n < step.size(); ++n)
            ASSERT_NEAR(step[n].get<double>(), 1.0, 0.01) << n;
    }
}

TEST_F(AnalyzeLinearity, CubicsThirdHarmonicFoldsToWhereAndAsLoudAsItMust) {
    const Json json = analyze({"--plugin", ANALYSIS_CUBIC_PLUGIN, "--what", "aliasing", "--quiet"});
    // x = A sin: x - x^3 / 3 has A^3 / 12 at 3f against A - A^3 / 4 at f.
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    const double third = db((std::pow(amplitude, 3) / 12.0) / (amplitude - std::pow(amplitude, 3) / 4.0));
    bool sawFifteen = false;
    for (const Json& point : json["devices"][0]["aliasing"]["points"]) {
        const double f = point["frequency_hz"].get<double>();
        if (std::fabs(f - 15000.0) > 5.0) continue;
        sawFifteen = true;
        for (const Json& out : point["outputs"]) {
            const Json& strongest = out["aliases"][0];
            EXPECT_EQ(strongest["order"], 3);
            // 45 kHz folds about the rate to 900 Hz.
            EXPECT_NEAR(strongest["lands_hz"].get<double>(), 3.0 * f - kRate, 1e-6);
            EXPECT_NEAR(strongest["lands_hz"].get<double>(), 900.0, 5.0);
            EXPECT_NEAR(strongest["level_db"].get<double>(), third, 0.1);
            EXPECT_NEAR(out["total_alias_db"].get<double>(), third, 0.1);
        }
    }
    EXPECT_TRUE(sawFifteen);
}

TEST_F(AnalyzeLinearity, NothingFoldsBackFromALinearPluginOrAnOversampledCubic) {
    struct Case {
        const char* plugin;
        const char* key;
        std::vector<std::string> extra;
    };
    const Case cases[] = {{ANALYSIS_UNITY_PLUGIN, "aliasing", {}},
                          {ANALYSIS_CUBIC_PLUGIN, "oversampled_aliasing", {"--oversample", "4"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        std::vector<std::string> args{"--plugin", c.plugin, "--what", "aliasing", "--quiet"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Json json = analyze(args);
        for (const Json& point : json["devices"][0][c.key]["points"])
            for (const Json& out : point["outputs"]) {
                EXPECT_LT(out["total_alias_db"].get<double>(), -120.0) << point["frequency_hz"];
                // The cubic keeps A - A^3 / 4 of the tone.
                const double a = std::pow(10.0, -6.0 / 20.0);
                EXPECT_NEAR(out["fundamental_dbfs"].get<double>(),
                            c.extra.empty() ? -6.0 : db(a - a * a * a / 4.0), 0.01);
            }
    }
}

TEST_F(AnalyzeLinearity, CubicsIntermodulationFollowsItsClosedForms) {
    const Json json = analyze({"--plugin", ANALYSIS_CUBIC_PLUGIN, "--what", "imd", "--quiet"});
    for (const Json& point : json["devices"][0]["imd"]["points"]) {
        const double level = point["level_dbfs"].get<double>();
        if (level > 0.0) continue;
        SCOPED_TRACE(level);
        const double peak = std::pow(10.0, level / 20.0);
        // SMPTE, x = a cos w1 + b cos w2 with a = 4b: of x^3 / 3 only
        // a^2 b cos^2(w1) cos(w2) makes sidebands, a^2 b / 4 at f2 +- 2 f1
        // each, added; f2 keeps b - a^2 b / 2 - b^3 / 4.
        const double b = peak / 5.0, a = 4.0 * b;
        const double f2 = std::fabs(b - a * a * b / 2.0 - b * b * b / 4.0);
        const double smpte = db(2.0 * (a * a * b / 4.0) / f2);
        // CCIF, both at c: c^3 / 4 at 2 f1 - f2 and 2 f2 - f1, each tone
        // keeps c - 3 c^3 / 4; both products re 2 U(f2), each on its own
        // relative to the tones' sum.
        const double c = peak / 2.0;
        const double each = db((c * c * c / 4.0) / (2.0 * (c - 0.75 * c * c * c)));
        const double d3 = db((c * c * c / 2.0) / (2.0 * (c - 0.75 * c * c * c)));
        for (const Json& out : point["outputs"]) {
            EXPECT_NEAR(out["smpte_db"].get<double>(), smpte, 0.1);
            EXPECT_NEAR(out["ccif_d3_db"].get<double>(), d3, 0.1);
            EXPECT_NEAR(out["ccif_d3_low_db"].get<double>(), each, 0.1);
            EXPECT_NEAR(out["ccif_d3_high_db"].get<double>(), each, 0.1);
            // No even order: d2 is below the floor, and said to be.
            EXPECT_LT(out["ccif_d2_db"].get<double>(), -120.0);
            EXPECT_EQ(out["ccif_d2_db_below_floor"], true);
        }
    }
}

}  // namespace
