// korvalinde: reads a key list, finds the strong set of its signature graph
// and the keys reachable from it, and writes each reachable key's mean
// distance from the strong set, the summary files and a report per key.
#include "analysis_results.h"
#include "fast_distance.h"
#include "key_graph.h"
#include "key_import.h"
#include "key_report.h"
#include "msd_summary.h"
#include "output_files.h"
#include "run_settings.h"
#include "strong_sets.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

int run(int argc, char** argv) {
    run_settings settings;
    if (std::optional<int> status = read_options(argc, argv, settings)) return *status;

    output_streams streams;
    if (open_files(settings, streams) != 0) {
        std::fprintf(stderr, "Error opening files.\n");
        if (!streams.failed_path.empty())
            std::fprintf(stderr, "korvalinde: '%s': %s\n", streams.failed_path.c_str(),
                         std::strerror(streams.failed_errno));
        return 1;
    }

    key_graph g;
    if (import_keys(streams.input, settings.input_path.c_str(), streams.status_file, g) != 0)
        return 1; // exit flushes what status.txt holds so far
    set_results s;
    find_sets(g, streams.othersets_file, streams.status_file, s);
    // Stop before the long analysis if the output cannot take the results.
    if (output_failed(streams.status_file, streams.status_path) ||
        output_failed(streams.othersets_file, streams.othersets_path))
        return 1;

    distance_table table = fast_analysis(g, s, settings.threads);
    float mean_sum = write_msd(streams.msd_file, g, s, table);
    if (output_failed(streams.msd_file, streams.msd_path)) return 1;
    int status = write_key_reports(settings, g, s, table);
    // The average line stands for complete summary files: it is written only
    // after the others have been closed without error, and taken back when
    // "other.txt" itself cannot be written. A report that failed has been
    // named on standard error and does not change the average.
    if (close_results(streams) != 0) {
        (void)close_files(streams); // nothing was written to other.txt
        return 1;
    }
    write_average(streams.other_file, mean_sum, s.reachable_size);
    if (close_files(streams) != 0) {
        withdraw_file(settings.output_dir_fd, "other.txt");
        return 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // The files written so far are flushed by the normal exit; none of
        // them carries the average line yet.
        std::fprintf(stderr, "korvalinde: out of memory\n");
        return 1;
    }
}
