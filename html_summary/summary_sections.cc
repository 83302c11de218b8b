#include "summary_sections.h"

#include "html_text.h"
#include "line_reader.h"
#include "visible_text.h"

// A summary file holds a few dozen lines; more is not one.
constexpr size_t SUMMARY_LINES_MAX = 1000;

void put_find_section(page_output& out, const page_content& c) {
    if (!c.search) return;
    put(out, "<section id=\"find\" hidden");
    if (c.names) put(out, " data-names");
    put(out, ">\n<h2>Find a key</h2>\n<form role=\"search\">\n<input type=\"search\" "
             "name=\"q\" aria-label=\"Key id");
    put(out, c.names ? " or name" : "");
    put(out, "\" placeholder=\"Key id, fingerprint");
    put(out, c.names ? " or name" : "");
    put(out, "\" autocomplete=\"off\" spellcheck=\"false\">\n<button type=\"submit\">Find"
             "</button>\n</form>\n<p class=\"note find-status\" aria-live=\"polite\"></p>\n"
             "<ol class=\"found\"></ol>\n</section>\n<script src=\"search.js\" defer></script>\n");
}

void put_meaning_section(page_output& out) {
    put(out, "<section id=\"meaning\">\n<h2>What the numbers mean</h2>\n<p>A key "
             "<em>certifies</em> another when its holder has signed that the other key belongs "
             "to the person it names. The <strong>strong set</strong> is the largest group of "
             "keys in which every key reaches every other through a chain of such "
             "certifications. The <strong>reachable set</strong> holds the keys that a chain "
             "from the strong set reaches; only they are ranked.</p>\n<p>A key's <strong>mean "
             "distance</strong> is the average length of the shortest chain from each member "
             "of the strong set to the key. The lower it is, the fewer certifications stand "
             "between the key and the people of the strong set, and the more of them can check "
             "the key through a short chain of people they trust: for a key holder, a lower "
             "number means a better-connected key. Getting a key certified by well-connected "
             "keys lowers it.</p>\n</section>\n");
}

void put_inputs_section(page_output& out, const page_content& c) {
    if (c.inputs.empty()) return;
    put(out, "<section id=\"inputs\">\n<h2>The key list</h2>\n<p class=\"note\">As "
             "korvalinde-keylist recorded it when it made the key list that was analysed."
             "</p>\n<dl class=\"inputs\">\n");
    for (const auto& [name, value] : c.inputs)
        put(out,
            "<dt>" + html_escape(name) + "</dt><dd dir=\"auto\">" + html_escape(value) + "</dd>\n");
    put(out, "</dl>\n</section>\n");
}

std::vector<std::pair<std::string, std::string>> read_keylist_summary(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> lines;
    line_reader reader(path);
    std::string_view line;
    while (next_line(reader, line)) {
        size_t colon = line.find(": ");
        if (colon == std::string_view::npos || colon == 0 || lines.size() >= SUMMARY_LINES_MAX)
            fail_at_line(reader.path, reader.line_number,
                         "expected a \"name: value\" line, found " + quote_line(line));
        // File names from the command line that made the list: any bytes.
        lines.emplace_back(visible_text(line.substr(0, colon)),
                           visible_text(line.substr(colon + 2)));
    }
    return lines;
}
