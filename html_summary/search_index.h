// The index the summary page's search box reads, split into small files
// that the browser loads only when a search needs them: index/ids/XX.js by
// the first two hex digits of the 8-digit key id (so that both key id forms
// find their file), and with names index/names/P.js by the lower-cased
// first two characters of each word of a user id (P: their UTF-8 bytes in
// hex). A browser reads no file:// URL with fetch, but does load a script
// from beside the page; so each file is one call, korvalindeIndex("NAME",
// JSON), whose JSON is {"keys": [["16 hex digits", "user id"], ...]}.
#pragma once

#include "mean_ranking.h"
#include "names_file.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// A names file larger than this is split by the first three characters.
constexpr size_t INDEX_FILE_MAX = 1000000;

// The words of a user id: runs of ASCII letters and digits and of any
// non-ASCII characters.
std::vector<std::string_view> name_words(std::string_view name);

// The first count characters (UTF-8 sequences) of word, ASCII lower-cased;
// empty when the word is shorter.
std::string word_prefix(std::string_view word, size_t count);

// The index files' contents by name relative to index/ ("ids/5C", "names/6a6f").
std::map<std::string, std::string> search_index_files(const std::vector<ranked_key>& keys,
                                                      size_t key_count, const key_names* names);

// Writes the index files into the "index" folder beside page_path, and
// removes the index files of an earlier run that this one did not write.
// Throws page_error.
void write_search_index(const std::map<std::string, std::string>& files,
                        const std::string& page_path);
