#include "serve_options.h"

#include "decimal.h"
#include "program_messages.h"

#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>

namespace {

const char* const USAGE =
    "Usage: korvalinde-serve [options]\n"
    "Answers korvalinde-path's queries and shows korvalinde-html's reports over HTTP.\n"
    "  -i, --input FILE       the key list (default preprocess.keys)\n"
    "  -N, --names FILE       user ids from a korvalinde-keylist names file\n"
    "  -r, --reports DIR      korvalinde-html's output directory, served under /reports/\n"
    "  -l, --listen ADDR:PORT where to listen (default 127.0.0.1:8080; [::1]:PORT for IPv6;\n"
    "                         port 0 picks a free one)\n"
    "  -j, --threads N        worker threads (default: the online processors)\n"
    "  -q, --quiet            no request log on standard error\n"
    "  -h, --help             print this help\n"
    "  -V, --version          print the version\n"
    "SIGHUP reloads the files; SIGTERM and SIGINT end the server.\n";

constexpr int THREADS_MAX = 1024;

} // namespace

bool parse_listen_address(const std::string& text, serve_settings& settings) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    std::optional<uint64_t> port =
        parse_decimal(std::string_view(text).substr(colon + 1), 0, 65535);
    if (!port) return false;
    unsigned char buffer[sizeof(in6_addr)];
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (inet_pton(AF_INET6, host.c_str(), buffer) != 1) return false;
    } else if (inet_pton(AF_INET, host.c_str(), buffer) != 1) {
        return false;
    }
    settings.address = host;
    settings.port = static_cast<uint16_t>(*port);
    return true;
}

std::optional<int> read_serve_options(int argc, char** argv, serve_settings& settings) {
    static const option long_options[] = {
        {"input", required_argument, nullptr, 'i'},
        {"names", required_argument, nullptr, 'N'},
        {"reports", required_argument, nullptr, 'r'},
        {"listen", required_argument, nullptr, 'l'},
        {"threads", required_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0; // a fresh scan, also when called again
    opterr = 0; // the messages are ours
    int c;
    int word = 1;
    while ((c = getopt_long(argc, argv, "+:i:N:r:l:j:qhV", long_options, nullptr)) != -1) {
        switch (c) {
        case 'i':
            settings.input = optarg;
            break;
        case 'N':
            settings.names_path = optarg;
            break;
        case 'r':
            settings.report_dir = optarg;
            break;
        case 'l':
            if (!parse_listen_address(optarg, settings))
                return bad_value("-l", optarg,
                                 "a numeric IPv4 address or [IPv6 address], a colon and a port");
            break;
        case 'j': {
            std::optional<uint64_t> n = parse_decimal(optarg, 1, THREADS_MAX);
            if (!n) return bad_value("-j", optarg, "a number from 1 to 1024");
            settings.threads = static_cast<int>(*n);
            break;
        }
        case 'q':
            settings.quiet = true;
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
    if (optind < argc) return usage_error("extra operand '" + std::string(argv[optind]) + "'");
    return std::nullopt;
}
