// Line charts drawn with cairo, written as PNG and SVG: labelled axes
// (logarithmic frequency or linear), grids, curves and a legend. Layout only;
// the data and its meaning come from the caller.
#pragma once

#include <string>
#include <vector>

namespace varkel::analysis {

struct Axis {
    std::string label;
    double min = 0.0;
    double max = 1.0;
    bool logarithmic = false;
    double step = 0.0;  // linear grid step; 0 picks one
};

struct Colour {
    double r = 0.0, g = 0.0, b = 0.0;
};

struct Series {
    std::string label;  // empty: not in the legend
    std::vector<double> x;
    std::vector<double> y;
    Colour colour;
    bool dashed = false;
    double width = 1.8;
};

enum class LegendCorner { TopRight, TopLeft, BottomRight, BottomLeft };

struct Panel {
    Axis x;
    Axis y;
    std::vector<Series> series;
    LegendCorner legend = LegendCorner::TopRight;
};

// Panels stacked top to bottom, sharing the width.
struct Figure {
    std::string title;
    std::string subtitle;
    std::string warning;  // a line of its own under the subtitle, in red, when set
    std::vector<Panel> panels;
    int width = 900;
    int height = 500;
};

// Writes both files; throws std::runtime_error naming a file cairo could
// not write.
void writeFigure(const Figure& figure, const std::string& pngPath, const std::string& svgPath);

// Frees what cairo and fontconfig keep for text between figures, so a leak
// checker sees the process end clean; they set themselves up again when
// next drawn. Only with no figure being drawn.
void releaseFontCaches();

// [min, max] of values widened to whole steps, at least span wide; values
// at or below floor are left out (silence written as a huge negative dB).
Axis fittedAxis(std::string label, const std::vector<double>& values, double step, double span,
                double floor = -300.0);

}  // namespace varkel::analysis
