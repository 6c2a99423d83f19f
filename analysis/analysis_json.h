// Every number behind the plots, as JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "analysis/measurements.h"

namespace varkel::analysis {

// Raised whenever a key changes meaning or moves, so that a comparison
// knows a reference it cannot read.
inline constexpr int kAnalysisSchemaVersion = 2;

// Levels in dB, frequencies in Hz, phase in degrees, THD as ratios and dB;
// silence as -400 dB.
nlohmann::ordered_json analysisJson(const std::vector<Analysis>& analyses,
                                    const AnalysisPlan& plan);

}  // namespace varkel::analysis
