// Bar charts as inline SVG: fluid (viewBox, no fixed size), with axis
// labels, an accessible title and description, and a tooltip per bar.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct chart_bar {
    int64_t value = 0;
    std::string tip; // the bar's own title, e.g. "3.00 to 3.25: 120 keys"
};

struct bar_chart {
    std::string id;          // unique on the page; prefixes the ids of title and desc
    std::string title;       // short accessible name
    std::string description; // what the chart shows, for screen readers
    std::string x_label;
    std::string y_label;
    std::vector<chart_bar> bars;
    // Either one tick label per bar (centred under it), or one more than
    // there are bars (on the bar edges, for a histogram's bin limits).
    std::vector<std::string> x_ticks;
};

// The top of the y axis and its tick step: the step is 1, 2 or 5 times a
// power of ten, giving at most 5 steps; the top is a multiple of the step
// at or above largest (1 when largest is 0).
void y_axis_scale(int64_t largest, int64_t& top, int64_t& step);

// A y axis label that stays short: "950", "1,500", "20k", "1.5M".
std::string compact_count(int64_t value);

// The chart as an <svg> element; all texts are escaped here.
std::string svg_bar_chart(const bar_chart& chart);
