#include "keylist_options.h"

#include "civil_date.h"
#include "decimal.h"
#include "program_messages.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

const char USAGE[] =
    "Usage: korvalinde-keylist [-hVv] [-o FILE] [-j N] [--names FILE] [--no-verify]\n"
    "                          [--as-of DATE] [--summary FILE] [--cache FILE]\n"
    "                          [INPUT...]\n"
    "Reads OpenPGP keys (keyrings, keyserver dumps, armored key blocks) or gpg\n"
    "--with-colons --fixed-list-mode --list-sigs/--check-sigs listings (INPUT, or\n"
    "standard input when none is given or \"-\") and writes a key list for korvalinde.\n"
    "  -o, --output FILE  write the key list to FILE (replaced only on success)\n"
    "  -j, --jobs N       verify on N threads (default: one per online processor)\n"
    "      --names FILE   also write the primary user id of every key listed\n"
    "      --summary FILE also write how the list was made (inputs, counts, time)\n"
    "      --cache FILE   keep the verdicts in FILE and take them from it next time\n"
    "                     (signatures unchanged since are not verified again)\n"
    "      --no-verify    count certifications in OpenPGP input without checking them\n"
    "      --as-of DATE   leave out keys and certifications expired at DATE\n"
    "                     (YYYY-MM-DD, UTC, or seconds since 1970) or made after it\n"
    "  -v, --verbose      print counts of keys and certifications on standard error\n"
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n";

bool all_digits(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

bool leap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

std::optional<int64_t> parse_as_of(const char* text) {
    if (all_digits(text)) {
        const std::optional<uint64_t> value = parse_decimal(text, 0, MAX_SECONDS);
        if (!value) return std::nullopt;
        return static_cast<int64_t>(*value);
    }
    // YYYY-MM-DD exactly.
    int digits[8], n = 0;
    for (int i = 0; i < 10; ++i) {
        const char c = text[i];
        if (i == 4 || i == 7) {
            if (c != '-') return std::nullopt;
        } else {
            if (c < '0' || c > '9') return std::nullopt;
            digits[n++] = c - '0';
        }
    }
    if (text[10] != '\0') return std::nullopt;
    const int64_t y = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const int64_t m = digits[4] * 10 + digits[5], d = digits[6] * 10 + digits[7];
    static const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1) return std::nullopt;
    if (d > month_days[m - 1] + (m == 2 && leap(y) ? 1 : 0)) return std::nullopt;
    return days_from_civil(y, m, d) * 86400;
}

std::optional<int> read_keylist_options(int argc, char** argv, keylist_settings& settings) {
    enum { OPTION_AS_OF = 256, OPTION_CACHE, OPTION_NAMES, OPTION_NO_VERIFY, OPTION_SUMMARY };
    static const option long_options[] = {
        {"output", required_argument, nullptr, 'o'},
        {"jobs", required_argument, nullptr, 'j'},
        {"names", required_argument, nullptr, OPTION_NAMES},
        {"no-verify", no_argument, nullptr, OPTION_NO_VERIFY},
        {"summary", required_argument, nullptr, OPTION_SUMMARY},
        {"cache", required_argument, nullptr, OPTION_CACHE},
        {"as-of", required_argument, nullptr, OPTION_AS_OF},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    int option;
    int word = 1;
    optind = 0; // a fresh scan, also when called again
    opterr = 0; // the messages are ours
    // "+" keeps glibc from permuting: option parsing stops at the first operand.
    while ((option = getopt_long(argc, argv, "+:o:j:vhV", long_options, nullptr)) != -1) {
        switch (option) {
        case 'o':
            if (*optarg == '\0') return bad_value("-o", optarg, "a file name");
            settings.output_path = optarg;
            break;
        case 'j': {
            const std::optional<uint64_t> n = parse_decimal(optarg, 1, 1024);
            if (!n) return bad_value("-j", optarg, "a number of threads from 1 to 1024");
            settings.threads = static_cast<unsigned>(*n);
            break;
        }
        case OPTION_NAMES:
            if (*optarg == '\0') return bad_value("--names", optarg, "a file name");
            settings.names_path = optarg;
            break;
        case OPTION_SUMMARY:
            if (*optarg == '\0') {
                std::fprintf(stderr,
                             "korvalinde-keylist: the file given with --summary is empty\n");
                return 1;
            }
            settings.summary_path = optarg;
            break;
        case OPTION_CACHE:
            if (*optarg == '\0') return bad_value("--cache", optarg, "a file name");
            settings.cache_path = optarg;
            break;
        case OPTION_NO_VERIFY:
            settings.verify = false;
            break;
        case OPTION_AS_OF: {
            std::optional<int64_t> when = parse_as_of(optarg);
            if (!when)
                return bad_value("--as-of", optarg, "a date YYYY-MM-DD or seconds since 1970");
            settings.rules.has_as_of = true;
            settings.rules.as_of = *when;
            break;
        }
        case 'v':
            ++settings.verbose;
            break;
        case 'h':
            return print_help(USAGE);
        case 'V':
            return print_version();
        default:
            return getopt_error(option, argv, word, long_options);
        }
        word = optind;
    }
    if (optind < argc) settings.input_paths.assign(argv + optind, argv + argc);
    return std::nullopt;
}
