#include "key_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string record(char type, const std::string& id) {
    return std::string(1, type) + id + "\n";
}

std::string id_of(uint32_t high, uint32_t low) {
    char text[17];
    std::snprintf(text, sizeof text, "%08X%08X", high, low);
    return text;
}

struct import_result {
    int status;
    std::string status_text;
    key_graph g;
};

// Everything written to a temporary stream, from its start.
std::string read_back(FILE* stream) {
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        text.append(buffer, n);
    return text;
}

import_result run_import(const std::string& list) {
    import_result r;
    FILE* input = tmpfile();
    FILE* status = tmpfile();
    EXPECT_TRUE(input && status);
    EXPECT_EQ(std::fwrite(list.data(), 1, list.size(), input), list.size());
    std::rewind(input);
    r.status = import_keys(input, "test.keys", status, r.g);
    r.status_text = read_back(status);
    (void)std::fclose(input);
    (void)std::fclose(status);
    return r;
}

std::vector<int32_t> list_of(std::span<const int32_t> keys) {
    return {keys.begin(), keys.end()};
}

} // namespace

TEST(ParseIdHalf, ConvertsEachGroupLikeStrtol) {
    EXPECT_EQ(parse_id_half("1A2B3C4D"), 0x1A2B3C4Du);
    EXPECT_EQ(parse_id_half("1a2b3c4d"), 0x1A2B3C4Du);
    EXPECT_EQ(parse_id_half("00000000"), 0u);
    EXPECT_EQ(parse_id_half("FFFFFFFF"), 0xFFFFFFFFu);
    // Leading white space and a "0x" prefix in a group.
    EXPECT_EQ(parse_id_half("  1A0x2B"), 0x001A002Bu);
    EXPECT_EQ(parse_id_half("\t\n120X0F"), 0x0012000Fu);
    // Conversion stops at the first non-digit; a group without digits is 0.
    EXPECT_EQ(parse_id_half("12G4ZZZZ"), 0x00120000u);
    EXPECT_EQ(parse_id_half("0xZZ00FF"), 0x000000FFu);
    // A sign: -1 * 65536 + 2, reduced modulo 2^32.
    EXPECT_EQ(parse_id_half("-0010002"), 0xFFFF0002u);
    EXPECT_EQ(parse_id_half("+0010002"), 0x00010002u);
    EXPECT_EQ(parse_id_half("0001-001"), 0x0000FFFFu);
    // An embedded NUL ends the group.
    EXPECT_EQ(parse_id_half(std::string("1\0"
                                        "23ABCD",
                                        8)
                                .c_str()),
              0x0001ABCDu);
}

TEST(ImportKeys, ProgressLinesForThreeKeysAndManySignatures) {
    std::string list;
    for (uint32_t k = 0; k < 3; ++k) {
        list += record('p', id_of(0xAB, k));
        for (int i = 0; i < (k == 0 ? 834 : 833); ++i)
            list += record('s', id_of(0xAB, (k + 1 + static_cast<uint32_t>(i)) % 3));
    }
    import_result r = run_import(list);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.status_text, "Importing pass 1 (keys)...\ndone.\n3 keys imported\n"
                             "Importing pass 2 (sigs)...\n1000 sigs imported...\n"
                             "2000 sigs imported...\ndone.\n2500 sigs imported\n");
    EXPECT_EQ(r.g.sig_count, 2500);
    EXPECT_EQ(r.g.signed_by_keys.size(), 2500u);
    EXPECT_EQ(r.g.signs_keys.size(), 2500u);
}

TEST(ImportKeys, EmptyList) {
    import_result r = run_import("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.g.key_count, 0);
    EXPECT_EQ(r.status_text, "Importing pass 1 (keys)...\ndone.\n0 keys imported\n"
                             "Importing pass 2 (sigs)...\ndone.\n0 sigs imported\n");
}

TEST(ImportKeys, DuplicatesSelfSignaturesAndRecordOrder) {
    // Keys 0 (A), 1 (B), 2 (a second A), 3 (C, written in lower case).
    std::string list = record('p', id_of(0, 0xA)) + record('s', id_of(0, 0xB)) +
                       record('s', id_of(0, 0xA)) + record('p', id_of(0, 0xB)) +
                       record('s', id_of(0xC, 0xC)) + record('s', id_of(0, 0xA)) +
                       record('s', id_of(0xC, 0xC)) + record('p', id_of(0, 0xA)) +
                       record('s', id_of(0, 0xB)) + record('p', "0000000c0000000c");
    import_result r = run_import(list);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.g.key_count, 4);
    EXPECT_EQ(r.g.key_table[3].id_high, 0xCu);
    EXPECT_EQ(r.g.key_table[3].id_low, 0xCu);
    EXPECT_EQ(r.g.sig_count, 6);
    // The second copy of A resolves to the first; its own lists stay empty.
    EXPECT_EQ(list_of(signed_by(r.g, 0)), (std::vector<int32_t>{1, 0, 1}));
    EXPECT_EQ(list_of(signed_by(r.g, 1)), (std::vector<int32_t>{3, 0, 3}));
    EXPECT_TRUE(signed_by(r.g, 2).empty());
    EXPECT_TRUE(signs(r.g, 2).empty());
    // A signed itself once and B once; C signed B twice.
    EXPECT_EQ(list_of(signs(r.g, 0)), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(list_of(signs(r.g, 1)), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(list_of(signs(r.g, 3)), (std::vector<int32_t>{1, 1}));
}

TEST(ImportKeys, SkippedRecordsAndRepeatedProgressLines) {
    // Two "s" records before any "p", an unknown signer, an unknown record
    // type and a block without its line end.
    std::string list = record('s', id_of(0, 1)) + record('s', id_of(0, 1)) +
                       record('p', id_of(0, 1)) + record('s', id_of(9, 9)) +
                       record('x', id_of(0, 2)) + "p00000000000000020" + record('s', id_of(0, 1));
    import_result r = run_import(list);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.g.key_count, 1);
    EXPECT_EQ(r.g.sig_count, 1);
    EXPECT_EQ(r.status_text, "Importing pass 1 (keys)...\ndone.\n1 keys imported\n"
                             "Importing pass 2 (sigs)...\n0 sigs imported...\n"
                             "0 sigs imported...\n0 sigs imported...\ndone.\n1 sigs imported\n");
}

TEST(ImportKeys, FixedBlocksFromTheFileStart) {
    // CRLF line ends shift every block: nothing is imported.
    std::string crlf = "p0000000000000001\r\ns0000000000000001\r\np0000000000000002\r\n";
    import_result r = run_import(crlf);
    EXPECT_EQ(r.g.key_count, 0);
    // A final record without its line end is not imported.
    r = run_import(record('p', id_of(0, 1)) + "p0000000000000002");
    EXPECT_EQ(r.g.key_count, 1);
    // A bad block is skipped whole and reading goes on 18 bytes later.
    r = run_import(std::string(18, 'x') + record('p', id_of(0, 1)) + record('s', id_of(0, 1)));
    EXPECT_EQ(r.g.key_count, 1);
    EXPECT_EQ(r.g.sig_count, 1);
}

TEST(ImportKeys, LargeListsCrossReadChunks) {
    // Enough keys that the lookup table grows several times, with records
    // straddling the reader's chunk boundaries.
    constexpr uint32_t KEYS = 200000;
    std::string list;
    list.reserve(size_t{KEYS} * 2 * RECORD_SIZE);
    for (uint32_t k = 0; k < KEYS; ++k) {
        list += record('p', id_of(k * 7, k));
        list += record('s', id_of(((k + 1) % KEYS) * 7, (k + 1) % KEYS));
    }
    import_result r = run_import(list);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.g.key_count, static_cast<int32_t>(KEYS));
    EXPECT_EQ(r.g.sig_count, KEYS);
    for (int32_t k : {0, 1, 65535, 65536, 199999})
        EXPECT_EQ(list_of(signed_by(r.g, k)),
                  (std::vector<int32_t>{(k + 1) % static_cast<int32_t>(KEYS)}));
}

namespace {

// A stream whose content changes each time it is read from the start again,
// and that can be made to fail reads or seeks.
struct scripted_input {
    std::vector<std::string> passes; // content of each pass
    size_t pass = 0;
    size_t position = 0;
    bool fail_reads_at_end = false; // an I/O error instead of the end of the data
};

ssize_t scripted_read(void* cookie, char* buffer, size_t size) {
    auto* in = static_cast<scripted_input*>(cookie);
    const std::string& text = in->passes[std::min(in->pass, in->passes.size() - 1)];
    if (in->position >= text.size()) {
        if (in->fail_reads_at_end) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    size_t n = std::min(size, text.size() - in->position);
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): bytes of a file, not a string
    std::memcpy(buffer, text.data() + in->position, n);
    in->position += n;
    return static_cast<ssize_t>(n);
}

// The parameter types are fixed by fopencookie's seek function type.
// cppcheck-suppress constParameter
int scripted_seek(void* cookie, off64_t* offset, // NOLINT(readability-non-const-parameter)
                  int whence) {
    auto* in = static_cast<scripted_input*>(cookie);
    if (*offset != 0 || whence != SEEK_SET) return -1;
    ++in->pass;
    in->position = 0;
    return 0;
}

import_result run_scripted_import(scripted_input& script, bool seekable) {
    cookie_io_functions_t io{scripted_read, nullptr, seekable ? scripted_seek : nullptr, nullptr};
    FILE* input = fopencookie(&script, "r", io);
    FILE* status = tmpfile();
    import_result r;
    r.status = import_keys(input, "scripted.keys", status, r.g);
    r.status_text = read_back(status);
    (void)std::fclose(input);
    (void)std::fclose(status);
    return r;
}

} // namespace

TEST(ImportKeys, InputThatChangesOrFailsBetweenPasses) {
    std::string a = record('p', id_of(0, 1)) + record('s', id_of(0, 1));
    std::string b = record('p', id_of(0, 2)) + record('s', id_of(0, 1));
    // A key that was not there in pass 1.
    scripted_input changed{{a, b}};
    import_result r = run_scripted_import(changed, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.status_text, "Importing pass 1 (keys)...\ndone.\n1 keys imported\n"
                             "Importing pass 2 (sigs)...\nError finding key in pass 2.\n");
    // A stream that cannot be read a second time (a pipe) is refused rather
    // than giving a graph without signatures.
    scripted_input unseekable{{a}};
    r = run_scripted_import(unseekable, false);
    EXPECT_EQ(r.status, 1);
    // A read error ends the run instead of passing for the end of the list.
    scripted_input failing{{a}};
    failing.fail_reads_at_end = true;
    r = run_scripted_import(failing, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.status_text, "Importing pass 1 (keys)...\n");
}

TEST(ImportKeys, WithoutAStatusFileTheGraphIsTheSame) {
    std::string list = record('s', id_of(0, 1)) + record('p', id_of(0, 1)) +
                       record('s', id_of(0, 2)) + record('p', id_of(0, 2)) +
                       record('s', id_of(0, 1)) + record('s', id_of(0, 2));
    import_result with_status = run_import(list);
    key_graph g;
    ASSERT_EQ(import_keys_from_memory(list.data(), list.size(), "quiet.keys", nullptr, g), 0);
    EXPECT_EQ(g.key_count, with_status.g.key_count);
    EXPECT_EQ(g.sig_count, with_status.g.sig_count);
    EXPECT_EQ(g.signed_by_keys, with_status.g.signed_by_keys);
    EXPECT_EQ(g.signs_keys, with_status.g.signs_keys);
}

// The batched lookup against one lookup at a time, on a table large enough
// for long probe runs: present ids, absent ids and repeated ids.
TEST(KeyLookup, BatchedLookupAgreesWithSingleLookups) {
    key_graph g;
    for (uint32_t k = 0; k < 5000; ++k)
        g.key_table.push_back({k % 7 == 0 ? 0u : k * 2654435761u, k % 3000});
    g.key_count = static_cast<int32_t>(g.key_table.size());
    key_lookup built, grown;
    build_lookup(g, built);
    for (int32_t k = 0; k < g.key_count; ++k)
        remember_key(g, grown, k);
    EXPECT_EQ(built.used, grown.used);
    std::vector<uint64_t> ids;
    for (uint32_t k = 0; k < 12000; ++k)
        ids.push_back((static_cast<uint64_t>(k * 2654435761u) << 32) | (k % 3000));
    std::vector<int32_t> keys(ids.size());
    lookup_keys(built, ids.data(), ids.size(), keys.data());
    int found = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        int32_t single =
            lookup_key(grown, static_cast<uint32_t>(ids[i] >> 32), static_cast<uint32_t>(ids[i]));
        ASSERT_EQ(keys[i], single) << i;
        found += single >= 0;
    }
    EXPECT_GT(found, 3000);
    key_lookup empty;
    lookup_keys(empty, ids.data(), 3, keys.data());
    EXPECT_EQ(keys[0], -1);
}
