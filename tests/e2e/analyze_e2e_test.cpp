// varkel-host analyze measured against plug-ins whose behaviour is known
// exactly (the analysis fixtures) and against what Varkel's chain implies.
// Expected values come from the transfer functions and series written out
// here, never from the analyser.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <numbers>
#include <set>
#include <stdexcept>

#include "tests/e2e/e2e_support.h"

namespace {

using Json = nlohmann::json;
using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// Runs analyze into <dir>/out and reads its JSON; throws, failing the test,
// when the command fails.
Json analyze(const e2e::ScratchDir& dir, std::vector<std::string> args) {
    std::vector<std::string> full{"analyze", "--out", dir / "out", "--quiet"};
    full.insert(full.end(), args.begin(), args.end());
    const e2e::RunResult run = e2e::runHost(full);
    // Without the JSON the test cannot go on.
    if (run.status != 0) throw std::runtime_error("analyze failed: " + run.err);
    std::ifstream file(dir / "out/analysis.json");
    return Json::parse(file);
}

using e2e::db;

double degrees(Complex z) { return std::arg(z) * 180.0 / kPi; }

// Difference of two phases in degrees, modulo 360, in (-180, 180].
double phaseDifference(double a, double b) { return std::remainder(a - b, 360.0); }

Complex zInverse(double f, double rate) { return std::polar(1.0, -2.0 * kPi * f / rate); }

// y = y + a (x - y): H(z) = a / (1 - (1 - a) z^-1)
Complex onePole(double a, double f, double rate) {
    return a / (1.0 - (1.0 - a) * zInverse(f, rate));
}

// Varkel's chain at small signals: input gain, the 100 Hz low-pass added back
// (low shelf), the bandwidth low-pass at 12000 x LPCutOff, the inverting
// clipper (slope -1 at 0), the DC blocker (1 - z^-1) / (1 - R z^-1), output
// gain; gains relative to 1 kHz cancel the two gain stages.
Complex varkelLinear(double f, double rate, double cutOff) {
    const double k1 = 628.3185 / rate;
    const double k2 = 24000.0 * kPi * cutOff / rate;
    const double r = 1.0 - 190.0 / rate;
    const Complex shelf = 1.0 + onePole(k1, f, rate);
    const Complex dcBlocker = (1.0 - zInverse(f, rate)) / (1.0 - r * zInverse(f, rate));
    return -shelf * onePole(k2, f, rate) * dcBlocker;
}

// Above reference, where |model(f) / model(1 kHz)| first falls to -3 dB,
// by bisection.
double highCorner(const std::function<Complex(double)>& model, double from, double to) {
    const double reference = std::abs(model(1000.0));
    auto below = [&](double f) { return db(std::abs(model(f)) / reference) < -3.0; };
    for (int i = 0; i < 60; ++i) {
        const double middle = std::sqrt(from * to);
        (below(middle) ? to : from) = middle;
    }
    return from;
}

class Analyze : public ::testing::Test {
protected:
    e2e::ScratchDir dir;
};

// Each output of a response, with its frequencies.
struct ResponseCurve {
    std::vector<double> f, magnitudeDb, phaseDeg;
};

std::vector<ResponseCurve> responses(const Json& json, int device = 0) {
    const Json& r = json["devices"][device]["response"];
    std::vector<ResponseCurve> curves;
    for (const Json& out : r["outputs"])
        curves.push_back({r["frequencies_hz"], out["magnitude_db"], out["phase_deg"]});
    return curves;
}

TEST_F(Analyze, UnityIsFlatWithoutPhaseOrDistortion) {
    const Json json =
        analyze(dir, {"--plugin", ANALYSIS_UNITY_PLUGIN, "--what", "response,harmonics"});
    const auto curves = responses(json);
    ASSERT_EQ(curves.size(), 2u);
    for (const ResponseCurve& curve : curves) {
        EXPECT_DOUBLE_EQ(curve.f.front(), 10.0);
        EXPECT_GT(curve.f.back(), 0.49 * 44100.0);
        EXPECT_GE(curve.f.size(), 120u);  // about 1/12 octave
        for (std::size_t i = 0; i < curve.f.size(); ++i) {
            SCOPED_TRACE(curve.f[i]);
            EXPECT_NEAR(curve.magnitudeDb[i], 0.0, 0.01);
            EXPECT_NEAR(curve.phaseDeg[i], 0.0, 0.1);
        }
    }
    for (const Json& out : json["devices"][0]["harmonics"]["outputs"]) {
        EXPECT_LT(out["thd_db"].get<double>(), -120.0);
        EXPECT_NEAR(out["fundamental_dbfs"].get<double>(), -6.0, 0.01);
    }
    for (const Json& out : json["devices"][0]["response"]["outputs"]) {
        EXPECT_NEAR(out["gain_at_1khz_db"].get<double>(), 0.0, 0.01);
        EXPECT_TRUE(out["low_minus_3db_hz"].is_null());
        EXPECT_TRUE(out["high_minus_3db_hz"].is_null());
    }
}

TEST_F(Analyze, OnePoleLowPassMeasuresItsTransferFunctionAtEachRate) {
    for (double rate : {44100.0, 96000.0}) {
        SCOPED_TRACE(rate);
        const Json json = analyze(dir, {"--plugin", ANALYSIS_LOWPASS_PLUGIN, "--what", "response",
                                        "--rate", std::to_string(static_cast<int>(rate))});
        const double a = 1.0 - std::exp(-2.0 * kPi * 2000.0 / rate);
        const auto model = [&](double f) { return onePole(a, f, rate); };
        for (const ResponseCurve& curve : responses(json)) {
            bool sawCorner = false;
            for (std::size_t i = 0; i < curve.f.size(); ++i) {
                SCOPED_TRACE(curve.f[i]);
                EXPECT_NEAR(curve.magnitudeDb[i], db(std::abs(model(curve.f[i]))), 0.05);
                EXPECT_NEAR(phaseDifference(curve.phaseDeg[i], degrees(model(curve.f[i]))), 0.0,
                            0.5);
                if (curve.f[i] == 2000.0) {
                    sawCorner = true;
                    // About -3.01 dB at the corner, and exactly what H(z) says there.
                    EXPECT_NEAR(curve.magnitudeDb[i], -3.01, 0.05);
                }
            }
            EXPECT_TRUE(sawCorner);
        }
        for (const Json& out : json["devices"][0]["response"]["outputs"]) {
            EXPECT_NEAR(out["gain_at_1khz_db"].get<double>(), db(std::abs(model(1000.0))), 0.05);
            EXPECT_TRUE(out["low_minus_3db_hz"].is_null());
            const double expected = highCorner(model, 1000.0, 0.49 * rate);
            EXPECT_NEAR(out["high_minus_3db_hz"].get<double>(), expected, 0.01 * expected);
        }
    }
}

TEST_F(Analyze, DelayShowsLinearPhase) {
    const Json json = analyze(dir, {"--plugin", ANALYSIS_DELAY_PLUGIN, "--what", "response"});
    const auto curves = responses(json);
    for (std::size_t c = 0; c < curves.size(); ++c) {
        const ResponseCurve& curve = curves[c];
        const Json& out = json["devices"][0]["response"]["outputs"][c];
        EXPECT_EQ(out["latency_frames"], 7);
        for (std::size_t i = 0; i < curve.f.size(); ++i) {
            SCOPED_TRACE(curve.f[i]);
            EXPECT_NEAR(curve.magnitudeDb[i], 0.0, 0.01);
            // Unwrapped from 10 Hz: the phase keeps falling past -180.
            EXPECT_NEAR(curve.phaseDeg[i], -360.0 * curve.f[i] * 7.0 / 44100.0, 0.1);
            EXPECT_NEAR(out["phase_without_latency_deg"][i].get<double>(), 0.0, 0.1);
        }
    }
}

TEST_F(Analyze, CubicMeasuresItsThirdHarmonicAndNoEvenOnes) {
    // x = A sin: x - x^3/3 = (A - A^3/4) sin + (A^3/12) sin 3 (sin^3 = (3 sin - sin 3) / 4).
    for (const double level : {-20.0, -6.0, 0.0}) {
        SCOPED_TRACE(level);
        const Json json =
            analyze(dir, {"--plugin", ANALYSIS_CUBIC_PLUGIN, "--what", "harmonics,distortion",
                          "--tone-level", std::to_string(level)});
        const double amplitude = std::pow(10.0, level / 20.0);
        const double third = db((amplitude * amplitude * amplitude / 12.0) /
                                (amplitude - amplitude * amplitude * amplitude / 4.0));
        for (const Json& out : json["devices"][0]["harmonics"]["outputs"]) {
            const Json& h = out["harmonics_2_to_10_db"];
            EXPECT_NEAR(h[1].get<double>(), third, 0.1);
            for (int even : {0, 2, 4, 6, 8}) EXPECT_LT(h[even].get<double>(), -120.0);
            for (int odd : {3, 5, 7}) EXPECT_LT(h[odd].get<double>(), -120.0);
            // Only the third harmonic: THD is its level.
            EXPECT_NEAR(out["thd_db"].get<double>(), third, 0.1);
            EXPECT_NEAR(out["thd_percent"].get<double>(), 100.0 * std::pow(10.0, third / 20.0),
                        0.02 * 100.0 * std::pow(10.0, third / 20.0));
        }
        // At every frequency the same, until H3 passes Nyquist (a sixth of the
        // rate, less its bins): there THD is left out, not read as none.
        for (const Json& point : json["devices"][0]["frequency_sweep"]["points"]) {
            const double f = point["frequency_hz"].get<double>();
            SCOPED_TRACE(f);
            const Json& thd = point["outputs"][0]["thd_db"];
            if (f < 0.99 * 44100.0 / 6.0)
                EXPECT_NEAR(thd.get<double>(), third, 0.1);
            else
                EXPECT_TRUE(thd.is_null());
        }
    }
}

TEST_F(Analyze, ToneFrequencyIsBinExact) {
    const Json json = analyze(dir, {"--plugin", ANALYSIS_UNITY_PLUGIN, "--what", "harmonics"});
    const Json& h = json["devices"][0]["harmonics"];
    const double cycles = h["frequency_hz"].get<double>() * h["fft_length"].get<double>() / 44100.0;
    EXPECT_NEAR(cycles, std::round(cycles), 1e-9);
    EXPECT_NEAR(h["frequency_hz"].get<double>(), 1000.0, 44100.0 / h["fft_length"].get<double>());
}

TEST_F(Analyze, ComparesTwoPluginsOrTwoSettingsSideBySide) {
    const Json bySetting = analyze(
        dir, {"--plugin", ANALYSIS_UNITY_PLUGIN, "--vs-set", "Gain=0.25", "--what", "response"});
    ASSERT_EQ(bySetting["devices"].size(), 2u);
    EXPECT_NE(bySetting["devices"][1]["device"].get<std::string>().find("Gain=0.25"),
              std::string::npos);
    for (const Json& out : bySetting["devices"][1]["response"]["outputs"])
        EXPECT_NEAR(out["gain_at_1khz_db"].get<double>(), db(0.5), 0.01);

    const Json byPlugin = analyze(dir, {"--plugin", ANALYSIS_UNITY_PLUGIN, "--vs-plugin",
                                        ANALYSIS_LOWPASS_PLUGIN, "--what", "response"});
    EXPECT_EQ(byPlugin["devices"][0]["device"], "Unity Fixture, defaults");
    EXPECT_EQ(byPlugin["devices"][1]["device"], "Lowpass Fixture, defaults");
    EXPECT_FALSE(byPlugin["devices"][1]["response"]["outputs"][0]["high_minus_3db_hz"].is_null());

    // The summary names both and sets their numbers on one line.
    const e2e::RunResult run =
        e2e::runHost({"analyze", "--out", dir / "ab", "--plugin", ANALYSIS_UNITY_PLUGIN, "--vs-set",
                      "Gain=0.25", "--what", "response"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("A: Unity Fixture, defaults"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("B: Unity Fixture, Gain=0.25"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("A +0.00 dB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("B -6.02 dB"), std::string::npos) << run.out;
}

TEST_F(Analyze, WritesEveryPlotAsPngAndSvgAndTheJson) {
    const e2e::RunResult run =
        e2e::runHost({"analyze", "--plugin", ANALYSIS_UNITY_PLUGIN, "--out", dir / "out"});
    ASSERT_EQ(run.status, 0) << run.err;
    // The progress bar is for terminals only.
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("gain at 1 kHz"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("THD reaches 1 %"), std::string::npos) << run.out;
    for (const char* name :
         {"response", "spectrum", "distortion-vs-level", "distortion-vs-frequency", "transfer"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(e2e::fileBytes(dir / "out/" + std::string(name) + ".png").substr(1, 3), "PNG");
        EXPECT_NE(e2e::fileBytes(dir / "out/" + std::string(name) + ".svg").find("<svg"),
                  std::string::npos);
    }
    const Json json = Json::parse(e2e::fileBytes(dir / "out/analysis.json"));
    // The default sweeps: -40 to +6 dBFS in 2 dB steps, 20 Hz to 10 kHz.
    const Json& levels = json["devices"][0]["level_sweep"]["points"];
    ASSERT_EQ(levels.size(), 24u);
    EXPECT_EQ(levels.front()["input_peak_dbfs"], -40.0);
    EXPECT_EQ(levels.back()["input_peak_dbfs"], 6.0);
    const Json& frequencies = json["devices"][0]["frequency_sweep"]["points"];
    EXPECT_NEAR(frequencies.front()["frequency_hz"].get<double>(), 20.0, 1.0);
    EXPECT_NEAR(frequencies.back()["frequency_hz"].get<double>(), 10000.0, 2.0);
    // Only the outputs: the staging folder is gone.
    EXPECT_EQ(dir.entryCount(), 1u);

    // Again with less: the earlier plots go, a file of the user's stays.
    e2e::writeBytes(dir / "out/notes.txt", "mine");
    analyze(dir, {"--plugin", ANALYSIS_UNITY_PLUGIN, "--what", "response"});
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "out"))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"analysis.json", "notes.txt", "response.png",
                                            "response.svg"}));
}

TEST_F(Analyze, APluginNameThatIsNotUtf8ReadsAsInfoShowsIt) {
    const e2e::RunResult run = e2e::runHost({"analyze", "--plugin", BAD_TEXT_PLUGIN, "--out",
                                             dir / "out", "--what", "response", "--html"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string name = "Bad?? Text ??? ???? \u00e9, defaults";
    EXPECT_NE(run.out.find(name + " (1 output"), std::string::npos) << run.out;
    const Json json = Json::parse(e2e::fileBytes(dir / "out/analysis.json"));
    EXPECT_EQ(json["devices"][0]["device"], name);
    EXPECT_EQ(e2e::fileBytes(dir / "out/response.png").substr(1, 3), "PNG");
    EXPECT_NE(e2e::fileBytes(dir / "out/report.html").find("Bad?? Text"), std::string::npos);
}

TEST_F(Analyze, SameSettingsGiveTheSameNumbersToTheBit) {
    const std::vector<std::string> args{"--what", "harmonics,distortion", "--set", "PreGain=0.6"};
    const Json first = analyze(dir, args);
    const Json second = analyze(dir, args);
    EXPECT_TRUE(first == second);
}

// --- Varkel: what its chain implies ---

TEST_F(Analyze, VarkelResponseFollowsItsLinearChain) {
    for (const double cutOff : {1.0, 0.3}) {
        SCOPED_TRACE(cutOff);
        const Json json =
            analyze(dir, {"--what", "response", "--set", "LPCutOff=" + std::to_string(cutOff)});
        const auto model = [&](double f) { return varkelLinear(f, 44100.0, cutOff); };
        for (const ResponseCurve& curve : responses(json)) {
            const auto ref = static_cast<std::size_t>(
                std::find(curve.f.begin(), curve.f.end(), 1000.0) - curve.f.begin());
            ASSERT_LT(ref, curve.f.size());
            // Up to 5 kHz, below the slew limit at this level; relative to
            // 1 kHz, so the dead zone's small loss cancels.
            for (std::size_t i = 0; i < curve.f.size() && curve.f[i] <= 5000.0; ++i) {
                SCOPED_TRACE(curve.f[i]);
                const Complex relative = model(curve.f[i]) / model(1000.0);
                EXPECT_NEAR(curve.magnitudeDb[i] - curve.magnitudeDb[ref], db(std::abs(relative)),
                            0.15);
                EXPECT_NEAR(
                    phaseDifference(curve.phaseDeg[i] - curve.phaseDeg[ref], degrees(relative)),
                    0.0, 1.0);
            }
            // The absolute phase too: the clipper inverts.
            EXPECT_NEAR(phaseDifference(curve.phaseDeg[ref], degrees(model(1000.0))), 0.0, 1.0);
        }
    }
}

TEST_F(Analyze, VarkelShelfLiftsTheBassAndTheDcBlockerCutsBelowIt) {
    const Json json = analyze(dir, {"--what", "response"});
    for (const ResponseCurve& curve : responses(json)) {
        const auto gainAt = [&](double f) {
            const auto i = static_cast<std::size_t>(std::min_element(curve.f.begin(), curve.f.end(),
                                                                     [&](double a, double b) {
                                                                         return std::fabs(a - f) <
                                                                                std::fabs(b - f);
                                                                     }) -
                                                    curve.f.begin());
            return curve.magnitudeDb[i];
        };
        const double reference = gainAt(1000.0);
        // The shelf lifts 40-80 Hz by several dB; the DC blocker takes some of it back.
        EXPECT_GT(gainAt(60.0) - reference, 3.0);
        EXPECT_LT(gainAt(60.0) - reference, 6.1);
        // Below about 15 Hz the response falls.
        EXPECT_LT(gainAt(10.0), gainAt(15.0));
        EXPECT_LT(gainAt(15.0), gainAt(30.0));
    }
    for (const Json& out : json["devices"][0]["response"]["outputs"]) {
        const double low = out["low_minus_3db_hz"].get<double>();
        EXPECT_GT(low, 8.0);
        EXPECT_LT(low, 16.0);
    }
}

TEST_F(Analyze, VarkelBandwidthCornerFollowsLpCutOff) {
    const Json json = analyze(dir, {"--what", "response", "--set", "LPCutOff=0.3"});
    const double expected =
        highCorner([](double f) { return varkelLinear(f, 44100.0, 0.3); }, 1000.0, 20000.0);
    // The filter's coefficient 2 pi fc / rate (fc = 12000 x 0.3 = 3600 Hz) is
    // the small-angle form: the digital one-pole it makes falls 3 dB only at
    // -ln(1 - 0.513) x 44100 / 2 pi = 5.05 kHz, and relative to 1 kHz (where
    // it already lost 0.2 dB and the shelf's tail adds a little) higher still.
    EXPECT_GT(expected, 5000.0);
    EXPECT_LT(expected, 5600.0);
    for (const Json& out : json["devices"][0]["response"]["outputs"])
        EXPECT_NEAR(out["high_minus_3db_hz"].get<double>(), expected, 0.02 * expected);
}

TEST_F(Analyze, VarkelDrivenClipsWithOddHarmonics) {
    const Json json = analyze(dir, {"--what", "harmonics", "--set", "PreGain=1.0"});
    for (const Json& out : json["devices"][0]["harmonics"]["outputs"]) {
        const Json& h = out["harmonics_2_to_10_db"];
        // The clipper is odd-symmetric: H3 far above H2 and H4.
        EXPECT_GT(h[1].get<double>() - h[0].get<double>(), 30.0);
        EXPECT_GT(h[1].get<double>() - h[2].get<double>(), 30.0);
        EXPECT_GT(h[1].get<double>(), -30.0);
        EXPECT_GT(out["thd_percent"].get<double>(), 5.0);
    }
}

TEST_F(Analyze, VarkelOutputNeverPassesTheRail) {
    struct Case {
        std::vector<std::string> settings;
        double outputGain;
    };
    // Output gain: PostGain x 3.981 (+12 dB at 1); the default 0.25119 is unity.
    const Case cases[] = {{{}, 1.0},
                          {{"--set", "PreGain=1", "--set", "PostGain=0.5"}, 0.5 * 3.9810719},
                          {{"--set", "PreGain=1", "--set", "PostGain=0.1"}, 0.1 * 3.9810719}};
    for (const Case& c : cases) {
        std::vector<std::string> args{"--what", "transfer"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        const Json json = analyze(dir, args);
        // The rail, plus noise (5 sigma of 1e-4) and the DC blocker's
        // overshoot: a wave clipped flat (a square at 1 kHz, half a period
        // of 22.05 samples) leaves a one-pole high-pass with peaks of
        // 2 / (1 + R^22.05) times its height.
        const double overshoot = 2.0 / (1.0 + std::pow(1.0 - 190.0 / 44100.0, 22.05));
        const double limit = db((0.7414 * overshoot + 5e-4) * c.outputGain);
        double loudest = -1000.0;
        for (const Json& point : json["devices"][0]["level_sweep"]["points"])
            for (const Json& out : point["outputs"])
                loudest = std::max(loudest, out["output_peak_dbfs"].get<double>());
        EXPECT_LT(loudest, limit);
        // And it does reach the rail when driven to +6 dBFS.
        EXPECT_GT(loudest, db(0.7414 * c.outputGain) - 1.0);
    }
}

}  // namespace
