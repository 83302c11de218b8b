#include "svg_charts.h"

#include "test_dirs.h"

#include <gtest/gtest.h>

namespace {

TEST(SvgCharts, YAxisSteps) {
    const struct {
        int64_t largest, top, step;
    } cases[] = {{0, 1, 1},         {1, 1, 1},         {5, 5, 1},
                 {6, 6, 2},         {11, 15, 5},       {103, 150, 50},
                 {1000, 1000, 200}, {1001, 1500, 500}, {999999, 1000000, 200000}};
    for (const auto& c : cases) {
        int64_t top = 0, step = 0;
        y_axis_scale(c.largest, top, step);
        EXPECT_EQ(top, c.top) << c.largest;
        EXPECT_EQ(step, c.step) << c.largest;
    }
}

TEST(SvgCharts, BarsTicksLabelsAndEscaping) {
    bar_chart chart;
    chart.id = "c<1>";
    chart.title = "Keys & <means>";
    chart.description = "a \"quoted\" description";
    chart.x_label = "x <label>";
    chart.y_label = "y's label";
    for (int i = 0; i < 30; ++i) {
        chart.bars.push_back({int64_t{i} * 10, "bar <" + std::to_string(i) + ">"});
        chart.x_ticks.push_back("t" + std::to_string(i));
    }
    chart.x_ticks.push_back("t30"); // edge labels: one more than the bars
    std::string svg = svg_bar_chart(chart);
    EXPECT_EQ(count(svg, "<rect "), 30u);
    EXPECT_NE(svg.find("<title id=\"c&lt;1&gt;-title\">Keys &amp; &lt;means&gt;</title>"),
              std::string::npos);
    EXPECT_NE(svg.find("aria-labelledby=\"c&lt;1&gt;-title c&lt;1&gt;-desc\""), std::string::npos);
    EXPECT_NE(svg.find("a &quot;quoted&quot; description"), std::string::npos);
    EXPECT_NE(svg.find(">x &lt;label&gt;<"), std::string::npos);
    EXPECT_NE(svg.find(">y&#39;s label<"), std::string::npos);
    EXPECT_NE(svg.find("<title>bar &lt;29&gt;</title>"), std::string::npos);
    EXPECT_EQ(svg.find("<label>"), std::string::npos);
    // 31 edge labels thinned to every 4th: t0, t4, ..., t28.
    EXPECT_NE(svg.find(">t28<"), std::string::npos);
    EXPECT_EQ(svg.find(">t29<"), std::string::npos);
    EXPECT_EQ(count(svg, "\" text-anchor=\"middle\">t"), 8u);
    EXPECT_EQ(count(svg, "<text class=\"odd\""), 4u); // t4, t12, t20, t28
    // y axis from 0 to 300 in steps of 100.
    EXPECT_NE(svg.find(">300</text>"), std::string::npos);
    EXPECT_EQ(count(svg, "class=\"grid\""), 4u);
}

TEST(SvgCharts, CompactCounts) {
    EXPECT_EQ(compact_count(9999), "9,999");
    EXPECT_EQ(compact_count(20000), "20k");
    EXPECT_EQ(compact_count(25500), "25,500");
    EXPECT_EQ(compact_count(1500000), "1.5M");
}

TEST(SvgCharts, EmptyChartIsStillAValidDrawing) {
    bar_chart chart;
    chart.id = "empty";
    std::string svg = svg_bar_chart(chart);
    EXPECT_EQ(svg.find("<rect"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    for (const char* bad : {"nan\"", "inf\""})
        EXPECT_EQ(svg.find(bad), std::string::npos) << bad;
}

} // namespace

namespace {

TEST(SvgCharts, FewLabelsAreNeverDropped) {
    bar_chart chart;
    chart.id = "few";
    for (int i = 0; i < 4; ++i) {
        chart.bars.push_back({i, ""});
        chart.x_ticks.push_back(std::to_string(i));
    }
    EXPECT_EQ(svg_bar_chart(chart).find("odd"), std::string::npos);
}

} // namespace
