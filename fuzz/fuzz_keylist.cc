// The gpg listing parser of korvalinde-keylist: whatever sizes the listing
// arrives in, it must make the same calls and end the same way (the same
// error on the same line, the same counts) as when it is fed all at once;
// and the key list built from a listing it accepted must be well formed and
// read back by korvalinde's import as the keys and signatures it holds.
//
// Input: byte 0 holds the number of chunk sizes (low three bits) and a flag
// (bit 3) for a reference date; with the flag, four bytes of the date in
// seconds (big-endian) follow; then the chunk sizes, one byte each, used in
// turn (0 for 4096); then the listing.
#include "fuzz_check.h"
#include "key_import.h"
#include "key_list_format.h"
#include "key_list_table.h"
#include "listing_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct key_call {
    uint64_t id;
    bool kept;
    std::vector<uint64_t> signers;
    bool operator==(const key_call&) const = default;
};

struct parse_result {
    std::vector<key_call> calls;
    bool ok = false;
    uint64_t error_line = 0;
    std::string error;
    keylist_counts counts;
};

parse_result parse(const std::string& listing, keylist_rules rules,
                   const std::vector<size_t>& chunk_sizes) {
    parse_result r;
    listing_parser parser;
    parser.rules = rules;
    parser.sink = [&r](uint64_t id, bool kept, const std::vector<uint64_t>& signers) {
        r.calls.push_back({id, kept, signers});
    };
    bool ok = true;
    size_t at = 0;
    for (size_t turn = 0; ok && at < listing.size(); ++turn) {
        size_t n = std::min(chunk_sizes[turn % chunk_sizes.size()], listing.size() - at);
        ok = feed_listing(parser, listing.data() + at, n);
        at += n;
    }
    if (ok) ok = finish_listing(parser);
    r.ok = ok;
    r.error_line = parser.error_line;
    r.error = parser.error;
    r.counts = parser.counts;
    FUZZ_CHECK(ok != parser.failed);
    return r;
}

bool same_counts(const keylist_counts& a, const keylist_counts& b) {
    auto fields = [](const keylist_counts& c) {
        return std::tie(c.keys_read, c.keys_revoked, c.keys_expired, c.certifications_seen,
                        c.dropped_self, c.dropped_revoked, c.dropped_expired, c.dropped_bad);
    };
    return fields(a) == fields(b);
}

// A well-formed key list: records exactly as key_list_format.h writes them;
// each key once, each followed by its signers in
// ascending order without repeats, never itself.
void check_key_list(const std::string& list, const written_counts& written) {
    FUZZ_CHECK(list.size() % RECORD_SIZE == 0);
    std::set<std::string> keys;
    std::string key, last_signer;
    uint64_t p_records = 0, s_records = 0;
    for (size_t at = 0; at < list.size(); at += RECORD_SIZE) {
        const std::string record = list.substr(at, RECORD_SIZE);
        FUZZ_CHECK(is_written_form(record.data()));
        const std::string id = record.substr(RECORD_ID_AT, RECORD_ID_CHARS);
        if (record[RECORD_TYPE_AT] == RECORD_KEY) {
            FUZZ_CHECK(at == 0 || !last_signer.empty()); // the key before has a signer
            FUZZ_CHECK(keys.insert(id).second);
            key = id;
            last_signer.clear();
            ++p_records;
        } else {
            FUZZ_CHECK(!key.empty());
            FUZZ_CHECK(id != key);
            FUZZ_CHECK(last_signer.empty() || last_signer < id);
            last_signer = id;
            ++s_records;
        }
    }
    FUZZ_CHECK(list.empty() || !last_signer.empty());
    FUZZ_CHECK(written.keys == p_records && written.signatures == s_records);

    // korvalinde reads every key, and every signature by a key of the list.
    uint64_t known_signers = 0;
    for (size_t at = 0; at < list.size(); at += RECORD_SIZE)
        if (list[at + RECORD_TYPE_AT] == RECORD_SIGNATURE &&
            keys.count(list.substr(at + RECORD_ID_AT, RECORD_ID_CHARS)))
            ++known_signers;
    key_graph g;
    FUZZ_CHECK(import_keys_from_memory(list.data(), list.size(), "keylist", nullptr, g) == 0);
    FUZZ_CHECK(static_cast<uint64_t>(g.key_count) == p_records);
    FUZZ_CHECK(static_cast<uint64_t>(g.sig_count) == known_signers);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    size_t chunk_count = bytes[0] & 7;
    keylist_rules rules;
    size_t header = 1;
    if (bytes[0] & 8) {
        if (size < header + 4) return 0;
        rules.has_as_of = true;
        rules.as_of = static_cast<int64_t>(static_cast<uint32_t>(bytes[1]) << 24 |
                                           static_cast<uint32_t>(bytes[2]) << 16 |
                                           static_cast<uint32_t>(bytes[3]) << 8 | bytes[4]);
        header += 4;
    }
    if (size < header + chunk_count) return 0;
    std::vector<size_t> chunk_sizes;
    for (size_t i = 0; i < chunk_count; ++i)
        chunk_sizes.push_back(bytes[header + i] == 0 ? 4096 : bytes[header + i]);
    if (chunk_sizes.empty()) chunk_sizes.push_back(1);
    header += chunk_count;
    const std::string listing(reinterpret_cast<const char*>(bytes) + header, size - header);

    const parse_result in_chunks = parse(listing, rules, chunk_sizes);
    const parse_result whole = parse(listing, rules, {listing.size() + 1});
    FUZZ_CHECK(in_chunks.calls == whole.calls);
    FUZZ_CHECK(in_chunks.ok == whole.ok);
    FUZZ_CHECK(in_chunks.error_line == whole.error_line && in_chunks.error == whole.error);
    FUZZ_CHECK(same_counts(in_chunks.counts, whole.counts));
    if (!whole.ok) {
        FUZZ_CHECK(whole.error_line > 0 && !whole.error.empty());
        return 0;
    }

    key_list_table table;
    for (const key_call& call : whole.calls) {
        // Signers come sorted, without repeats, and only with a kept key.
        FUZZ_CHECK(std::is_sorted(call.signers.begin(), call.signers.end()));
        FUZZ_CHECK(std::adjacent_find(call.signers.begin(), call.signers.end()) ==
                   call.signers.end());
        FUZZ_CHECK(call.kept || call.signers.empty());
        add_key_block(table, call.id, call.kept, call.signers);
    }
    std::string list;
    written_counts written;
    FUZZ_CHECK(write_key_list(
        table,
        [&list](const char* data, size_t n) {
            list.append(data, n);
            return true;
        },
        written));
    check_key_list(list, written);
    return 0;
}
