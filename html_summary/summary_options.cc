#include "summary_options.h"

#include "decimal.h"
#include "program_messages.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

const char USAGE[] = "Usage: korvalinde-html [-hVd] [-n count] [-m count] [-i keys] [-N names]\n"
                     "       [-s summary] [-o file] [-t title] [dir]\n"
                     "Writes an HTML page summarising a korvalinde output directory (default\n"
                     "output/) into dir/index.html, a page per analysed key into keys/ and\n"
                     "the search index into index/ beside it.\n"
                     "  -n, --limit count   rank the first count keys (default 1000; 0: all)\n"
                     "  -m, --max-pages count  write at most count key pages, the best ranked\n"
                     "                      (default 0: a page for every analysed key)\n"
                     "  -i, --keys file     show who certified whom, from the analysed key list\n"
                     "  -s, --summary file  show the inputs from korvalinde-keylist --summary\n"
                     "  -N, --names file    show the user ids of a names file beside key ids\n"
                     "  -o, --output file   write the page to file instead\n"
                     "  -t, --title title   the page's title (default \"korvalinde results\")\n"
                     "  -d, --date          show when the page was made (the page then differs\n"
                     "                      between runs)\n"
                     "  -h, --help          show this help\n"
                     "  -V, --version       print the version\n";

bool parse_limit(const char* text, size_t& limit) {
    const std::optional<uint64_t> n = parse_decimal(text, 0, MAX_RANKING_LIMIT);
    if (!n) return false;
    limit = static_cast<size_t>(*n);
    return true;
}

} // namespace

std::optional<int> read_summary_options(int argc, char** argv, summary_settings& settings) {
    static const option long_options[] = {
        {"date", no_argument, nullptr, 'd'},
        {"help", no_argument, nullptr, 'h'},
        {"keys", required_argument, nullptr, 'i'},
        {"max-pages", required_argument, nullptr, 'm'},
        {"summary", required_argument, nullptr, 's'},
        {"limit", required_argument, nullptr, 'n'},
        {"names", required_argument, nullptr, 'N'},
        {"output", required_argument, nullptr, 'o'},
        {"title", required_argument, nullptr, 't'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0; // parse from the start, also when called again (tests)
    opterr = 0; // the messages are ours
    int c;
    int word = 1;
    // "+" keeps glibc from permuting: parsing stops at the first operand.
    while ((c = getopt_long(argc, argv, "+:dhVi:m:n:N:o:s:t:", long_options, nullptr)) != -1) {
        switch (c) {
        case 'd':
            settings.show_date = true;
            break;
        case 'h':
            return print_help(USAGE);
        case 'V':
            return print_version();
        case 'n':
            if (!parse_limit(optarg, settings.ranking_limit))
                return bad_value("-n", optarg,
                                 "a number of keys from 0 to " + std::to_string(MAX_RANKING_LIMIT));
            break;
        case 'i':
            if (*optarg == '\0') return bad_value("-i", optarg, "a file name");
            settings.keys_path = optarg;
            break;
        case 'm':
            if (!parse_limit(optarg, settings.max_pages))
                return bad_value("-m", optarg,
                                 "a number of pages from 0 to " +
                                     std::to_string(MAX_RANKING_LIMIT));
            break;
        case 's':
            if (*optarg == '\0') return bad_value("-s", optarg, "a file name");
            settings.inputs_path = optarg;
            break;
        case 'N':
            if (*optarg == '\0') return bad_value("-N", optarg, "a file name");
            settings.names_path = optarg;
            break;
        case 'o':
            if (*optarg == '\0') return bad_value("-o", optarg, "a file name");
            settings.page_path = optarg;
            break;
        case 't':
            settings.title = optarg;
            break;
        default:
            return getopt_error(c, argv, word, long_options);
        }
        word = optind;
    }
    if (optind < argc) {
        std::string dir = argv[optind];
        if (dir.empty()) return usage_error("the directory operand is empty");
        if (dir.back() != '/') dir += '/';
        settings.dir = dir;
        if (optind + 1 < argc)
            return usage_error("extra operand '" + std::string(argv[optind + 1]) + "'");
    }
    if (settings.page_path.empty()) settings.page_path = settings.dir + "index.html";
    return std::nullopt;
}
