#include "summary_options.h"

#include "decimal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

void print_usage(FILE* stream, const char* program) {
    std::fprintf(stream,
                 "Usage: %s [-hd] [-n count] [-m count] [-i keys] [-N names] [-s summary]\n"
                 "       [-o file] [-t title] [dir]\n"
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
                 "  -h, --help          show this help\n",
                 program);
}

bool take_path(const char* option, const char* text, std::string& path) {
    if (*text == '\0') {
        std::fprintf(stderr, "korvalinde-html: the file given with %s is empty\n", option);
        return false;
    }
    path = text;
    return true;
}

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
        {"limit", required_argument, nullptr, 'n'},
        {"max-pages", required_argument, nullptr, 'm'},
        {"names", required_argument, nullptr, 'N'},
        {"output", required_argument, nullptr, 'o'},
        {"summary", required_argument, nullptr, 's'},
        {"title", required_argument, nullptr, 't'},
        {nullptr, 0, nullptr, 0},
    };
    const char* program = argc > 0 ? argv[0] : "korvalinde-html";
    optind = 1; // parse from the start, also when called again (tests)
    int c;
    // "+" keeps glibc from permuting: parsing stops at the first operand.
    while ((c = getopt_long(argc, argv, "+dhi:m:n:N:o:s:t:", long_options, nullptr)) != -1) {
        switch (c) {
        case 'd':
            settings.show_date = true;
            break;
        case 'h':
            print_usage(stdout, program);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case 'n':
            if (!parse_limit(optarg, settings.ranking_limit)) {
                std::fprintf(stderr,
                             "korvalinde-html: -n needs a number of keys from 0 to %zu, not "
                             "\"%s\"\n",
                             MAX_RANKING_LIMIT, optarg);
                return 1;
            }
            break;
        case 'i':
            if (!take_path("-i", optarg, settings.keys_path)) return 1;
            break;
        case 'm':
            if (!parse_limit(optarg, settings.max_pages)) {
                std::fprintf(stderr,
                             "korvalinde-html: -m needs a number of pages from 0 to %zu, not "
                             "\"%s\"\n",
                             MAX_RANKING_LIMIT, optarg);
                return 1;
            }
            break;
        case 'N':
            if (!take_path("-N", optarg, settings.names_path)) return 1;
            break;
        case 's':
            if (!take_path("-s", optarg, settings.inputs_path)) return 1;
            break;
        case 'o':
            if (*optarg == '\0') {
                std::fprintf(stderr, "korvalinde-html: the file given with -o is empty\n");
                return 1;
            }
            settings.page_path = optarg;
            break;
        case 't':
            settings.title = optarg;
            break;
        default:
            // getopt_long has reported the option in its own words.
            print_usage(stderr, program);
            return 1;
        }
    }
    if (optind < argc) {
        std::string dir = argv[optind];
        if (dir.empty()) {
            std::fprintf(stderr, "korvalinde-html: the directory operand is empty\n");
            return 1;
        }
        if (dir.back() != '/') dir += '/';
        settings.dir = dir;
        if (optind + 1 < argc) {
            std::fprintf(stderr, "korvalinde-html: one directory only, not also \"%s\"\n",
                         argv[optind + 1]);
            print_usage(stderr, program);
            return 1;
        }
    }
    if (settings.page_path.empty()) settings.page_path = settings.dir + "index.html";
    return std::nullopt;
}
