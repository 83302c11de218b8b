#include "verdict_cache.h"

#include "atomic_file.h"
#include "file_io.h"
#include "openpgp_constants.h"
#include "signature_check.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using checksum = std::array<uint8_t, CACHE_CHECKSUM_SIZE>;

// Keys in byte order, compared a word at a time.
uint64_t big_endian_word(const uint8_t* at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = v << 8 | at[i];
    return v;
}

bool key_below(const cache_key& a, const cache_key& b) {
    const uint64_t a0 = big_endian_word(a.data()), b0 = big_endian_word(b.data());
    if (a0 != b0) return a0 < b0;
    return big_endian_word(a.data() + 8) < big_endian_word(b.data() + 8);
}

// The entries a lookup searches among: those sharing the key's first
// prefix_bits bits.
size_t key_prefix(const verdict_cache& cache, const cache_key& key) {
    return static_cast<size_t>(big_endian_word(key.data()) >> (64 - cache.prefix_bits));
}

// The last bit of an entry: the check found the signature bad.
constexpr uint8_t OUTCOME_BIT = 1;
constexpr uint8_t OUTCOME_MASK = 0xFE;

// SHA-256 of the pieces as one message. A context per thread with the
// digest fetched once (signature_check): OpenSSL 3's one-shot SHA256()
// looks the algorithm up in the provider store on every call, under a lock
// the threads contend for, which was a sixth of a run whose verdicts all
// came from the cache.
checksum sha256_of(std::initializer_list<std::span<const uint8_t>> pieces) {
    thread_local digest_context context;
    checksum out{};
    if (digest_begin(context, HASH_SHA256)) {
        for (const std::span<const uint8_t> piece : pieces)
            digest_update(context, piece);
        const digest_value value = digest_final(context);
        if (value.length == out.size()) {
            std::copy_n(value.bytes.begin(), out.size(), out.begin());
            return out;
        }
    }
    // No context to be had: the one-shot digest of the same bytes.
    std::vector<uint8_t> whole;
    for (const std::span<const uint8_t> piece : pieces)
        whole.insert(whole.end(), piece.begin(), piece.end());
    SHA256(whole.data(), whole.size(), out.data());
    return out;
}

checksum sha256_of(const void* data, size_t size) {
    return sha256_of({std::span<const uint8_t>(static_cast<const uint8_t*>(data), size)});
}

void put_u32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void put_u64(uint8_t* at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get_u32(const uint8_t* at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | at[i];
    return v;
}

uint64_t get_u64(const uint8_t* at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | at[i];
    return v;
}

// Reads exactly size bytes; false at an error (errno set) or when the file
// ends first (errno 0).
bool read_exact(int fd, void* to, size_t size) {
    auto* at = static_cast<uint8_t*>(to);
    while (size > 0) {
        const ssize_t got = read_some(fd, at, size);
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

struct fd_holder {
    int fd = -1;
    ~fd_holder() {
        if (fd >= 0) (void)close(fd); // opened read-only: nothing to lose
    }
};

std::string read_failure(const char* what) {
    return errno == 0 ? std::string(what) : std::string(std::strerror(errno));
}

// Why the file opened as fd must not be trusted, or nothing.
const char* untrusted_file(int fd, struct stat& status) {
    if (fstat(fd, &status) != 0) return "cannot examine it";
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    if (status.st_uid != geteuid()) return "owned by another user";
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by group or others";
    return nullptr;
}

// Checks the header; sets count and per_block, or returns why it is refused.
const char* check_header(const uint8_t* header, uint64_t file_size, uint64_t& count,
                         uint32_t& per_block) {
    if (std::memcmp(header, CACHE_MAGIC, sizeof CACHE_MAGIC) != 0) return "not a verdict cache";
    const checksum sum = sha256_of(header, 32);
    if (std::memcmp(sum.data(), header + 32, sum.size()) != 0) return "header checksum mismatch";
    if (get_u32(header + 8) != CACHE_VERSION) return "made by another version";
    if (get_u32(header + 12) != sizeof(cache_key) || get_u32(header + 28) != 0)
        return "header not understood";
    count = get_u64(header + 16);
    per_block = get_u32(header + 24);
    if (per_block == 0 || per_block > (uint32_t{1} << 24)) return "header not understood";
    // The count is bounded by the file's size before anything is allocated.
    if (count > file_size / sizeof(cache_key) || cache_file_size(count, per_block) != file_size)
        return "size does not match its header (truncated?)";
    return nullptr;
}

// Reads the blocks of entries after the header into cache.known.
bool read_entries(int fd, verdict_cache& cache, uint64_t count, uint32_t per_block,
                  std::string& reason) {
    cache.known.resize(count);
    for (uint64_t first = 0, block = 0; first < count; first += per_block, ++block) {
        const uint64_t n = std::min<uint64_t>(per_block, count - first);
        cache_key* entries = cache.known.data() + first;
        checksum stored{};
        if (!read_exact(fd, entries, n * sizeof(cache_key)) ||
            !read_exact(fd, stored.data(), stored.size())) {
            reason = read_failure("truncated");
            return false;
        }
        if (sha256_of(entries, n * sizeof(cache_key)) != stored) {
            reason = "checksum mismatch in block " + std::to_string(block);
            return false;
        }
    }
    for (uint64_t i = 1; i < count; ++i)
        if (!key_below(cache.known[i - 1], cache.known[i])) {
            reason = "entries out of order";
            return false;
        }
    return true;
}

// Writes entries through file in blocks, each followed by its checksum.
struct block_writer {
    atomic_file& file;
    std::vector<cache_key> block;

    bool flush() {
        if (block.empty()) return true;
        const size_t bytes = block.size() * sizeof(cache_key);
        const checksum sum = sha256_of(block.data(), bytes);
        const bool ok = atomic_write(file, reinterpret_cast<const char*>(block.data()), bytes) &&
                        atomic_write(file, reinterpret_cast<const char*>(sum.data()), sum.size());
        block.clear();
        return ok;
    }
    bool add(const cache_key& key) {
        block.push_back(key);
        return block.size() < CACHE_BLOCK_ENTRIES || flush();
    }
};

std::string write_failure(const atomic_file& file) {
    return std::string(atomic_step_text(file.failed_step)) + ": " + std::strerror(file.error);
}

} // namespace

uint64_t cache_file_size(uint64_t count, uint32_t per_block) {
    if (per_block == 0 || count > (UINT64_MAX - CACHE_HEADER_SIZE) / 64) return 0;
    const uint64_t blocks = count / per_block + (count % per_block != 0 ? 1 : 0);
    return CACHE_HEADER_SIZE + count * sizeof(cache_key) + blocks * CACHE_CHECKSUM_SIZE;
}

cache_key verdict_key(uint8_t key_algorithm, std::span<const uint8_t> key_material,
                      uint8_t hash_algorithm, std::span<const uint8_t> digest,
                      std::span<const uint8_t> signature_fields) {
    // Each variable-length piece is preceded by its length, so that no two
    // different checks hash the same bytes. Key material and signature
    // fields are at most a few kilobytes (the reader refuses larger ones).
    const uint8_t head[10] = {'k', 'v', 'l', '-', 'v', '1', 0, 0, key_algorithm, hash_algorithm};
    auto length_of = [](std::span<const uint8_t> piece) {
        return std::array<uint8_t, 2>{static_cast<uint8_t>(piece.size() >> 8),
                                      static_cast<uint8_t>(piece.size())};
    };
    const std::array<uint8_t, 2> material_length = length_of(key_material);
    const std::array<uint8_t, 2> digest_length = length_of(digest);
    const std::array<uint8_t, 2> fields_length = length_of(signature_fields);
    // SHA-256 cut to 127 bits (and the outcome bit): two checks share a key
    // only by a collision, which takes about 2^63 work even when chosen, and
    // making a chosen forgery share the key of a valid signature would take
    // a second preimage (2^127) as well as write access to the file. Half
    // the digest halves the cache's memory and file.
    const checksum sum = sha256_of({head, material_length, key_material, digest_length, digest,
                                    fields_length, signature_fields});
    cache_key key{};
    std::copy_n(sum.begin(), key.size(), key.begin());
    key.back() &= OUTCOME_MASK;
    return key;
}

cached_check cache_lookup(verdict_cache& cache, const cache_key& key) {
    if (cache.known.empty()) return cached_check::none;
    // The entry, with either outcome bit, is the first not below the key
    // with the bit clear, among those with the key's leading bits.
    const size_t prefix = key_prefix(cache, key);
    const auto last =
        cache.known.begin() + static_cast<ptrdiff_t>(cache.first_with_prefix[prefix + 1]);
    const auto found = std::lower_bound(cache.known.begin() +
                                            static_cast<ptrdiff_t>(cache.first_with_prefix[prefix]),
                                        last, key, key_below);
    if (found == last || !std::equal(key.begin(), key.end() - 1, found->begin()) ||
        (found->back() & OUTCOME_MASK) != key.back())
        return cached_check::none;
    // Several threads may mark the same entry: each writes the same value.
    std::atomic_ref<uint8_t>(cache.used[static_cast<size_t>(found - cache.known.begin())])
        .store(1, std::memory_order_relaxed);
    cache.hits.fetch_add(1, std::memory_order_relaxed);
    return (found->back() & OUTCOME_BIT) != 0 ? cached_check::bad : cached_check::valid;
}

void cache_record(verdict_cache& cache, const cache_key& key, cached_check outcome) {
    cache.verified.fetch_add(1, std::memory_order_relaxed);
    if (outcome == cached_check::none) return;
    cache_key entry = key;
    if (outcome == cached_check::bad) entry.back() |= OUTCOME_BIT;
    // Verifying took far longer than the lock is held.
    const std::lock_guard<std::mutex> hold(cache.added_lock);
    cache.added.push_back(entry);
}

cache_read_result read_verdict_cache(const std::string& path, verdict_cache& cache,
                                     std::string& reason) {
    fd_holder file;
    // O_NONBLOCK: a FIFO planted there is refused below rather than waited on.
    do
        file.fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) {
        if (errno == ENOENT) return cache_read_result::missing;
        reason = errno == ELOOP ? "a symbolic link" : std::strerror(errno);
        return cache_read_result::ignored;
    }
    struct stat status {};
    if (const char* why = untrusted_file(file.fd, status)) {
        reason = why;
        return cache_read_result::ignored;
    }
    uint8_t header[CACHE_HEADER_SIZE];
    if (!read_exact(file.fd, header, sizeof header)) {
        reason = read_failure("truncated");
        return cache_read_result::ignored;
    }
    uint64_t count = 0;
    uint32_t per_block = 0;
    const char* refused =
        check_header(header, static_cast<uint64_t>(status.st_size), count, per_block);
    if (refused != nullptr || !read_entries(file.fd, cache, count, per_block, reason)) {
        if (refused != nullptr) reason = refused;
        cache.known = std::vector<cache_key>();
        return cache_read_result::ignored;
    }
    cache.used.assign(cache.known.size(), 0);
    // About eight entries per prefix: a lookup reads one or two cache lines
    // of entries (keys are uniformly distributed, being hashes).
    cache.prefix_bits = 8;
    while (cache.prefix_bits < 24 && (cache.known.size() >> cache.prefix_bits) > 8)
        ++cache.prefix_bits;
    const size_t prefixes = size_t{1} << cache.prefix_bits;
    cache.first_with_prefix.assign(prefixes + 1, 0);
    size_t i = 0;
    for (size_t prefix = 0; prefix <= prefixes; ++prefix) {
        while (i < cache.known.size() && key_prefix(cache, cache.known[i]) < prefix)
            ++i;
        cache.first_with_prefix[prefix] = i;
    }
    return cache_read_result::loaded;
}

bool write_verdict_cache(const std::string& path, verdict_cache& cache, std::string& reason) {
    std::sort(cache.added.begin(), cache.added.end(), key_below);
    cache.added.erase(std::unique(cache.added.begin(), cache.added.end()), cache.added.end());
    uint64_t count = cache.added.size();
    for (size_t i = 0; i < cache.known.size(); ++i)
        if (cache.used[i] != 0) ++count;

    atomic_file file;
    uint8_t header[CACHE_HEADER_SIZE] = {};
    std::memcpy(header, CACHE_MAGIC, sizeof CACHE_MAGIC);
    put_u32(header + 8, CACHE_VERSION);
    put_u32(header + 12, sizeof(cache_key));
    put_u64(header + 16, count);
    put_u32(header + 24, CACHE_BLOCK_ENTRIES);
    const checksum sum = sha256_of(header, 32);
    std::copy(sum.begin(), sum.end(), header + 32);
    block_writer out{file, {}};
    bool ok = atomic_open_private(file, path) &&
              atomic_write(file, reinterpret_cast<const char*>(header), sizeof header);
    // The entries used from the file and those added, merged in order. No
    // entry is in both: one found in the file is never verified again.
    size_t k = 0;
    auto a = cache.added.begin();
    while (ok && (k < cache.known.size() || a != cache.added.end())) {
        if (k < cache.known.size() && cache.used[k] == 0)
            ++k;
        else if (a == cache.added.end() ||
                 (k < cache.known.size() && key_below(cache.known[k], *a)))
            ok = out.add(cache.known[k++]);
        else
            ok = out.add(*a++);
    }
    ok = ok && out.flush();
    if (!ok || !atomic_commit(file)) {
        reason = write_failure(file);
        return false;
    }
    return true;
}
