#include "verify_pipeline.h"

#include "start_threads.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace {

void verify_batch(const verify_pipeline& p, verify_pipeline::batch& b, signer_key_cache& cache,
                  uint64_t counts[]) {
    verify_queued(*p.collection, b.queue, b.bytes.data(), cache, counts);
    b.queue.clear();
    b.bytes.clear();
}

// Verifies batches until the pipeline closes and none is left.
void help(verify_pipeline& p, signer_key_cache& cache) {
    uint64_t local[static_cast<size_t>(verdict::count_)] = {};
    std::unique_lock<std::mutex> hold(p.lock);
    for (;;) {
        p.has_work.wait(hold, [&p] { return !p.full.empty() || p.closing; });
        if (p.full.empty()) break;
        verify_pipeline::batch b = std::move(p.full.front());
        p.full.pop_front();
        hold.unlock();
        verify_batch(p, b, cache, local);
        hold.lock();
        p.spare.push_back(std::move(b)); // within the capacity reserved
    }
    for (size_t i = 0; i < static_cast<size_t>(verdict::count_); ++i)
        p.counts[i] += local[i];
}

// A helper thread, with a key cache of its own. Without the memory for
// one it leaves the work to the others (the reading thread drains the
// queue in the end).
void run_helper(verify_pipeline& p) {
    std::unique_ptr<signer_key_cache> cache;
    try {
        cache = std::make_unique<signer_key_cache>();
    } catch (const std::bad_alloc&) {
        return;
    }
    help(p, *cache);
}

// Queues the batch being filled and starts a new one; when the queue is
// full, the reading thread verifies the oldest batch itself.
void hand_over(verify_pipeline& p) {
    std::unique_lock<std::mutex> hold(p.lock);
    while (p.full.size() >= p.full_max) {
        verify_pipeline::batch b = std::move(p.full.front());
        p.full.pop_front();
        hold.unlock();
        uint64_t local[static_cast<size_t>(verdict::count_)] = {};
        verify_batch(p, b, p.reader_cache, local);
        hold.lock();
        for (size_t i = 0; i < static_cast<size_t>(verdict::count_); ++i)
            p.counts[i] += local[i];
        p.spare.push_back(std::move(b));
    }
    p.full.push_back(std::move(p.filling));
    p.filling = verify_pipeline::batch();
    if (!p.spare.empty()) {
        p.filling = std::move(p.spare.back());
        p.spare.pop_back();
    }
    hold.unlock();
    p.has_work.notify_one();
}

} // namespace

void start_verify_pipeline(verify_pipeline& p, const openpgp_collection& c, unsigned threads) {
    p.collection = &c;
    p.full_max = threads + 2;
    // Every batch there is can be spare at once: the helpers never grow it.
    p.spare.reserve(p.full_max + threads + 2);
    start_helper_threads(p.helpers, static_cast<int>(std::max(threads, 1u)),
                         [&p](int) { run_helper(p); });
}

void queue_signature(verify_pipeline& p, queued_signature q,
                     std::initializer_list<std::span<const uint8_t>> blob) {
    verify_pipeline::batch& b = p.filling;
    q.blob = static_cast<uint32_t>(b.bytes.size());
    for (const std::span<const uint8_t> piece : blob)
        b.bytes.insert(b.bytes.end(), piece.begin(), piece.end());
    b.queue.push_back(q);
    if (b.queue.size() >= verify_pipeline::BATCH_SIGNATURES ||
        b.bytes.size() >= verify_pipeline::BATCH_BYTES)
        hand_over(p);
}

void finish_verify_pipeline(verify_pipeline& p, openpgp_counts& counts) {
    {
        const std::lock_guard<std::mutex> hold(p.lock);
        if (!p.filling.queue.empty()) {
            p.full.push_back(std::move(p.filling));
            p.filling = verify_pipeline::batch();
        }
        p.closing = true;
    }
    p.has_work.notify_all();
    // The reading thread takes its share of what is left, as a helper.
    help(p, p.reader_cache);
    join_helper_threads(p.helpers);
    p.helpers.clear();
    for (size_t i = 0; i < static_cast<size_t>(verdict::count_); ++i)
        counts.verdicts[i] += p.counts[i];
}

verify_pipeline::~verify_pipeline() {
    if (helpers.empty()) return;
    {
        const std::lock_guard<std::mutex> hold(lock);
        closing = true;
    }
    has_work.notify_all();
    join_helper_threads(helpers);
}
