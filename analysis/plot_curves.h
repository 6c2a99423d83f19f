// What the figures share: channels with alike curves drawn once, per
// device and channel colours, axes and the texts of units.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "analysis/chart.h"
#include "analysis/measurements.h"

namespace varkel::analysis {

// Curves of channels that agree within this are drawn once: closely for a
// response, loosely for distortion, whose noise part differs per channel.
inline constexpr double kSameResponseDb = 0.05;
inline constexpr double kSameDistortionDb = 1.0;

// Per device, per channel shade.
inline constexpr Colour kPalette[2][2] = {{{0.12, 0.39, 0.71}, {0.30, 0.62, 0.88}},
                                          {{0.80, 0.16, 0.14}, {0.96, 0.50, 0.20}}};

// One series per device and group of alike channels; suffix tells curves
// of one panel apart (such as "peak" and "RMS").
void addCurves(Panel& panel, const std::vector<Analysis>& analyses, const std::vector<double>& x,
               const std::function<std::vector<double>(const Analysis&, int)>& curve,
               double tolerance, const std::string& suffix = "", bool dashed = false);

std::vector<double> allValues(const Panel& panel);
Axis frequencyAxis(double low, double high);
// "-6 dBFS"
std::string level(double dbfs);
// "1000 Hz"
std::string hz(double f);
// Three digits, for notes: "1.5 kHz".
std::string shortHz(double f);

}  // namespace varkel::analysis
