#include "keygen_settings.h"

#include "decimal.h"

#include <cerrno>
#include <cstdlib>
#include <getopt.h>

namespace {

enum long_only_option {
    OPT_RECIPROCAL = 256,
    OPT_TAIL_FRACTION,
    OPT_ISLAND_FRACTION,
    OPT_MAX_CHAIN,
    OPT_DUP_KEYS,
    OPT_DUP_SIGS,
    OPT_SELF_SIGS,
    OPT_UNKNOWN_SIGNERS,
    OPT_LOWER_CASE,
    OPT_LOW_COLLISIONS,
    OPT_BAD_RECORDS,
};

const option long_options[] = {
    {"help", no_argument, nullptr, 'h'},
    {"seed", required_argument, nullptr, 's'},
    {"keys", required_argument, nullptr, 'n'},
    {"mean", required_argument, nullptr, 'm'},
    {"output", required_argument, nullptr, 'o'},
    {"reciprocal", required_argument, nullptr, OPT_RECIPROCAL},
    {"tail-fraction", required_argument, nullptr, OPT_TAIL_FRACTION},
    {"island-fraction", required_argument, nullptr, OPT_ISLAND_FRACTION},
    {"max-chain", required_argument, nullptr, OPT_MAX_CHAIN},
    {"dup-keys", required_argument, nullptr, OPT_DUP_KEYS},
    {"dup-sigs", required_argument, nullptr, OPT_DUP_SIGS},
    {"self-sigs", required_argument, nullptr, OPT_SELF_SIGS},
    {"unknown-signers", required_argument, nullptr, OPT_UNKNOWN_SIGNERS},
    {"lower-case", required_argument, nullptr, OPT_LOWER_CASE},
    {"low-collisions", required_argument, nullptr, OPT_LOW_COLLISIONS},
    {"bad-records", required_argument, nullptr, OPT_BAD_RECORDS},
    {nullptr, 0, nullptr, 0},
};

// Key indexes are 32-bit in the generator; keep a margin for the extra ids
// used by the noise options.
constexpr std::uint64_t max_keys = 1ULL << 31;

bool parse_unsigned(const char* text, std::uint64_t& value, std::uint64_t min = 0,
                    std::uint64_t max = UINT64_MAX) {
    const std::optional<std::uint64_t> v = parse_decimal(text, min, max);
    if (!v) return false;
    value = *v;
    return true;
}

bool parse_number(const char* text, double low, double high, double& value) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(v >= low && v <= high)) return false;
    value = v;
    return true;
}

// The option as a user would write it, for messages.
std::string option_name(int c) {
    for (const option* o = long_options; o->name != nullptr; ++o)
        if (o->val == c)
            return c < 256 ? std::string("-") + static_cast<char>(c) : std::string("--") + o->name;
    return "?";
}

} // namespace

const char* keygen_usage() {
    return "usage: keygen [-h] [-s SEED] [-n KEYS] [-m MEAN] [-o FILE] [shape and noise options]\n"
           "Writes a deterministic key list shaped like an OpenPGP signature graph:\n"
           "18-byte records, a \"p\" line per key followed by one \"s\" line per signer.\n"
           "  -s, --seed SEED           seed of the pseudo-random generator (default 1)\n"
           "  -n, --keys KEYS           number of keys (default 1000)\n"
           "  -m, --mean MEAN           signatures per key on average (default 5.6); the strong\n"
           "                            set and tails need about 1.5, tiny lists allow fewer\n"
           "  -o, --output FILE         write to FILE instead of standard output\n"
           "  -h, --help                print this summary\n"
           "Shape:\n"
           "      --reciprocal P        chance that a signature is returned (default 0.5)\n"
           "      --tail-fraction F     keys in chains and trees below the strong set (0.40)\n"
           "      --island-fraction F   keys the strong set cannot reach (0.25)\n"
           "      --max-chain L         length of the longest chain of single signatures (12)\n"
           "Noise (probabilities, default 0):\n"
           "      --dup-keys P          a key's \"p\" record appears a second time\n"
           "      --dup-sigs P          an \"s\" record is written twice\n"
           "      --self-sigs P         a key carries a signature by itself\n"
           "      --unknown-signers P   a key carries a signature by a key with no \"p\" record\n"
           "      --lower-case P        a record's id is written in lower-case hex\n"
           "      --low-collisions P    a key's id_low equals another key's id_low\n"
           "      --bad-records P       a record is followed by one the reader must skip\n";
}

bool parse_keygen_options(int argc, char** argv, keygen_settings& settings, std::string& error) {
    // "+" stops at the first operand as POSIX getopt does; ":" lets us word
    // the messages ourselves.
    optind = 0; // a fresh scan, also when called again
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, "+:hs:n:m:o:", long_options, nullptr)) != -1) {
        const char* arg = optarg;
        bool ok = true;
        std::uint64_t whole = 0;
        switch (c) {
        case 'h':
            settings.help = true;
            break;
        case 's':
            ok = parse_unsigned(arg, settings.seed);
            break;
        case 'n':
            ok = parse_unsigned(arg, whole, 0, max_keys - 1);
            settings.key_count = whole;
            break;
        case 'm':
            ok = parse_number(arg, 0.0, 1e6, settings.mean_signatures);
            break;
        case 'o':
            ok = *arg != '\0';
            settings.output_path = arg;
            break;
        case OPT_RECIPROCAL:
            ok = parse_number(arg, 0, 1, settings.reciprocal);
            break;
        case OPT_TAIL_FRACTION:
            ok = parse_number(arg, 0, 1, settings.tail_fraction);
            break;
        case OPT_ISLAND_FRACTION:
            ok = parse_number(arg, 0, 1, settings.island_fraction);
            break;
        case OPT_MAX_CHAIN:
            ok = parse_unsigned(arg, whole, 1, max_keys - 1);
            settings.max_chain = static_cast<std::uint32_t>(whole);
            break;
        case OPT_DUP_KEYS:
            ok = parse_number(arg, 0, 1, settings.dup_keys);
            break;
        case OPT_DUP_SIGS:
            ok = parse_number(arg, 0, 1, settings.dup_sigs);
            break;
        case OPT_SELF_SIGS:
            ok = parse_number(arg, 0, 1, settings.self_sigs);
            break;
        case OPT_UNKNOWN_SIGNERS:
            ok = parse_number(arg, 0, 1, settings.unknown_signers);
            break;
        case OPT_LOWER_CASE:
            ok = parse_number(arg, 0, 1, settings.lower_case);
            break;
        case OPT_LOW_COLLISIONS:
            ok = parse_number(arg, 0, 1, settings.low_collisions);
            break;
        case OPT_BAD_RECORDS:
            ok = parse_number(arg, 0, 1, settings.bad_records);
            break;
        case ':':
            error = std::string("option ") + argv[optind - 1] + " needs a value";
            return false;
        default:
            error = std::string("unknown option ") + argv[optind - 1];
            return false;
        }
        if (!ok) {
            error = std::string("bad value \"") + arg + "\" for " + option_name(c);
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument ") + argv[optind];
        return false;
    }
    if (settings.tail_fraction + settings.island_fraction > 1.0) {
        error = "--tail-fraction and --island-fraction add up to more than 1";
        return false;
    }
    return true;
}
