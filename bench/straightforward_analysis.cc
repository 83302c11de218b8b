// Benchmark driver for the distance analysis of korvalinde.
//
//   analysis_bench plain KEYLIST SAMPLE
//     The straightforward program: import, set search, then one
//     breadth-first search per reachable key (key_statistics) on two
//     threads. To keep the run short it analyses a random sample of SAMPLE
//     reachable keys (a fixed seed) and extrapolates the analysis time to all
//     reachable keys; the printed total says it is extrapolated.
//   analysis_bench fast KEYLIST THREADS
//     Import, set search and fast_analysis, each phase timed (no output
//     files), to see where a run spends its time.
//
// Results go to standard output as "name value" lines.
#include "fast_distance.h"
#include "key_import.h"
#include "plain_distance.h"
#include "strong_sets.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage() {
    std::fprintf(stderr, "usage: analysis_bench plain KEYLIST SAMPLE\n"
                         "       analysis_bench fast KEYLIST THREADS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return usage();
    bool plain = std::strcmp(argv[1], "plain") == 0;
    if (!plain && std::strcmp(argv[1], "fast") != 0) return usage();
    long count = std::strtol(argv[3], nullptr, 10);
    if (count < 1) return usage();

    FILE* input = std::fopen(argv[2], "r");
    if (input == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    key_graph g;
    if (import_keys(input, argv[2], nullptr, g) != 0) return 1;
    double import_seconds = seconds_since(start);
    start = std::chrono::steady_clock::now();
    set_results s;
    find_sets(g, nullptr, nullptr, s);
    double sets_seconds = seconds_since(start);
    std::printf("keys %d\nsignatures %lld\nstrong_set %d\nreachable %d\n", g.key_count,
                static_cast<long long>(g.sig_count), s.strong_set_size, s.reachable_size);
    std::printf("import_seconds %.3f\nsets_seconds %.3f\n", import_seconds, sets_seconds);

    start = std::chrono::steady_clock::now();
    if (!plain) {
        distance_table table = fast_analysis(g, s, static_cast<int>(count));
        std::printf("analysis_seconds %.3f\n", seconds_since(start));
        return 0;
    }

    // A fixed sample of reachable keys, spread over the whole index range.
    std::vector<int32_t> reachable;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.reachable[k]) reachable.push_back(k);
    std::vector<int32_t> sample;
    uint64_t state = 12345;
    for (long i = 0; i < count && !reachable.empty(); ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        sample.push_back(reachable[(state >> 33) % reachable.size()]);
    }
    // Two workers, each taking every other sampled key, as the
    // straightforward program splits its keys.
    std::atomic<int64_t> checksum{0};
    auto work = [&](size_t first) {
        distance_scratch scratch;
        key_stats stats;
        int64_t sum = 0;
        for (size_t i = first; i < sample.size(); i += 2) {
            key_statistics(g, s, sample[i], scratch, stats);
            sum += stats.distance_total;
        }
        checksum += sum;
    };
    std::thread second(work, 1);
    work(0);
    second.join();
    double sample_seconds = seconds_since(start);
    double per_key = sample_seconds / static_cast<double>(sample.size());
    double analysis = per_key * static_cast<double>(reachable.size());
    std::printf("sampled_keys %zu\nsample_seconds %.3f\nseconds_per_key_on_two_threads %.6f\n",
                sample.size(), sample_seconds, per_key);
    std::printf("extrapolated_analysis_seconds %.1f\n", analysis);
    std::printf("extrapolated_total_seconds %.1f\n", import_seconds + sets_seconds + analysis);
    std::printf("checksum %lld\n", static_cast<long long>(checksum.load()));
    return 0;
}
