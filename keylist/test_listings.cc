#include "test_listings.h"

#include "key_list_table.h"
#include "listing_parser.h"

#include <algorithm>

std::string pub(const std::string& id, const std::string& validity, const std::string& created,
                const std::string& expires) {
    return "pub:" + validity + ":255:22:" + id + ":" + created + ":" + expires +
           "::u:::scSC:::::ed25519:::0:\n";
}
std::string uid(const std::string& name) {
    return "uid:-::::1500000000::HASH::" + name + "::::::::::0:\n";
}
std::string sig(const std::string& signer, const std::string& cls, const std::string& created,
                const std::string& expires, const std::string& validity) {
    return "sig:" + validity + "::22:" + signer + ":" + created + ":" + expires +
           ":::someone:" + cls + "::FPR:::8:\n";
}
std::string rev(const std::string& signer, const std::string& cls, const std::string& created) {
    return "rev:::22:" + signer + ":" + created + "::::someone:" + cls + ",00::FPR:::8:\n";
}

outcome build(const std::string& listing, keylist_rules rules, size_t chunk) {
    key_list_table table;
    listing_parser parser;
    parser.rules = rules;
    parser.sink = [&table](uint64_t id, bool kept, const std::vector<uint64_t>& signers) {
        add_key_block(table, id, kept, signers);
    };
    outcome r;
    if (chunk == 0) chunk = listing.size() + 1;
    bool ok = true;
    for (size_t at = 0; ok && at < listing.size(); at += chunk)
        ok = feed_listing(parser, listing.data() + at, std::min(chunk, listing.size() - at));
    if (ok) ok = finish_listing(parser);
    r.ok = ok;
    r.error_line = parser.error_line;
    r.error = parser.error;
    r.counts = parser.counts;
    if (ok) {
        written_counts written;
        write_key_list(
            table,
            [&r](const char* data, size_t size) {
                r.list.append(data, size);
                return true;
            },
            written);
    }
    return r;
}

std::string p(const std::string& id) {
    return "p" + id + "\n";
}
std::string s(const std::string& id) {
    return "s" + id + "\n";
}
