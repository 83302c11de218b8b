// Who certified a key and whom it certified, on the key's page: the
// analyser's output holds no graph, so it comes from the analysed key list.
#pragma once

#include "key_graph.h"
#include "key_lookup.h"
#include "names_file.h"
#include "summary_page.h"

#include <cstddef>
#include <string>
#include <vector>

// Each list shows this many keys, then the count of the rest.
constexpr size_t LINKS_SHOWN = 100;

struct key_links {
    key_graph graph;
    key_lookup lookup;
    std::vector<char> has_page; // per key index: the key has a page to link
};

// Reads the key list at path (key_import.h); throws input_error when it
// cannot be read or is not a key list.
void read_key_links(const std::string& path, key_links& links);

// Marks the keys of pages (the ranking's first page_count keys) as linkable.
void mark_key_pages(key_links& links, const std::vector<ranked_key>& ranking, size_t page_count);

// The section of the key page of id: both lists, each key by id and name,
// linked to its page when it has one. Nothing when id is not in the list.
void put_certifications(page_output& out, const key_links& links, const key_names* names,
                        const key_id& id);
