#include "svg_charts.h"

#include "html_text.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace {

// Drawing area within the 640 by 320 view box; the page scales it.
constexpr double WIDTH = 640, HEIGHT = 320;
constexpr double LEFT = 84, RIGHT = 24, TOP = 12, BOTTOM = 56;
constexpr double PLOT_W = WIDTH - LEFT - RIGHT, PLOT_H = HEIGHT - TOP - BOTTOM;
// Tick labels are thinned out to about this many along the x axis.
constexpr size_t MAX_X_LABELS = 9;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Appends the pieces in order. In the loops below this replaces chains of +,
// each of which builds and copies a temporary string per piece.
void append(std::string& out, std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces)
        out += piece;
}

} // namespace

std::string compact_count(int64_t value) {
    if (value >= 1000000 && value % 100000 == 0) {
        char text[32];
        if (value % 1000000 == 0)
            std::snprintf(text, sizeof text, "%lldM", static_cast<long long>(value / 1000000));
        else
            std::snprintf(text, sizeof text, "%lld.%lldM", static_cast<long long>(value / 1000000),
                          static_cast<long long>(value % 1000000 / 100000));
        return text;
    }
    if (value >= 10000 && value % 1000 == 0) return group_digits(value / 1000) + "k";
    return group_digits(value);
}

void y_axis_scale(int64_t largest, int64_t& top, int64_t& step) {
    if (largest <= 0) {
        top = step = 1;
        return;
    }
    for (int64_t scale = 1;; scale *= 10) {
        for (int64_t s : {scale, 2 * scale, 5 * scale}) {
            int64_t steps = (largest + s - 1) / s;
            if (steps <= 5) {
                step = s;
                top = steps * s;
                return;
            }
        }
    }
}

std::string svg_bar_chart(const bar_chart& chart) {
    std::string id = html_escape(chart.id);
    std::string svg =
        "<svg class=\"chart\" viewBox=\"0 0 640 320\" role=\"img\" aria-labelledby=\"" + id +
        "-title " + id + "-desc\">\n";
    svg += "<title id=\"" + id + "-title\">" + html_escape(chart.title) + "</title>\n";
    svg += "<desc id=\"" + id + "-desc\">" + html_escape(chart.description) + "</desc>\n";

    int64_t largest = 0;
    for (const chart_bar& bar : chart.bars)
        largest = std::max(largest, bar.value);
    int64_t top, step;
    y_axis_scale(largest, top, step);
    auto y_of = [&](int64_t value) {
        return TOP + PLOT_H - PLOT_H * static_cast<double>(value) / static_cast<double>(top);
    };

    // Grid lines and y tick labels.
    svg += "<g class=\"axis\">\n";
    for (int64_t v = 0; v <= top; v += step) {
        std::string y = number(y_of(v));
        append(svg, {"<line class=\"grid\" x1=\"", number(LEFT), "\" x2=\"", number(LEFT + PLOT_W),
                     "\" y1=\"", y, "\" y2=\"", y, "\"/>"});
        append(svg, {"<text x=\"", number(LEFT - 6), "\" y=\"", y,
                     "\" text-anchor=\"end\" dominant-baseline=\"middle\">", compact_count(v),
                     "</text>\n"});
    }

    // Bars, each with its own tooltip.
    size_t n = chart.bars.size();
    double slot = n > 0 ? PLOT_W / static_cast<double>(n) : PLOT_W;
    double gap = slot > 6 ? slot * 0.12 : 0;
    svg += "</g>\n<g class=\"bars\">\n";
    for (size_t i = 0; i < n; ++i) {
        const chart_bar& bar = chart.bars[i];
        double y = y_of(bar.value);
        append(svg,
               {"<rect x=\"", number(LEFT + slot * static_cast<double>(i) + gap / 2), "\" y=\"",
                number(y), "\" width=\"", number(slot - gap), "\" height=\"",
                number(TOP + PLOT_H - y), "\"><title>", html_escape(bar.tip), "</title></rect>\n"});
    }
    svg += "</g>\n<g class=\"axis\">\n";

    // The axes, the x tick labels and the axis labels.
    svg += "<line class=\"baseline\" x1=\"" + number(LEFT) + "\" x2=\"" + number(LEFT + PLOT_W) +
           "\" y1=\"" + number(TOP + PLOT_H) + "\" y2=\"" + number(TOP + PLOT_H) + "\"/>\n";
    size_t ticks = chart.x_ticks.size();
    bool on_edges = ticks == n + 1;
    size_t every = std::max<size_t>(1, (ticks + MAX_X_LABELS - 1) / MAX_X_LABELS);
    // When there are many labels, every other one is marked "odd", for
    // narrow screens to drop.
    bool thin_further = (ticks + every - 1) / every > 6;
    for (size_t i = 0, shown = 0; i < ticks; i += every, ++shown) {
        double x = LEFT + slot * static_cast<double>(i) + (on_edges ? 0 : slot / 2);
        append(svg, {"<text", thin_further && shown % 2 ? " class=\"odd\"" : "", " x=\"", number(x),
                     "\" y=\"", number(TOP + PLOT_H + 20), "\" text-anchor=\"middle\">",
                     html_escape(chart.x_ticks[i]), "</text>\n"});
    }
    svg += "<text class=\"label\" x=\"" + number(LEFT + PLOT_W / 2) + "\" y=\"" +
           number(HEIGHT - 8) + "\" text-anchor=\"middle\">" + html_escape(chart.x_label) +
           "</text>\n";
    svg += "<text class=\"label\" transform=\"translate(18 " + number(TOP + PLOT_H / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + html_escape(chart.y_label) + "</text>\n";
    svg += "</g>\n</svg>\n";
    return svg;
}
