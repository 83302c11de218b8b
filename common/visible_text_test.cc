#include "json_text.h"
#include "visible_text.h"

#include <gtest/gtest.h>

#include <string>

// Each text as people see it and as a JSON string: hidden code points
// escaped (as text, and as JSON escapes), invalid bytes as U+FFFD, the rest
// kept byte for byte.
TEST(VisibleText, EscapesHiddenCodePointsAndReplacesInvalidBytes) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string raw, visible, json;
    } cases[] = {
        {"Alice <a@example.org>", "Alice <a@example.org>", "\"Alice <a@example.org>\""},
        {"J\xC3\xBCrgen \xF0\x9F\x94\x91", "J\xC3\xBCrgen \xF0\x9F\x94\x91",
         "\"J\xC3\xBCrgen \xF0\x9F\x94\x91\""},
        {"a\"b\\c", "a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("\x01\t\x7F\0", 4), "\\u0001\\u0009\\u007F\\u0000",
         "\"\\u0001\\u0009\\u007F\\u0000\""},
        {"c1 \xC2\x85\xC2\x9B", "c1 \\u0085\\u009B", "\"c1 \\u0085\\u009B\""}, // NEL, CSI
        {"Alice\xE2\x80\xAEgpj.exe", "Alice\\u202Egpj.exe", "\"Alice\\u202Egpj.exe\""},
        {"\xE2\x80\x8E\xE2\x80\x8F\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9\xD8\x9C",
         "\\u200E\\u200F\\u202A\\u2066\\u2069\\u061C",
         "\"\\u200E\\u200F\\u202A\\u2066\\u2069\\u061C\""},
        {"\xE2\x80\xAF\xE2\x81\xAA", "\xE2\x80\xAF\xE2\x81\xAA", // U+202F, U+206A: shown
         "\"\xE2\x80\xAF\xE2\x81\xAA\""},
        {"latin1 \xFC!", "latin1 " + fffd + "!", "\"latin1 " + fffd + "!\""},
        {"over\xC0\xAF", "over" + fffd + fffd, "\"over" + fffd + fffd + "\""},
        {"cut \xE2\x80", "cut " + fffd + fffd, "\"cut " + fffd + fffd + "\""},
        {"sur\xED\xA0\x80", "sur" + fffd + fffd + fffd, "\"sur" + fffd + fffd + fffd + "\""},
        {fffd, fffd, "\"" + fffd + "\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(visible_text(c.raw), c.visible) << c.raw;
        EXPECT_EQ(json_string(c.raw), c.json) << c.raw;
    }
}
