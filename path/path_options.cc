#include "path_options.h"

#include "decimal.h"
#include "program_messages.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

const char* const USAGE =
    "Usage: korvalinde-path [options] FROM TO\n"
    "       korvalinde-path [options] -    (FROM TO pairs from standard input)\n"
    "Finds the shortest signature paths from key FROM to key TO in a key list,\n"
    "counts them, and counts the paths that share no key but FROM and TO.\n"
    "A key is 16 hex digits, a 40-digit fingerprint, or the last 8 digits.\n"
    "  -i, --input FILE     the key list (default preprocess.keys)\n"
    "  -n, --paths N        list up to N shortest paths (default 10)\n"
    "  -k, --disjoint K     count disjoint paths up to K (default 8)\n"
    "  -N, --names FILE     show user ids from a korvalinde-keylist names file\n"
    "      --json           one JSON object per query and line\n"
    "      --dot            the listed paths as a Graphviz digraph\n"
    "      --stats          start-up and per-query times on standard error\n"
    "  -h, --help           print this help\n"
    "  -V, --version        print the version\n";

bool parse_count(const char* text, int32_t low, int32_t high, int32_t& value) {
    const std::optional<uint64_t> n =
        parse_decimal(text, static_cast<uint64_t>(low), static_cast<uint64_t>(high));
    if (!n) return false;
    value = static_cast<int32_t>(*n);
    return true;
}

enum long_only { OPT_JSON = 256, OPT_DOT, OPT_STATS };

} // namespace

std::optional<int> read_path_options(int argc, char** argv, path_settings& settings) {
    static const option long_options[] = {
        {"input", required_argument, nullptr, 'i'},    {"paths", required_argument, nullptr, 'n'},
        {"disjoint", required_argument, nullptr, 'k'}, {"names", required_argument, nullptr, 'N'},
        {"json", no_argument, nullptr, OPT_JSON},      {"dot", no_argument, nullptr, OPT_DOT},
        {"stats", no_argument, nullptr, OPT_STATS},    {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},        {nullptr, 0, nullptr, 0},
    };
    bool json = false;
    bool dot = false;
    optind = 0; // a fresh scan, also when called again
    opterr = 0; // the messages are ours
    int c;
    int word = 1;
    while ((c = getopt_long(argc, argv, "+:i:n:k:N:hV", long_options, nullptr)) != -1) {
        switch (c) {
        case 'i':
            settings.input = optarg;
            break;
        case 'n':
            if (!parse_count(optarg, 0, PATH_LIMIT_MAX, settings.path_limit))
                return bad_value("-n", optarg,
                                 "a number from 0 to " + std::to_string(PATH_LIMIT_MAX));
            break;
        case 'k':
            if (!parse_count(optarg, 1, DISJOINT_LIMIT_MAX, settings.disjoint_limit))
                return bad_value("-k", optarg,
                                 "a number from 1 to " + std::to_string(DISJOINT_LIMIT_MAX));
            break;
        case 'N':
            settings.names_path = optarg;
            break;
        case OPT_JSON:
            json = true;
            break;
        case OPT_DOT:
            dot = true;
            break;
        case OPT_STATS:
            settings.stats = true;
            break;
        case 'h':
            return print_help(USAGE);
        case 'V':
            return print_version();
        default:
            return getopt_error(c, argv, word, long_options);
        }
        word = optind;
    }
    if (json && dot) return usage_error("--json and --dot exclude each other");
    settings.form = json ? output_form::JSON : dot ? output_form::DOT : output_form::TEXT;
    int operands = argc - optind;
    if (operands == 1 && std::string(argv[optind]) == "-") {
        settings.batch = true;
        return std::nullopt;
    }
    if (operands > 2) return usage_error("extra operand '" + std::string(argv[optind + 2]) + "'");
    if (operands != 2) return usage_error("give two keys, FROM and TO, or \"-\"");
    settings.from = argv[optind];
    settings.to = argv[optind + 1];
    return std::nullopt;
}
