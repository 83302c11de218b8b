// Verification while the input is read: the reading thread queues each
// signature whose signer it has read already (openpgp_collection's
// pipeline), in batches, and threads - 1 helper threads verify the batches
// as they come. When the helpers fall behind, the reading thread verifies a
// batch itself rather than wait or queue more, so every thread is busy and
// what is queued stays bounded: at most threads + 2 batches of at most
// BATCH_SIGNATURES signatures and about BATCH_BYTES bytes each. The
// signatures whose signer comes later in the input are verified after the
// reading (verify_signatures).
#pragma once

#include "openpgp_collection.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

struct verify_pipeline {
    static constexpr size_t BATCH_SIGNATURES = 256;
    static constexpr size_t BATCH_BYTES = 64 << 10;

    struct batch {
        std::vector<queued_signature> queue;
        std::vector<uint8_t> bytes;
    };

    const openpgp_collection* collection = nullptr;
    size_t full_max = 0;
    batch filling; // by the reading thread

    std::mutex lock; // guards what follows
    std::condition_variable has_work;
    std::deque<batch> full;
    std::vector<batch> spare;
    bool closing = false;
    uint64_t counts[static_cast<size_t>(verdict::count_)] = {};

    std::vector<std::thread> helpers;
    signer_key_cache reader_cache; // the reading thread's own

    verify_pipeline() = default;
    // Stops the helpers if finish_verify_pipeline did not (an exception
    // while reading): they verify what is queued and end.
    ~verify_pipeline();
    verify_pipeline(const verify_pipeline&) = delete;
    verify_pipeline& operator=(const verify_pipeline&) = delete;
};

// Starts threads - 1 helpers verifying for c (at least none: with one
// thread the reading thread verifies everything itself).
void start_verify_pipeline(verify_pipeline& p, const openpgp_collection& c, unsigned threads);

// Queues one signature whose blob is the pieces one after another (q.blob
// is set here).
void queue_signature(verify_pipeline& p, queued_signature q,
                     std::initializer_list<std::span<const uint8_t>> blob);

// Verifies what is still queued, with the helpers, stops them and adds the
// verdicts to counts.
void finish_verify_pipeline(verify_pipeline& p, openpgp_counts& counts);
