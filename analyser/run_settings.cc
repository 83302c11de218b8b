#include "run_settings.h"

#include "decimal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <unistd.h>

namespace {

constexpr long MAX_THREADS = 1024;

// The number of online processors, at least 1.
int default_threads() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n < 1) return 1;
    return n > MAX_THREADS ? static_cast<int>(MAX_THREADS) : static_cast<int>(n);
}

// A thread count from 1 to MAX_THREADS, written as a plain decimal number.
std::optional<int> parse_threads(const char* text) {
    const std::optional<uint64_t> n = parse_decimal(text, 1, static_cast<uint64_t>(MAX_THREADS));
    if (!n) return std::nullopt;
    return static_cast<int>(*n);
}

// An address goes into every report as one line of text: printable ASCII
// without blanks (a URL, with anything else percent-encoded), never empty.
bool usable_report_address(const std::string& address) {
    if (address.empty() || address.size() > REPORT_ADDRESS_MAX) return false;
    for (char c : address)
        if (c <= ' ' || c > '~') return false;
    return true;
}

// The options beyond those of the first line, on the lines after it: scripts
// may match the first line alone.
void print_usage(const char* program) {
    std::printf("Usage: %s [-h1] [-i infile] [-o outdir]\n", program);
    std::printf("  -j N     analysis and report threads, 1 to %ld (default: online processors)\n"
                "  --report-address URL\n"
                "           where the reports are published, named in each report\n"
                "           (default: %s)\n",
                MAX_THREADS, DEFAULT_REPORT_ADDRESS);
}

enum long_only { OPT_REPORT_ADDRESS = 256 };

} // namespace

std::optional<int> read_options(int argc, char** argv, run_settings& settings) {
    settings.threads = default_threads();
    static const option long_options[] = {
        {"report-address", required_argument, nullptr, OPT_REPORT_ADDRESS},
        {nullptr, 0, nullptr, 0},
    };
    // "+" keeps glibc from permuting: option parsing stops at the first operand.
    int option;
    while ((option = getopt_long(argc, argv, "+hi:o:1j:", long_options, nullptr)) != -1) {
        switch (option) {
        case 'h':
            print_usage(argv[0]);
            return 0;
        case 'i':
            settings.input_path = optarg;
            break;
        case 'o': {
            std::string dir = optarg;
            if (dir.empty()) {
                // An empty value would put every output file into the current
                // directory (or "/"), which is never what was meant.
                std::fprintf(stderr, "korvalinde: the output directory given with -o is empty\n");
                return 1;
            }
            if (dir.back() != '/') dir += '/';
            settings.output_dir = dir;
            break;
        }
        case '1':
            settings.use_subdirs = 0;
            break;
        case 'j': {
            std::optional<int> n = parse_threads(optarg);
            if (!n) {
                std::fprintf(stderr,
                             "korvalinde: -j needs a number of threads from 1 to %ld, not \"%s\"\n",
                             MAX_THREADS, optarg);
                return 1;
            }
            settings.threads = *n;
            break;
        }
        case OPT_REPORT_ADDRESS:
            settings.report_address = optarg;
            if (!usable_report_address(settings.report_address)) {
                std::fprintf(stderr,
                             "korvalinde: --report-address needs 1 to %zu printable ASCII "
                             "characters without blanks\n",
                             REPORT_ADDRESS_MAX);
                return 1;
            }
            break;
        default:
            // getopt has already reported the unknown option or the missing
            // argument in its own words; the run goes on.
            break;
        }
    }
    // One key list only: a second operand (or an option written after the
    // key list, which is no longer read as one) would otherwise be ignored
    // without a word.
    if (optind + 1 < argc) {
        std::fprintf(stderr, "korvalinde: unexpected operand '%s'\nTry 'korvalinde -h' for help.\n",
                     argv[optind + 1]);
        return 2;
    }
    if (optind < argc) settings.input_path = argv[optind];
    return std::nullopt;
}
