// The figures of the impulse, aliasing and intermodulation measurements
// (the others are drawn in plots.cpp), each of one analysis or two side by
// side.
#pragma once

#include <vector>

#include "analysis/chart.h"
#include "analysis/measurements.h"

namespace varkel::analysis {

Figure impulseFigure(const std::vector<Analysis>& analyses);
Figure stepFigure(const std::vector<Analysis>& analyses);
Figure groupDelayFigure(const std::vector<Analysis>& analyses);
Figure aliasingFigure(const std::vector<Analysis>& analyses);
Figure imdFigure(const std::vector<Analysis>& analyses);

}  // namespace varkel::analysis
