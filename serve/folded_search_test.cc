#include "folded_search.h"

#include "served_data.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// Every place, one by one.
size_t find_plainly(const std::string& text, const std::string& needle, size_t from) {
    for (size_t at = from; at + needle.size() <= text.size(); ++at) {
        bool fits = true;
        for (size_t i = 0; i < needle.size() && fits; ++i)
            fits = folded(text[at + i]) == static_cast<unsigned char>(needle[i]);
        if (fits) return at;
    }
    return from <= text.size() && needle.empty() ? from : std::string::npos;
}

// Random texts over a small alphabet that holds both cases, the bytes
// around the capitals ('@', '[', '`', '{') and a byte over 0x7F, searched
// from every place for needles of every length up to 40: every match and
// the lack of one must be the plain search's.
TEST(FoldedSearch, FindsWhatThePlainSearchFinds) {
    const std::string alphabet = "aAbBzZ@[`{\n\xC3";
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string text(random() % 200, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        std::string needle(1 + random() % 40, ' ');
        for (char& c : needle)
            c = static_cast<char>(folded(alphabet[random() % alphabet.size()]));
        if (round % 3 == 0 && text.size() > needle.size()) { // one that occurs
            size_t at = random() % (text.size() - needle.size());
            needle = text.substr(at, needle.size());
            for (char& c : needle)
                c = static_cast<char>(folded(c));
        }
        for (size_t from = 0; from <= text.size() + 1; ++from)
            ASSERT_EQ(find_folded(text, needle, from), find_plainly(text, needle, from))
                << "text '" << text << "' needle '" << needle << "' from " << from;
    }
    EXPECT_EQ(find_folded("abc", "", 3), 3u);
    EXPECT_EQ(find_folded("abc", "", 4), std::string::npos);
}

} // namespace
