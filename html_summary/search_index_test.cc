#include "search_index.h"

#include <gtest/gtest.h>

TEST(SearchIndex, WordsAndPrefixes) {
    const struct {
        const char* name;
        std::vector<std::string_view> words;
        std::string prefix2;
    } cases[] = {
        {"Key Holder <kh@example.org>", {"Key", "Holder", "kh", "example", "org"}, "ke"},
        {"  \xC3\x85ngstr\xC3\xB6m (x)", {"\xC3\x85ngstr\xC3\xB6m", "x"}, "\xC3\x85n"},
        {"<>", {}, ""},
        {"Q", {"Q"}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(name_words(c.name), c.words) << c.name;
        std::string_view first = c.words.empty() ? "" : c.words[0];
        EXPECT_EQ(word_prefix(first, 2), c.prefix2) << c.name;
    }
}

TEST(SearchIndex, FilesByIdAndNameAndSplitWhenLarge) {
    std::vector<ranked_key> keys;
    key_names names;
    // Enough keys named "Common ..." that their file is split.
    for (uint32_t i = 0; i < 20000; ++i) {
        key_id id{0x11111111, 0xAB000000 + i};
        keys.push_back({0, id, i});
        std::string name = "Common " + std::string(i % 2 ? "Cox " : "Cat ") + std::string(40, 'z');
        names[static_cast<uint64_t>(id.id_high) << 32 | id.id_low] = name;
    }
    keys.push_back({0, {1, 0x0C000000}, 0});
    names[uint64_t{1} << 32 | 0x0C000000] = "Co \"quoted\"";
    auto files = search_index_files(keys, keys.size(), &names);
    ASSERT_TRUE(files.count("ids/AB") && files.count("ids/0C"));
    EXPECT_NE(files["ids/0C"].find("[\"000000010C000000\", \"Co \\\"quoted\\\"\"]"),
              std::string::npos);
    // "co" is split: the two-letter word stays, "com" and "cox" get files.
    const std::string& co = files["names/636f"];
    EXPECT_NE(co.find("\"split\": true"), std::string::npos);
    EXPECT_NE(co.find("000000010C000000"), std::string::npos);
    EXPECT_EQ(co.find("11111111"), std::string::npos);
    ASSERT_TRUE(files.count("names/636f6d") && files.count("names/636f78"));
    EXPECT_EQ(files.count("names/636174"), 0u); // "cat" is under "ca", not split
    for (const auto& [name, text] : files)
        EXPECT_LE(text.size(), INDEX_FILE_MAX + 200) << name;
    // Only the keys asked for.
    EXPECT_EQ(search_index_files(keys, 0, &names).size(), 0u);
}
