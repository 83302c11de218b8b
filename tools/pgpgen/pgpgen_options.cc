#include "pgpgen_settings.h"

#include "decimal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

struct rate_option {
    const char* name;
    double pgpgen_settings::*field;
};

constexpr rate_option rate_options[] = {
    {"rsa2048", &pgpgen_settings::rsa2048},
    {"rsa4096", &pgpgen_settings::rsa4096},
    {"dsa", &pgpgen_settings::dsa},
    {"ecdsa", &pgpgen_settings::ecdsa},
    {"forged", &pgpgen_settings::forged},
    {"forged-revocations", &pgpgen_settings::forged_revocations},
    {"outsiders", &pgpgen_settings::outsiders},
    {"revoked-keys", &pgpgen_settings::revoked_keys},
    {"revoked-certs", &pgpgen_settings::revoked_certs},
    {"expired-keys", &pgpgen_settings::expired_keys},
    {"expired-sigs", &pgpgen_settings::expired_sigs},
    {"subkeys", &pgpgen_settings::subkeys},
    {"user-attributes", &pgpgen_settings::user_attributes},
    {"second-uids", &pgpgen_settings::second_uids},
    {"unknown-algorithms", &pgpgen_settings::unknown_algorithms},
    {"md5", &pgpgen_settings::md5},
    {"fingerprint-only", &pgpgen_settings::fingerprint_only},
    {"junk", &pgpgen_settings::junk},
    {"split", &pgpgen_settings::split},
};
constexpr int rate_base = 512;

enum long_only_option {
    OPT_ARMOR = 256,
    OPT_EXPECT,
    OPT_EXPECT_NAMES,
    OPT_MANIFEST,
    OPT_KEY_POOL,
    OPT_MAKE_KEY_POOL,
    OPT_FILES,
    OPT_NO_NOISE,
    OPT_ED25519_ONLY,
    OPT_RECIPROCAL,
    OPT_TAIL_FRACTION,
    OPT_ISLAND_FRACTION,
    OPT_MAX_CHAIN,
};

bool parse_unsigned(const char* text, uint64_t low, uint64_t high, uint64_t& value) {
    const std::optional<uint64_t> v = parse_decimal(text, low, high);
    if (!v) return false;
    value = *v;
    return true;
}

bool parse_number(const char* text, double low, double high, double& value) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= low && v <= high)) return false;
    value = v;
    return true;
}

} // namespace

const char* pgpgen_usage() {
    return "usage: pgpgen [options]\n"
           "Writes a keyserver-like dump of real OpenPGP keys and signatures, and the\n"
           "key list korvalinde-keylist should make of it.\n"
           "  -n, --keys N        keys in the dump (default 1000)\n"
           "  -m, --mean X        certifications per key (default 5.6)\n"
           "  -s, --seed N        seed (default 1)\n"
           "  -o, --output PATH   the dump file (default standard output); a PATH that\n"
           "                      ends in / or is a directory gets --files files\n"
           "  --files N           files in an output directory (default 4)\n"
           "  --armor             ASCII-armored output\n"
           "  --expect FILE       write the expected key list\n"
           "  --expect-names FILE write the expected names file\n"
           "  --manifest FILE     write every signature with what it is meant to be\n"
           "  -j, --threads N     threads (default the online processors)\n"
           "  --key-pool FILE     private keys for RSA, DSA and ECDSA shares\n"
           "  --make-key-pool FILE  write a fresh key pool and stop\n"
           "  --ed25519-only      every key Ed25519 (the whole dump is then byte-identical per "
           "seed)\n"
           "  --no-noise          every noise rate 0\n"
           "  --reciprocal X, --tail-fraction X, --island-fraction X, --max-chain N:\n"
           "                      the graph's shape, as in keygen\n"
           "Shares and noise rates (probability per key, 0 to 1):\n"
           "  --rsa2048 --rsa4096 --dsa --ecdsa --forged --forged-revocations\n"
           "  --outsiders --revoked-keys --revoked-certs --expired-keys --expired-sigs\n"
           "  --subkeys --user-attributes --second-uids --unknown-algorithms --md5\n"
           "  --fingerprint-only --junk --split\n";
}

bool parse_pgpgen_options(int argc, char** argv, pgpgen_settings& settings, std::string& error) {
    std::vector<option> options = {
        {"help", no_argument, nullptr, 'h'},
        {"keys", required_argument, nullptr, 'n'},
        {"mean", required_argument, nullptr, 'm'},
        {"seed", required_argument, nullptr, 's'},
        {"output", required_argument, nullptr, 'o'},
        {"threads", required_argument, nullptr, 'j'},
        {"files", required_argument, nullptr, OPT_FILES},
        {"armor", no_argument, nullptr, OPT_ARMOR},
        {"expect", required_argument, nullptr, OPT_EXPECT},
        {"expect-names", required_argument, nullptr, OPT_EXPECT_NAMES},
        {"manifest", required_argument, nullptr, OPT_MANIFEST},
        {"key-pool", required_argument, nullptr, OPT_KEY_POOL},
        {"make-key-pool", required_argument, nullptr, OPT_MAKE_KEY_POOL},
        {"no-noise", no_argument, nullptr, OPT_NO_NOISE},
        {"ed25519-only", no_argument, nullptr, OPT_ED25519_ONLY},
        {"reciprocal", required_argument, nullptr, OPT_RECIPROCAL},
        {"tail-fraction", required_argument, nullptr, OPT_TAIL_FRACTION},
        {"island-fraction", required_argument, nullptr, OPT_ISLAND_FRACTION},
        {"max-chain", required_argument, nullptr, OPT_MAX_CHAIN},
    };
    for (size_t i = 0; i < std::size(rate_options); ++i)
        options.push_back(
            {rate_options[i].name, required_argument, nullptr, rate_base + static_cast<int>(i)});
    options.push_back({nullptr, 0, nullptr, 0});

    optind = 1;
    opterr = 0;
    int c;
    uint64_t value = 0;
    while ((c = getopt_long(argc, argv, ":hn:m:s:o:j:", options.data(), nullptr)) != -1) {
        const std::string name = optopt != 0 && c == '?'
                                     ? std::string("-") + static_cast<char>(optopt)
                                     : argv[optind - 1];
        bool ok = true;
        switch (c) {
        case 'h':
            settings.help = true;
            break;
        case 'n':
            ok = parse_unsigned(optarg, 1, 1ULL << 28, value);
            settings.graph.key_count = value;
            break;
        case 'm':
            ok = parse_number(optarg, 0, 1000, settings.graph.mean_signatures);
            break;
        case 's':
            ok = parse_unsigned(optarg, 0, UINT64_MAX, settings.graph.seed);
            break;
        case 'o':
            settings.output_path = optarg;
            settings.output_is_directory =
                !settings.output_path.empty() && settings.output_path.back() == '/';
            break;
        case 'j':
            ok = parse_unsigned(optarg, 1, 256, value);
            settings.threads = static_cast<unsigned>(value);
            break;
        case OPT_FILES:
            ok = parse_unsigned(optarg, 1, 100000, value);
            settings.files = static_cast<unsigned>(value);
            break;
        case OPT_ARMOR:
            settings.armor = true;
            break;
        case OPT_EXPECT:
            settings.expect_path = optarg;
            break;
        case OPT_EXPECT_NAMES:
            settings.expect_names_path = optarg;
            break;
        case OPT_MANIFEST:
            settings.manifest_path = optarg;
            break;
        case OPT_KEY_POOL:
            settings.key_pool_path = optarg;
            break;
        case OPT_MAKE_KEY_POOL:
            settings.make_key_pool = optarg;
            break;
        case OPT_NO_NOISE:
            for (size_t i = 4; i < std::size(rate_options); ++i)
                settings.*rate_options[i].field = 0;
            break;
        case OPT_ED25519_ONLY:
            for (size_t i = 0; i < 4; ++i)
                settings.*rate_options[i].field = 0;
            break;
        case OPT_RECIPROCAL:
            ok = parse_number(optarg, 0, 1, settings.graph.reciprocal);
            break;
        case OPT_TAIL_FRACTION:
            ok = parse_number(optarg, 0, 1, settings.graph.tail_fraction);
            break;
        case OPT_ISLAND_FRACTION:
            ok = parse_number(optarg, 0, 1, settings.graph.island_fraction);
            break;
        case OPT_MAX_CHAIN:
            ok = parse_unsigned(optarg, 1, 1000000, value);
            settings.graph.max_chain = static_cast<uint32_t>(value);
            break;
        case ':':
            error = name + " needs a value";
            return false;
        case '?':
            error = "unknown option " + name;
            return false;
        default:
            ok = parse_number(optarg, 0, 1, settings.*rate_options[c - rate_base].field);
            break;
        }
        if (!ok) {
            error = "invalid value for " + name + ": " + optarg;
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument ") + argv[optind];
        return false;
    }
    if (settings.rsa2048 + settings.rsa4096 + settings.dsa + settings.ecdsa > 1) {
        error = "the algorithm shares add up to more than 1";
        return false;
    }
    // An existing directory is one without the trailing slash too.
    struct stat status {};
    if (!settings.output_is_directory && !settings.output_path.empty() &&
        stat(settings.output_path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        settings.output_is_directory = true;
        settings.output_path += '/';
    }
    if (!settings.output_is_directory) settings.files = 1;
    if (settings.threads == 0) {
        const unsigned online = std::thread::hardware_concurrency();
        settings.threads = online == 0 ? 1 : online;
    }
    return true;
}
