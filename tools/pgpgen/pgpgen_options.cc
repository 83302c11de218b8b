#include "pgpgen_settings.h"

#include "decimal.h"
#include "graph_shape_options.h"
#include "program_messages.h"

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
    OPT_NEW_CERTIFICATIONS,
};

// A whole-number option of pgpgen's own.
bool parse_count(const std::string& written, const char* text, uint64_t low, uint64_t high,
                 unsigned& value, std::string& error) {
    const std::optional<uint64_t> v = parse_decimal(text, low, high);
    if (v) {
        value = static_cast<unsigned>(*v);
        return true;
    }
    error = invalid_value_text(written, text,
                               "a whole number from " + std::to_string(low) + " to " +
                                   std::to_string(high));
    return false;
}

// The options of pgpgen's own, after the shared ones; false with error set
// for a bad value.
bool apply_pgpgen_option(int c, const std::string& written, pgpgen_settings& settings,
                         std::string& error) {
    switch (c) {
    case 'h':
        settings.help = true;
        break;
    case 'V':
        settings.version = true;
        break;
    case 'o':
        settings.output_path = optarg;
        settings.output_is_directory =
            !settings.output_path.empty() && settings.output_path.back() == '/';
        break;
    case 'j':
        return parse_count(written, optarg, 1, 256, settings.threads, error);
    case OPT_FILES:
        return parse_count(written, optarg, 1, 100000, settings.files, error);
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
    case OPT_NEW_CERTIFICATIONS:
        return parse_probability(written, optarg, settings.new_certifications, error);
    default:
        return parse_probability(written, optarg, settings.*rate_options[c - rate_base].field,
                                 error);
    }
    return true;
}

// What is decided once every option is read.
bool finish_pgpgen_options(pgpgen_settings& settings, std::string& error) {
    if (!check_graph_shape(settings.graph, error)) return false;
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

} // namespace

const char* pgpgen_usage() {
    return "usage: pgpgen [-hV] [options]\n"
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
           "  --new-certifications X  the same dump a day later: per key, the chance\n"
           "                      of one certification more (0 to 1; default 0)\n"
           "  -h, --help          print this help\n"
           "  -V, --version       print the version\n"
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
        {"version", no_argument, nullptr, 'V'},
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
        {"new-certifications", required_argument, nullptr, OPT_NEW_CERTIFICATIONS},
    };
    std::string short_options = "+:hVo:j:";
    add_graph_shape_options(options, short_options);
    for (size_t i = 0; i < std::size(rate_options); ++i)
        options.push_back(
            {rate_options[i].name, required_argument, nullptr, rate_base + static_cast<int>(i)});
    options.push_back({nullptr, 0, nullptr, 0});

    optind = 0; // a fresh scan, also when called again
    opterr = 0;
    int word = 1;
    int c;
    while ((c = getopt_long(argc, argv, short_options.c_str(), options.data(), nullptr)) != -1) {
        if (c == '?' || c == ':') {
            error = getopt_error_text(c, argv, word, options.data());
            return false;
        }
        const std::string written = option_as_written(argv, word, c);
        const option_outcome shared =
            apply_graph_shape_option(c, optarg, written, settings.graph, error);
        if (shared == option_outcome::bad_value) return false;
        if (shared == option_outcome::not_shared &&
            !apply_pgpgen_option(c, written, settings, error))
            return false;
        word = optind;
    }
    if (optind < argc) {
        error = "extra operand '" + std::string(argv[optind]) + "'";
        return false;
    }
    return finish_pgpgen_options(settings, error);
}
