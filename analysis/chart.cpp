#include "analysis/chart.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace varkel::analysis {

namespace {

constexpr double kLeft = 74.0;
constexpr double kRight = 22.0;
constexpr double kTop = 58.0;
constexpr double kBottom = 46.0;
constexpr double kPanelGap = 34.0;
constexpr double kWarningHeight = 16.0;
constexpr const char* kFont = "DejaVu Sans";

struct Rect {
    double x, y, w, h;
};

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};

double niceStep(double span) {
    const double raw = span / 8.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * magnitude >= raw) return m * magnitude;
    return 10.0 * magnitude;
}

double linearStep(const Axis& axis) {
    return axis.step > 0.0 ? axis.step : niceStep(axis.max - axis.min);
}

double position(const Axis& axis, double value, double from, double length) {
    const double t = axis.logarithmic ? (std::log10(value) - std::log10(axis.min)) /
                                            (std::log10(axis.max) - std::log10(axis.min))
                                      : (value - axis.min) / (axis.max - axis.min);
    return from + t * length;
}

std::string frequencyText(double hz) {
    char text[32];
    if (hz >= 1000.0)
        std::snprintf(text, sizeof(text), "%gk", hz / 1000.0);
    else
        std::snprintf(text, sizeof(text), "%g", hz);
    return text;
}

std::string numberText(double value, double step) {
    char text[32];
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    std::snprintf(text, sizeof(text), "%.*f", decimals, std::fabs(value) < 1e-12 ? 0.0 : value);
    return text;
}

void setFont(cairo_t* cr, double size, bool bold = false) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

double textWidth(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

// Text with its anchor: align 0 left, 0.5 centre, 1 right; baseline at y
// shifted down by a third of the font size when middle is set.
void drawText(cairo_t* cr, const std::string& text, double x, double y, double align,
              bool middle = false) {
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    cairo_move_to(cr, x - align * textWidth(cr, text), middle ? y + font.ascent / 3.0 : y);
    cairo_show_text(cr, text.c_str());
}

void gridLine(cairo_t* cr, double x0, double y0, double x1, double y1, double grey, double width) {
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

void drawXGrid(cairo_t* cr, const Axis& axis, const Rect& r) {
    setFont(cr, 11);
    if (axis.logarithmic) {
        for (double decade = std::pow(10.0, std::floor(std::log10(axis.min)));
             decade <= axis.max * 1.005; decade *= 10.0) {
            for (int m = 1; m <= 9; ++m) {
                const double f = decade * m;
                // An end a hair off a round frequency (a bin-exact 9997.6 Hz)
                // still gets its line and label.
                if (f < axis.min * 0.995 || f > axis.max * 1.005) continue;
                const double x = std::clamp(position(axis, f, r.x, r.w), r.x, r.x + r.w);
                gridLine(cr, x, r.y, x, r.y + r.h, m == 1 ? 0.72 : 0.88, m == 1 ? 1.0 : 0.7);
                if (m == 1 || m == 2 || m == 5) {
                    cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
                    drawText(cr, frequencyText(f), x, r.y + r.h + 15, 0.5);
                }
            }
        }
        return;
    }
    const double step = linearStep(axis);
    for (double v = std::ceil(axis.min / step - 1e-9) * step; v <= axis.max + 1e-9 * step;
         v += step) {
        const double x = position(axis, v, r.x, r.w);
        gridLine(cr, x, r.y, x, r.y + r.h, 0.8, 0.8);
        cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        drawText(cr, numberText(v, step), x, r.y + r.h + 15, 0.5);
    }
}

void drawYGrid(cairo_t* cr, const Axis& axis, const Rect& r) {
    setFont(cr, 11);
    const double step = linearStep(axis);
    for (double v = std::ceil(axis.min / step - 1e-9) * step; v <= axis.max + 1e-9 * step;
         v += step) {
        const double y = r.y + r.h - position(axis, v, 0.0, r.h);
        gridLine(cr, r.x, y, r.x + r.w, y, std::fabs(v) < 1e-9 * step ? 0.55 : 0.8,
                 std::fabs(v) < 1e-9 * step ? 1.1 : 0.8);
        cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
        drawText(cr, numberText(v, step), r.x - 6, y, 1.0, true);
    }
    // The label runs up the left margin.
    cairo_save(cr);
    setFont(cr, 12);
    cairo_move_to(cr, r.x - 52, r.y + r.h / 2 + textWidth(cr, axis.label) / 2);
    cairo_rotate(cr, -M_PI / 2);
    cairo_show_text(cr, axis.label.c_str());
    cairo_restore(cr);
}

void drawSeries(cairo_t* cr, const Panel& panel, const Series& series, const Rect& r) {
    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, series.colour.r, series.colour.g, series.colour.b);
    cairo_set_line_width(cr, series.width);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    const double dashes[] = {7.0, 4.0};
    cairo_set_dash(cr, dashes, series.dashed ? 2 : 0, 0.0);
    bool drawing = false;
    const std::size_t n = std::min(series.x.size(), series.y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double xv = series.x[i];
        const double yv = series.y[i];
        // Gaps where there is no value, or silence far below the axis.
        if (!std::isfinite(yv) || yv < panel.y.min - 10.0 * (panel.y.max - panel.y.min) ||
            (panel.x.logarithmic && xv <= 0.0)) {
            drawing = false;
            continue;
        }
        const double x = position(panel.x, xv, r.x, r.w);
        const double y = r.y + r.h - position(panel.y, yv, 0.0, r.h);
        if (drawing)
            cairo_line_to(cr, x, y);
        else
            cairo_move_to(cr, x, y);
        drawing = true;
    }
    cairo_stroke(cr);
    if (n == 1) {
        const double x = position(panel.x, series.x[0], r.x, r.w);
        const double y = r.y + r.h - position(panel.y, series.y[0], 0.0, r.h);
        cairo_arc(cr, x, y, 3.0, 0.0, 2 * M_PI);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void drawLegend(cairo_t* cr, const Panel& panel, const Rect& r) {
    std::vector<const Series*> entries;
    for (const Series& s : panel.series)
        if (!s.label.empty()) entries.push_back(&s);
    if (entries.empty()) return;
    setFont(cr, 11);
    double width = 0.0;
    for (const Series* s : entries) width = std::max(width, textWidth(cr, s->label));
    const double lineHeight = 16.0;
    const double boxW = width + 44.0;
    const double boxH = lineHeight * static_cast<double>(entries.size()) + 8.0;
    // The corner whose box covers the fewest points of the curves, the
    // preferred one on a tie.
    const LegendCorner corners[] = {panel.legend, LegendCorner::TopRight, LegendCorner::TopLeft,
                                    LegendCorner::BottomRight, LegendCorner::BottomLeft};
    double x = 0.0;
    double y = 0.0;
    std::size_t fewest = SIZE_MAX;
    for (LegendCorner corner : corners) {
        const bool right = corner == LegendCorner::TopRight || corner == LegendCorner::BottomRight;
        const bool top = corner == LegendCorner::TopRight || corner == LegendCorner::TopLeft;
        const double cx = right ? r.x + r.w - boxW - 8.0 : r.x + 8.0;
        const double cy = top ? r.y + 8.0 : r.y + r.h - boxH - 8.0;
        std::size_t covered = 0;
        for (const Series& s : panel.series)
            for (std::size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i) {
                if (!std::isfinite(s.y[i]) || (panel.x.logarithmic && s.x[i] <= 0.0)) continue;
                const double px = position(panel.x, s.x[i], r.x, r.w);
                const double py = r.y + r.h - position(panel.y, s.y[i], 0.0, r.h);
                if (px >= cx - 4 && px <= cx + boxW + 4 && py >= cy - 4 && py <= cy + boxH + 4)
                    ++covered;
            }
        if (covered < fewest) {
            fewest = covered;
            x = cx;
            y = cy;
        }
    }
    cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.88);
    cairo_rectangle(cr, x, y, boxW, boxH);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
    cairo_set_line_width(cr, 0.8);
    cairo_stroke(cr);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Series& s = *entries[i];
        const double lineY = y + 4.0 + lineHeight * (static_cast<double>(i) + 0.5);
        cairo_set_source_rgb(cr, s.colour.r, s.colour.g, s.colour.b);
        cairo_set_line_width(cr, s.width);
        const double dashes[] = {7.0, 4.0};
        cairo_set_dash(cr, dashes, s.dashed ? 2 : 0, 0.0);
        cairo_move_to(cr, x + 6.0, lineY);
        cairo_line_to(cr, x + 34.0, lineY);
        cairo_stroke(cr);
        cairo_set_dash(cr, dashes, 0, 0.0);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        drawText(cr, s.label, x + 40.0, lineY, 0.0, true);
    }
}

void draw(cairo_t* cr, const Figure& figure) {
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    setFont(cr, 16, true);
    drawText(cr, figure.title, kLeft, 24.0, 0.0);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    setFont(cr, 11.5);
    drawText(cr, figure.subtitle, kLeft, 42.0, 0.0);
    const double top = figure.warning.empty() ? kTop : kTop + kWarningHeight;
    if (!figure.warning.empty()) {
        cairo_set_source_rgb(cr, 0.75, 0.1, 0.1);
        drawText(cr, figure.warning, kLeft, 42.0 + kWarningHeight, 0.0);
    }

    const auto panels = static_cast<double>(figure.panels.size());
    const double plotWidth = figure.width - kLeft - kRight;
    const double panelHeight =
        (figure.height - top - kBottom - kPanelGap * (panels - 1.0)) / std::max(panels, 1.0);
    for (std::size_t p = 0; p < figure.panels.size(); ++p) {
        const Panel& panel = figure.panels[p];
        const Rect r{kLeft, top + static_cast<double>(p) * (panelHeight + kPanelGap), plotWidth,
                     panelHeight};
        drawXGrid(cr, panel.x, r);
        drawYGrid(cr, panel.y, r);
        cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
        cairo_set_line_width(cr, 1.0);
        cairo_rectangle(cr, r.x, r.y, r.w, r.h);
        cairo_stroke(cr);
        for (const Series& series : panel.series) drawSeries(cr, panel, series, r);
        drawLegend(cr, panel, r);
        if (p + 1 == figure.panels.size()) {
            cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
            setFont(cr, 12);
            drawText(cr, panel.x.label, r.x + r.w / 2, r.y + r.h + 34, 0.5);
        }
    }
}

void check(cairo_status_t status, const std::string& path) {
    if (status != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cannot write " + path + ": " + cairo_status_to_string(status));
}

}  // namespace

void writeFigure(const Figure& figure, const std::string& pngPath, const std::string& svgPath) {
    {
        std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, figure.width, figure.height));
        std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
        draw(cr.get(), figure);
        check(cairo_status(cr.get()), pngPath);
        check(cairo_surface_write_to_png(surface.get(), pngPath.c_str()), pngPath);
    }
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        cairo_svg_surface_create(svgPath.c_str(), figure.width, figure.height));
    check(cairo_surface_status(surface.get()), svgPath);
    {
        std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
        draw(cr.get(), figure);
        check(cairo_status(cr.get()), svgPath);
    }
    cairo_surface_finish(surface.get());
    check(cairo_surface_status(surface.get()), svgPath);
}

void releaseFontCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

Axis fittedAxis(std::string label, const std::vector<double>& values, double step, double span,
                double floor) {
    double low = INFINITY;
    double high = -INFINITY;
    for (double v : values)
        if (std::isfinite(v) && v > floor) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    if (!std::isfinite(low)) low = high = 0.0;
    // At most ten grid lines.
    while ((high - low) / step > 10.0) step *= 2.0;
    low = std::floor(low / step - 1e-9) * step;
    high = std::ceil(high / step + 1e-9) * step;
    while (high - low < span) {
        low -= step;
        if (high - low < span) high += step;
    }
    return Axis{std::move(label), low, high, false, step};
}

}  // namespace varkel::analysis
