#include "verdict_cache.h"

#include "openpgp_test_dump.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using file_bytes = std::vector<uint8_t>;

struct temp_dir {
    std::string path;
    temp_dir() {
        char name[] = "/tmp/verdict_cache_test.XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "";
    }
    ~temp_dir() {
        const std::string command = "rm -rf '" + path + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
};

file_bytes load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return file_bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void save(const std::string& path, const file_bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

cache_key key_number(uint64_t n) {
    const uint8_t piece[8] = {static_cast<uint8_t>(n),
                              static_cast<uint8_t>(n >> 8),
                              static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 24),
                              static_cast<uint8_t>(n >> 32),
                              0,
                              0,
                              0};
    return verdict_key(22, piece, 8, piece, piece);
}

// The outcome the test caches give entry i: valid and bad alternately.
cached_check outcome_of(uint64_t i) {
    return i % 2 == 0 ? cached_check::valid : cached_check::bad;
}

// Writes a cache of count entries (more than one block when count is large)
// at path; the entries are key_number(0 .. count) with outcome_of.
void write_cache(const std::string& path, uint64_t count) {
    verdict_cache cache;
    for (uint64_t i = 0; i < count; ++i)
        cache_record(cache, key_number(i), outcome_of(i));
    std::string reason;
    ASSERT_TRUE(write_verdict_cache(path, cache, reason)) << reason;
}

void fix_header_checksum(file_bytes& bytes) {
    SHA256(bytes.data(), 32, bytes.data() + 32);
}

TEST(VerdictCache, RoundTripKeepsOnlyTheEntriesUsed) {
    temp_dir dir;
    const std::string path = dir.path + "/cache";
    const uint64_t count = CACHE_BLOCK_ENTRIES + 10; // two blocks, the last one short
    write_cache(path, count);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(static_cast<uint64_t>(status.st_size), cache_file_size(count, CACHE_BLOCK_ENTRIES));

    verdict_cache cache;
    std::string reason;
    ASSERT_EQ(read_verdict_cache(path, cache, reason), cache_read_result::loaded) << reason;
    EXPECT_EQ(cache.known.size(), count);
    // Every third entry used; new ones verified valid, bad, and neither.
    for (uint64_t i = 0; i < count; i += 3)
        EXPECT_EQ(cache_lookup(cache, key_number(i)), outcome_of(i));
    EXPECT_EQ(cache_lookup(cache, key_number(count)), cached_check::none);
    cache_record(cache, key_number(count), cached_check::valid);
    cache_record(cache, key_number(count + 1), cached_check::bad);
    cache_record(cache, key_number(count + 2), cached_check::none);
    EXPECT_EQ(cache.hits.load(), (count + 2) / 3);
    EXPECT_EQ(cache.verified.load(), 3u);
    ASSERT_TRUE(write_verdict_cache(path, cache, reason)) << reason;

    verdict_cache next;
    ASSERT_EQ(read_verdict_cache(path, next, reason), cache_read_result::loaded) << reason;
    EXPECT_EQ(next.known.size(), (count + 2) / 3 + 2);
    for (uint64_t i = 0; i < count + 3; ++i) {
        const cached_check expected = (i < count && i % 3 == 0) ? outcome_of(i)
                                      : i == count              ? cached_check::valid
                                      : i == count + 1          ? cached_check::bad
                                                                : cached_check::none;
        EXPECT_EQ(cache_lookup(next, key_number(i)), expected) << i;
    }
}

TEST(VerdictCache, MissingFileIsAFirstRun) {
    temp_dir dir;
    verdict_cache cache;
    std::string reason;
    EXPECT_EQ(read_verdict_cache(dir.path + "/none", cache, reason), cache_read_result::missing);
}

TEST(VerdictCache, EveryDamagedOrForeignFileIsIgnored) {
    temp_dir dir;
    const std::string path = dir.path + "/cache";
    const uint64_t count = CACHE_BLOCK_ENTRIES + 100;
    const size_t second_block = CACHE_HEADER_SIZE + CACHE_BLOCK_ENTRIES * 16 + CACHE_CHECKSUM_SIZE;
    struct damage {
        const char* name;
        std::function<void(file_bytes&)> change; // of the file's bytes
        std::function<void()> after;             // on the file written
        const char* reason;
    };
    const damage cases[] = {
        {"flipped entry byte", [](file_bytes& b) { b[CACHE_HEADER_SIZE + 5] ^= 1; }, nullptr,
         "checksum mismatch in block 0"},
        {"flipped byte in the last block", [&](file_bytes& b) { b[second_block + 17] ^= 0x80; },
         nullptr, "checksum mismatch in block 1"},
        {"flipped block checksum", [](file_bytes& b) { b.back() ^= 1; }, nullptr,
         "checksum mismatch in block 1"},
        {"truncated", [](file_bytes& b) { b.pop_back(); }, nullptr, "size does not match"},
        {"cut inside the header", [](file_bytes& b) { b.resize(40); }, nullptr, "truncated"},
        {"empty", [](file_bytes& b) { b.clear(); }, nullptr, "truncated"},
        {"longer", [](file_bytes& b) { b.push_back(0); }, nullptr, "size does not match"},
        {"wrong magic", [](file_bytes& b) { b[0] = 'X'; }, nullptr, "not a verdict cache"},
        {"header changed, checksum not", [](file_bytes& b) { b[16] ^= 1; }, nullptr,
         "header checksum mismatch"},
        {"another version",
         [](file_bytes& b) {
             b[8] = 2;
             fix_header_checksum(b);
         },
         nullptr, "another version"},
        {"more entries claimed than held",
         [](file_bytes& b) {
             b[16 + 4] = 0x10; // about 2^36 entries
             fix_header_checksum(b);
         },
         nullptr, "size does not match"},
        {"entries out of order",
         [](file_bytes& b) {
             std::swap_ranges(b.begin() + CACHE_HEADER_SIZE, b.begin() + CACHE_HEADER_SIZE + 16,
                              b.begin() + CACHE_HEADER_SIZE + 16);
             SHA256(b.data() + CACHE_HEADER_SIZE, size_t{CACHE_BLOCK_ENTRIES} * 16,
                    b.data() + second_block - CACHE_CHECKSUM_SIZE);
         },
         nullptr, "out of order"},
        {"group-writable", nullptr, [&] { ASSERT_EQ(chmod(path.c_str(), 0620), 0); },
         "writable by group or others"},
        {"world-writable", nullptr, [&] { ASSERT_EQ(chmod(path.c_str(), 0602), 0); },
         "writable by group or others"},
        {"a symbolic link", nullptr,
         [&] {
             ASSERT_EQ(rename(path.c_str(), (path + ".real").c_str()), 0);
             ASSERT_EQ(symlink((path + ".real").c_str(), path.c_str()), 0);
         },
         "a symbolic link"},
        {"a FIFO", nullptr,
         [&] {
             ASSERT_EQ(unlink(path.c_str()), 0);
             ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
         },
         "not a regular file"},
    };
    for (const damage& d : cases) {
        SCOPED_TRACE(d.name);
        (void)unlink(path.c_str()); // may not exist
        (void)unlink((path + ".real").c_str());
        write_cache(path, count);
        if (d.change) {
            file_bytes bytes = load(path);
            d.change(bytes);
            save(path, bytes);
        }
        if (d.after) d.after();
        verdict_cache cache;
        std::string reason;
        EXPECT_EQ(read_verdict_cache(path, cache, reason), cache_read_result::ignored);
        EXPECT_NE(reason.find(d.reason), std::string::npos) << reason;
        EXPECT_TRUE(cache.known.empty());
        EXPECT_EQ(cache_lookup(cache, key_number(0)), cached_check::none);
    }
}

TEST(VerdictCache, AnotherUsersFileIsIgnored) {
    passwd entry{};
    passwd* nobody = nullptr;
    char buffer[4096];
    if (geteuid() != 0 || getpwnam_r("nobody", &entry, buffer, sizeof buffer, &nobody) != 0 ||
        nobody == nullptr)
        GTEST_SKIP() << "needs root and the user nobody";
    temp_dir dir;
    const std::string path = dir.path + "/cache";
    write_cache(path, 3);
    ASSERT_EQ(chown(path.c_str(), nobody->pw_uid, static_cast<gid_t>(-1)), 0);
    verdict_cache cache;
    std::string reason;
    EXPECT_EQ(read_verdict_cache(path, cache, reason), cache_read_result::ignored);
    EXPECT_EQ(reason, "owned by another user");
}

TEST(VerdictCache, WritingReplacesALinkNotItsTarget) {
    temp_dir dir;
    const std::string path = dir.path + "/cache";
    const std::string target = dir.path + "/precious";
    save(target, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    write_cache(path, 2);
    EXPECT_EQ(load(target), (file_bytes{'k', 'e', 'e', 'p'}));
    struct stat status {};
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
}

TEST(VerdictCache, KeyCoversEveryInput) {
    const uint8_t a[] = {1, 2, 3}, b[] = {1, 2, 4};
    const cache_key base = verdict_key(1, a, 8, a, a);
    EXPECT_NE(verdict_key(2, a, 8, a, a), base);
    EXPECT_NE(verdict_key(1, b, 8, a, a), base);
    EXPECT_NE(verdict_key(1, a, 10, a, a), base);
    EXPECT_NE(verdict_key(1, a, 8, b, a), base);
    EXPECT_NE(verdict_key(1, a, 8, a, b), base);
    EXPECT_EQ(verdict_key(1, a, 8, a, a), base);
    // A byte moved from one piece to the next is another check.
    const uint8_t two[] = {1, 2}, four[] = {3, 1, 2, 3};
    EXPECT_NE(verdict_key(1, two, 8, four, a), verdict_key(1, a, 8, a, a));
    // Key material larger than the key's stack buffer.
    const std::vector<uint8_t> big(4200, 7);
    EXPECT_NE(verdict_key(1, big, 8, a, a), verdict_key(1, a, 8, a, a));
}

// Four keys certifying each other; with forged_at set, that one
// certification has its signature's last byte changed (the digest and
// everything it covers stay the same).
bytes ring_dump(int forged_at) {
    constexpr uint32_t T0 = 1500000000;
    std::vector<test_key> keys;
    for (uint8_t i = 0; i < 4; ++i)
        keys.push_back(ed25519_test_key(static_cast<uint8_t>(40 + i), T0 + i));
    bytes dump;
    int n = 0;
    for (const test_key& key : keys) {
        const std::string text = "Holder " + key.hex_id;
        add_key(dump, key);
        add_user_id(dump, text);
        add_signature(dump, key, spec_by(key, 0x13, key.created), key, text);
        for (const test_key& signer : keys)
            if (&signer != &key)
                add_signature(dump, signer, spec_by(signer, 0x10, T0 + 100), key, text,
                              n++ == forged_at);
    }
    return dump;
}

// The cache changes nothing in the output: a tampered signature (same
// digest, other signature fields) is verified again and refused.
TEST(VerdictCache, TamperedSignatureIsVerifiedAgain) {
    temp_dir dir;
    const std::string cache = " --cache " + dir.path + "/cache";
    const keylist_run first = run_keylist(ring_dump(-1), cache);
    ASSERT_EQ(first.status, 0) << first.errors;
    EXPECT_NE(first.errors.find("0 verdicts from the cache, 16 signatures verified"),
              std::string::npos)
        << first.errors;
    EXPECT_EQ(first.list, run_keylist(ring_dump(-1)).list);

    const keylist_run tampered = run_keylist(ring_dump(5), cache);
    ASSERT_EQ(tampered.status, 0) << tampered.errors;
    EXPECT_NE(tampered.errors.find("15 verdicts from the cache, 1 signatures verified"),
              std::string::npos)
        << tampered.errors;
    // The bad signature's verdict is kept too.
    const keylist_run again = run_keylist(ring_dump(5), cache);
    EXPECT_NE(again.errors.find("16 verdicts from the cache, 0 signatures verified"),
              std::string::npos)
        << again.errors;
    EXPECT_EQ(again.list, tampered.list);
    const keylist_run reference = run_keylist(ring_dump(5));
    EXPECT_EQ(tampered.list, reference.list);
    EXPECT_EQ(tampered.names, reference.names);
    EXPECT_NE(tampered.list, first.list);
}

} // namespace
