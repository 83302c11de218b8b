// The verdict cache of korvalinde-keylist (--cache FILE): the outcomes of
// a run's signature checks, kept in a file so that the next run over a dump that
// changed little need not verify them again.
//
// An entry is a 16-byte key over everything the cryptographic check of one
// signature depends on: the signer's public-key algorithm and key material,
// the hash algorithm, the digest of what the signature covers (the signed
// key, user id and the signature's hashed part) and the signature's own
// fields, whose last bit holds the outcome: valid (0) or bad (1). The same
// key means the same check with the same answer; anything changed gives
// another key and is verified again. Bad signatures are kept too, as a dump
// holds many forgeries that would otherwise be verified again every run;
// the other outcomes are found without a public-key operation.
//
// The file is the program's own, but it is read as untrusted input: it must
// be a regular file (not reached through a symbolic link) owned by the
// effective user and not writable by group or others, and its header and
// every block of entries carry a SHA-256 checksum. Anything else is a reason
// to ignore the whole file, never to fail the run.
//
// File format, little-endian:
//   header (64 bytes): magic "KVLCACHE", format version (u32), entry size
//   (u32, 16), entry count (u64), entries per block (u32), zero (u32),
//   SHA-256 of the 32 bytes before it;
//   then the entries in ascending byte order, in blocks of "entries per
//   block" (the last may be shorter), each block followed by the SHA-256 of
//   its entries.
// The file's size must be exactly what the header's count makes it.
//
// Threads: cache_lookup and cache_record may be called from any number of
// threads at once while the cache is not being read or written.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

using cache_key = std::array<uint8_t, 16>;

constexpr char CACHE_MAGIC[8] = {'K', 'V', 'L', 'C', 'A', 'C', 'H', 'E'};
constexpr uint32_t CACHE_VERSION = 1;
constexpr size_t CACHE_HEADER_SIZE = 64;
constexpr size_t CACHE_CHECKSUM_SIZE = 32;
constexpr uint32_t CACHE_BLOCK_ENTRIES = 65536;

struct verdict_cache {
    std::vector<cache_key> known; // read from the file: sorted, distinct, with outcomes
    std::vector<uint8_t> used;    // per known entry: looked up by this run
    // Where the entries whose first prefix_bits bits are i start in known,
    // for i from 0 to 2^prefix_bits: a lookup searches only among those.
    unsigned prefix_bits = 8;
    std::vector<size_t> first_with_prefix;
    std::mutex added_lock;
    std::deque<cache_key> added; // checked by this run (no doubling copies)
    std::atomic<uint64_t> hits{0};
    std::atomic<uint64_t> verified{0};
};

// What the cache knows of one check.
enum class cached_check : uint8_t { none, valid, bad };

// The key of one signature check (see above), its outcome bit clear.
cache_key verdict_key(uint8_t key_algorithm, std::span<const uint8_t> key_material,
                      uint8_t hash_algorithm, std::span<const uint8_t> digest,
                      std::span<const uint8_t> signature_fields);

// The outcome of the check of key that the file held, or none. An entry
// found is kept for the next run and counted as a hit.
cached_check cache_lookup(verdict_cache& cache, const cache_key& key);

// Counts a check made by this run, and keeps its outcome unless none.
void cache_record(verdict_cache& cache, const cache_key& key, cached_check outcome);

enum class cache_read_result { loaded, missing, ignored };

// Reads the cache at path into cache (which must be empty). missing: there is
// no file (a first run). ignored: reason says why the file is not used;
// cache is then left empty.
cache_read_result read_verdict_cache(const std::string& path, verdict_cache& cache,
                                     std::string& reason);

// Replaces path by a new file (mode 0600, through a temporary beside it and
// a rename, never writing through a link or into a special file) holding the
// entries this run looked up or added; the others are dropped. Sorts the
// added entries. False with reason set when it could not be written.
bool write_verdict_cache(const std::string& path, verdict_cache& cache, std::string& reason);

// The size of a cache file holding count entries in blocks of
// per_block; 0 when that would overflow.
uint64_t cache_file_size(uint64_t count, uint32_t per_block);
