// An analysis against a saved one (analysis.json): every number of the same
// plan compared within a tolerance for its kind, and in words where it is
// not.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace varkel::analysis {

struct Tolerances {
    double levelDb = 0.1;       // levels and gains; impulse and step relative to their peak
    double phaseDeg = 1.0;      // phase; group delay as this much phase at its frequency
    double distortionDb = 0.5;  // THD, harmonics, aliases, IMD
    int latencyFrames = 0;
};

// Levels where both readings lie below this are the noise floor, and equal.
inline constexpr double kComparisonFloorDb = -120.0;
// The -3 dB points may move by this fraction.
inline constexpr double kCornerTolerance = 0.01;

struct Comparison {
    // What makes the numbers incomparable: schema, rate, measurements, levels.
    std::vector<std::string> planDifferences;
    // Where the reference is not an analysis at all: a series missing or of
    // another length, text or nothing where a number belongs.
    std::vector<std::string> malformed;
    // Parameters and plug-ins that differ, in words.
    std::vector<std::string> settingChanges;
    // "gain at 10.1 kHz (out 1): -0.42 dB, was -0.10 dB", in the JSON's order.
    std::vector<std::string> differences;
    std::size_t compared = 0;
};

// What can be told of reference before measuring: its schema, its plan
// against plan (analysisPlanJson's) and its devices. Fills planDifferences
// and malformed only.
Comparison screenReference(const nlohmann::ordered_json& reference,
                           const nlohmann::ordered_json& plan);

// The reference is screened first, then every series of now must be in it
// with the same length; only then are the numbers compared.
Comparison compareAnalyses(const nlohmann::ordered_json& now,
                           const nlohmann::ordered_json& reference, const Tolerances& tolerances);

}  // namespace varkel::analysis
