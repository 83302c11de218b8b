#include "name_grams.h"

#include "served_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

struct laid_out {
    std::string text;
    std::vector<uint64_t> name_at;
};

laid_out lay_out(const std::vector<std::string>& names) {
    laid_out l;
    for (const std::string& name : names) {
        l.name_at.push_back(l.text.size());
        if (name.empty()) continue; // a key without a name
        l.text += name;
        l.text += '\n';
    }
    l.name_at.push_back(l.text.size());
    return l;
}

std::string lower(std::string_view s) {
    std::string out;
    for (char c : s)
        out += static_cast<char>(folded(c));
    return out;
}

std::vector<int32_t> found_by_index(const name_grams& grams, const laid_out& l,
                                    const std::string& needle, size_t limit) {
    std::vector<int32_t> keys;
    for_each_name_containing(grams, l.text, l.name_at, needle, [&](int32_t k) {
        keys.push_back(k);
        return keys.size() < limit;
    });
    return keys;
}

std::vector<int32_t> found_by_scan(const std::vector<std::string>& names, const std::string& needle,
                                   size_t limit) {
    std::vector<int32_t> keys;
    for (size_t k = 0; k < names.size() && keys.size() < limit; ++k)
        if (!names[k].empty() && lower(names[k]).find(needle) != std::string::npos)
            keys.push_back(static_cast<int32_t>(k));
    return keys;
}

} // namespace

// Random names over a small alphabet (so that texts recur and buckets are
// shared) against a plain scan: every match, in key order, none extra, and
// the walk stops where the receiver says.
TEST(NameGrams, FindsWhatAScanOfEveryNameFinds) {
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp): a fixed seed keeps the test repeatable
    std::mt19937 rng(7);
    const std::string alphabet = "abAB c<@.\xC3\xA9";
    auto random_text = [&](size_t max) {
        std::string s(rng() % (max + 1), ' ');
        std::generate(s.begin(), s.end(), [&] { return alphabet[rng() % alphabet.size()]; });
        return s;
    };
    std::vector<std::string> names;
    names.reserve(3001);
    for (int k = 0; k < 3000; ++k)
        names.push_back(random_text(12));
    names.push_back("Alice Example <alice@example.org>");
    const laid_out l = lay_out(names);
    const name_grams grams = index_name_grams(l.text, l.name_at);
    std::vector<std::string> needles = {"lice ex", "ALICE", "e.org>",   "alice@example.org>x",
                                        "a",       "ab",    "\xC3\xA9", "zzz"};
    needles.reserve(needles.size() + 400);
    for (int i = 0; i < 400; ++i)
        needles.push_back(lower(random_text(6)));
    for (const std::string& needle : needles) {
        if (needle.empty()) continue;
        for (size_t limit : {size_t{3}, size_t{100000}})
            EXPECT_EQ(found_by_index(grams, l, needle, limit), found_by_scan(names, needle, limit))
                << "needle '" << needle << "' limit " << limit;
    }
}
