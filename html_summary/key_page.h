// A page per analysed key, in a "keys" folder beside the summary page: the
// key's report as text, its hop chart, its name and, with the key list, who
// certified it and whom it certified, so that every key opens in a browser
// from any static server (the analyser's report files have no extension and
// are served as downloads: the pages show the report itself, not a link).
#pragma once

#include "key_links.h"
#include "report_files.h"
#include "summary_page.h"

#include <string>

struct key_page_content {
    std::string site_title; // the summary page's title
    ranked_key key;
    int64_t rank = 0;   // from 1
    int64_t ranked = 0; // analysed keys in all
    bool in_strong_set = false;
    const std::string* name = nullptr; // escaped user id, or none
    key_report report;
    std::string summary_href;         // from the key page to the summary page
    const key_links* links = nullptr; // -i: who certified whom
    const key_names* names = nullptr; // for the names in those lists
};

void write_key_page(page_output& out, const key_page_content& content);

// Writes the page of each of the first content.page_count keys of
// content.ranking into the "keys" folder
// beside page_path (made when missing; a link or a file in its place is
// refused), each page whole or not at all. The reports are read from dir.
// Throws input_error or page_error.
void write_key_pages(const page_content& content, const std::string& dir,
                     const std::string& page_path, const key_links* links);
