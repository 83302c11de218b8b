// korvalinde-path: how one key reaches another in a key list's signature
// graph, and by how many paths that share no key in between.
#include "key_import.h"
#include "names_file.h"
#include "path_index.h"
#include "path_options.h"
#include "path_search.h"
#include "program_messages.h"
#include "query_runner.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sys/resource.h>

namespace {

struct file_closer {
    void operator()(FILE* f) const { (void)std::fclose(f); } // read-only: nothing to lose
};
using file_holder = std::unique_ptr<FILE, file_closer>;

// The search works on nodes 2 * key + 1 in 32 bits.
constexpr int32_t KEY_COUNT_MAX = (1 << 30) - 1;

using seconds = std::chrono::duration<double>;

// CPU time of the process so far (all threads, user and system): on a busy
// machine a truer measure of the work than the wall time.
double cpu_seconds() {
    struct rusage usage {};
    (void)getrusage(RUSAGE_SELF, &usage); // cannot fail with RUSAGE_SELF
    auto time = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return time(usage.ru_utime) + time(usage.ru_stime);
}

bool load_index(const path_settings& settings, path_index& ix) {
    auto started = std::chrono::steady_clock::now();
    file_holder input(std::fopen(settings.input.c_str(), "rb"));
    if (!input) {
        std::fprintf(stderr, "korvalinde-path: '%s': %s\n", settings.input.c_str(),
                     std::strerror(errno));
        return false;
    }
    // The import's progress lines are korvalinde's status file; not wanted here.
    key_graph g;
    key_lookup lookup;
    if (import_keys(input.get(), settings.input.c_str(), nullptr, g, &lookup) != 0) {
        std::fprintf(stderr, "korvalinde-path: '%s': cannot import\n", settings.input.c_str());
        return false;
    }
    if (g.key_count > KEY_COUNT_MAX) {
        std::fprintf(stderr, "korvalinde-path: '%s': more than %d keys\n", settings.input.c_str(),
                     KEY_COUNT_MAX);
        return false;
    }
    auto imported = std::chrono::steady_clock::now();
    double import_cpu = cpu_seconds();
    ix = build_path_index(std::move(g), std::move(lookup));
    if (settings.stats)
        std::fprintf(stderr,
                     "korvalinde-path: import %.3f s (CPU %.3f s), index %.3f s (CPU %.3f s)\n",
                     seconds(imported - started).count(), import_cpu,
                     seconds(std::chrono::steady_clock::now() - imported).count(),
                     cpu_seconds() - import_cpu);
    return true;
}

int run(int argc, char** argv) {
    path_settings settings;
    if (std::optional<int> status = read_path_options(argc, argv, settings)) return *status;

    auto started = std::chrono::steady_clock::now();
    path_index ix;
    if (!load_index(settings, ix)) return 1;
    key_names names;
    if (!settings.names_path.empty()) {
        std::string error;
        auto warn = [](const std::string& warning) {
            std::fprintf(stderr, "korvalinde-path: warning: %s\n", warning.c_str());
        };
        if (!read_names_file(settings.names_path, names, error, warn)) {
            std::fprintf(stderr, "korvalinde-path: %s\n", error.c_str());
            return 1;
        }
    }
    search_space space = make_search_space(ix.key_count);
    if (settings.stats) {
        struct rusage usage {};
        (void)getrusage(RUSAGE_SELF, &usage); // cannot fail with RUSAGE_SELF
        std::fprintf(stderr,
                     "korvalinde-path: start-up %.3f s (CPU %.3f s), %d keys, %zu distinct "
                     "signatures, peak memory %ld MiB\n",
                     seconds(std::chrono::steady_clock::now() - started).count(), cpu_seconds(),
                     ix.key_count, ix.signs_keys.size(), usage.ru_maxrss / 1024);
    }

    query_context context{settings, ix, settings.names_path.empty() ? nullptr : &names, space};
    bool answered = settings.batch
                        ? answer_stream(context, stdin, stdout)
                        : answer_one(context, settings.from, settings.to, "query", stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "korvalinde-path: standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return answered ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("korvalinde-path");
    end_on_out_of_memory();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory();
    }
}
