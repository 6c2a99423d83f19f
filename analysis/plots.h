// The figures of an analysis, one per measurement, with a second device's
// curves beside the first's when there is one.
#pragma once

#include <string>
#include <vector>

#include "analysis/measurements.h"

namespace varkel::analysis {

// Writes <folder>/<name>.png and .svg for every measurement of the plan
// (analyses: one, or two to compare); returns the names written.
std::vector<std::string> writePlots(const std::vector<Analysis>& analyses, const AnalysisPlan& plan,
                                    const std::string& folder);

// Every file writePlots writes for one plan or another.
std::vector<std::string> plotFileNames();

}  // namespace varkel::analysis
