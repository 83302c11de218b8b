#include "summary_page.h"

#include "html_text.h"
#include "test_dirs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(HtmlText, EscapingAndNumbers) {
    EXPECT_EQ(html_escape("<a href=\"x\">Tom & Jerry's</a>"),
              "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&#39;s&lt;/a&gt;");
    EXPECT_EQ(url_path_escape("../out dir/#1?/5C/5C020968"), "../out%20dir/%231%3F/5C/5C020968");
    EXPECT_EQ(url_path_escape("\xc3\xa9"), "%C3%A9");
    EXPECT_EQ(group_digits(999), "999");
    EXPECT_EQ(group_digits(1000), "1,000");
    EXPECT_EQ(group_digits(INT64_MIN), "-9,223,372,036,854,775,808");
}

page_content sample_content() {
    page_content c;
    c.title = "Keys <of> \"ours\"";
    c.figures.keys = 1234567;
    c.figures.signatures = 7000000;
    c.figures.reachable_size = 3;
    c.figures.strong_set_size = 2;
    c.figures.average_mean = 8333;
    c.figures.set_count = 2;
    c.figures.single_key_sets = 1;
    c.analysed_keys = 3;
    c.ranking = {{5000, {0xA, 0xAA}, 1}, {5000, {0xB, 0xBB}, 2}};
    c.ranked_in_strong = {1, 0};
    c.ranking_shown = c.page_count = c.ranking.size();
    c.report_prefix = "../my out/";
    c.layout = report_layout::subdirs;
    c.bins = {{5000, 10000, 2}, {10000, 15000, 0}, {15000, 20000, 1}};
    c.best_hop_counts = {1, 1};
    return c;
}

std::string page_of(const page_content& c) {
    page_output out;
    write_summary_page(out, c);
    EXPECT_EQ(out.error, 0);
    return out.buffer;
}

TEST(SummaryPage, HoldsFiguresChartsAndRanking) {
    std::string page = page_of(sample_content());
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_NE(page.find("<meta name=\"viewport\""), std::string::npos);
    EXPECT_NE(page.find("<title>Keys &lt;of&gt; &quot;ours&quot;</title>"), std::string::npos);
    EXPECT_EQ(page.find("<of>"), std::string::npos);
    EXPECT_NE(page.find("<dd>1,234,567</dd>"), std::string::npos);
    EXPECT_NE(page.find("<dd>7,000,000</dd>"), std::string::npos);
    EXPECT_NE(page.find("<dd>0.8333</dd>"), std::string::npos);
    EXPECT_EQ(count(page, "<svg "), 2u);
    EXPECT_EQ(count(page, "<rect "), 3u + 2u);
    EXPECT_NE(page.find("0.50 to 1.00: 2 keys"), std::string::npos);
    EXPECT_NE(page.find("1 hops: 1 member<"), std::string::npos);
    EXPECT_NE(page.find("The first 2 of 3 analysed keys"), std::string::npos);
    EXPECT_NE(page.find("href=\"keys/0000000A000000AA.html\">0000000A 000000AA</a></td>"),
              std::string::npos);
    EXPECT_EQ(count(page, "<tr><td"), 2u);
    EXPECT_NE(page.find("0.5000</td><td>yes</td>"), std::string::npos);
    EXPECT_NE(page.find("0.5000</td><td>no</td>"), std::string::npos);
    // Nothing is fetched from elsewhere; the one script is the search box's
    // own file, and the page works without it.
    EXPECT_EQ(count(page, "<script"), count(page, "<script src=\"search.js\" defer></script>"));
    EXPECT_NE(page.find("<section id=\"find\" hidden"), std::string::npos);
    for (const char* outside : {"<link", "<img", "http://", "https://", "@import", "url("})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    EXPECT_EQ(page.find("class=\"made\""), std::string::npos);
    EXPECT_EQ(page_of(sample_content()), page); // the same content, the same bytes
}

TEST(SummaryPage, FlatLayoutAllKeysAndTheLastHopRow) {
    page_content c = sample_content();
    c.layout = report_layout::flat;
    c.report_prefix = "";
    c.analysed_keys = 2;
    c.figures.reachable_size = 2;
    c.best_hop_counts.assign(31, 1);
    c.made_on = "on <today>";
    // A name beside a key id, in the ranking and the caption, escaped and
    // isolated from the text around it.
    key_names names{{0x0000000B000000BBULL, "Bob <b@example.org>"}, {0x0000000A000000AAULL, "Ann"}};
    c.names = &names;
    std::string page = page_of(c);
    EXPECT_NE(page.find("href=\"keys/0000000B000000BB.html\">0000000B 000000BB</a><span "
                        "class=\"name\" dir=\"auto\">Bob &lt;b@example.org&gt;</span>"),
              std::string::npos);
    EXPECT_NE(page.find("0000000A 000000AA (<bdi>Ann</bdi>), mean"), std::string::npos);
    EXPECT_EQ(page.find("<b@"), std::string::npos);
    EXPECT_NE(page.find("All 2 analysed keys"), std::string::npos);
    EXPECT_NE(page.find("30+ hops: 1 member"), std::string::npos);
    EXPECT_NE(page.find("Made on &lt;today&gt;"), std::string::npos);
}

TEST(SummaryPage, NothingAnalysed) {
    page_content c;
    c.title = "empty";
    c.figures.reachable_size = 1;
    std::string page = page_of(c);
    EXPECT_EQ(count(page, "<svg "), 2u);
    EXPECT_NE(page.find("No key was analysed"), std::string::npos);
    EXPECT_EQ(page.find("<table>"), std::string::npos);
    EXPECT_NE(page.find("msd.txt lists 0 keys"), std::string::npos);
}

TEST(SummaryPage, WritesThroughTheDescriptorAndKeepsTheFirstError) {
    page_content c = sample_content();
    c.ranking.assign(2000, c.ranking[0]); // more than one buffer's worth
    c.ranked_in_strong.assign(2000, 1);
    c.ranking_shown = c.page_count = 2000;
    std::string expected = page_of(c);

    char name[] = "/tmp/korvalinde-html-page-XXXXXX";
    int fd = mkstemp(name);
    // cppcheck-suppress resourceLeak ; the assertion returns only when there is no descriptor
    ASSERT_GE(fd, 0);
    page_output out;
    out.fd = fd;
    write_summary_page(out, c);
    EXPECT_TRUE(flush_page(out)); // not ASSERT: the file is closed and removed below either way
    std::string written(expected.size() + 1, '\0');
    EXPECT_EQ(pread(fd, written.data(), written.size(), 0), static_cast<ssize_t>(expected.size()));
    written.resize(expected.size());
    EXPECT_EQ(written, expected);
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(unlink(name), 0);

    page_output full;
    full.fd = open("/dev/full", O_WRONLY);
    ASSERT_GE(full.fd, 0);
    write_summary_page(full, c);
    EXPECT_FALSE(flush_page(full));
    EXPECT_EQ(full.error, ENOSPC);
    EXPECT_EQ(close(full.fd), 0);
}

} // namespace
