#include "serve_options.h"

#include "decimal.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
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

std::optional<int> usage_error() {
    std::fputs("Try 'korvalinde-serve --help'.\n", stderr);
    return 2;
}

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
    optind = 1;
    opterr = 0; // the messages below name the option the korvalinde way
    int c;
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
            if (!parse_listen_address(optarg, settings)) {
                std::fprintf(stderr,
                             "korvalinde-serve: invalid value '%s' for -l (a numeric IPv4 "
                             "address or [IPv6 address], a colon and a port)\n",
                             optarg);
                return usage_error();
            }
            break;
        case 'j': {
            std::optional<uint64_t> n = parse_decimal(optarg, 1, THREADS_MAX);
            if (!n) {
                std::fprintf(
                    stderr, "korvalinde-serve: invalid value '%s' for -j (a number from 1 to %d)\n",
                    optarg, THREADS_MAX);
                return usage_error();
            }
            settings.threads = static_cast<int>(*n);
            break;
        }
        case 'q':
            settings.quiet = true;
            break;
        case 'h':
            std::fputs(USAGE, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case 'V':
            std::printf("korvalinde-serve %s\n", SERVE_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case ':':
            std::fprintf(stderr, "korvalinde-serve: option '%s' needs a value\n", argv[optind - 1]);
            return usage_error();
        default: {
            // The option as written: "--name" without any "=value", or "-x".
            const char* word = argv[optind - 1];
            bool long_form = std::strncmp(word, "--", 2) == 0;
            auto length = static_cast<int>(std::strcspn(word, "="));
            if (long_form && optopt != 0)
                std::fprintf(stderr, "korvalinde-serve: option '%.*s' takes no value\n", length,
                             word);
            else if (long_form)
                std::fprintf(stderr, "korvalinde-serve: unknown option '%.*s'\n", length, word);
            else
                std::fprintf(stderr, "korvalinde-serve: unknown option '-%c'\n", optopt);
            return usage_error();
        }
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "korvalinde-serve: unexpected operand '%s'\n", argv[optind]);
        return usage_error();
    }
    return std::nullopt;
}
