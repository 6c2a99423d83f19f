// Every number behind the plots, as JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "analysis/measurements.h"

namespace varkel::analysis {

// Raised whenever a key changes meaning or moves, so that a comparison
// knows a reference it cannot read.
inline constexpr int kAnalysisSchemaVersion = 3;

// Levels in dB, frequencies in Hz, phase in degrees, THD as ratios and dB;
// silence as -400 dB.
nlohmann::ordered_json analysisJson(const std::vector<Analysis>& analyses,
                                    const AnalysisPlan& plan);

// The JSON's "plan": what a reference must share for its numbers to be
// comparable, known before anything is measured.
nlohmann::ordered_json analysisPlanJson(const AnalysisPlan& plan, std::size_t devices);

}  // namespace varkel::analysis
