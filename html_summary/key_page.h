// A page per ranked key, in a "keys" folder beside the summary page: the
// key's report as text, its hop chart and its name, so that every key the
// ranking links opens in a browser from any static server (the analyser's
// report files have no extension and are served as downloads).
#pragma once

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
    std::string summary_href; // from the key page to the summary page
    std::string report_href;  // from the key page to the plain report
};

void write_key_page(page_output& out, const key_page_content& content);

// Writes the page of every key of content.ranking into the "keys" folder
// beside page_path (made when missing; a link or a file in its place is
// refused), each page whole or not at all. The reports are read from dir.
// Throws input_error or page_error.
void write_key_pages(const page_content& content, const std::string& dir,
                     const std::string& page_path);
