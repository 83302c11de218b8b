#include "keygen_settings.h"

#include "graph_shape_options.h"
#include "program_messages.h"

#include <getopt.h>
#include <iterator>
#include <vector>

namespace {

// keygen's noise: probabilities per key or per record.
struct noise_option {
    const char* name;
    double keygen_settings::*field;
};

constexpr noise_option noise_options[] = {
    {"dup-keys", &keygen_settings::dup_keys},
    {"dup-sigs", &keygen_settings::dup_sigs},
    {"self-sigs", &keygen_settings::self_sigs},
    {"unknown-signers", &keygen_settings::unknown_signers},
    {"lower-case", &keygen_settings::lower_case},
    {"low-collisions", &keygen_settings::low_collisions},
    {"bad-records", &keygen_settings::bad_records},
};
constexpr int NOISE_BASE = 512;

} // namespace

const char* keygen_usage() {
    return "usage: keygen [-hV] [-s SEED] [-n KEYS] [-m MEAN] [-o FILE] [shape and noise options]\n"
           "Writes a deterministic key list shaped like an OpenPGP signature graph:\n"
           "18-byte records, a \"p\" line per key followed by one \"s\" line per signer.\n"
           "  -s, --seed SEED           seed of the pseudo-random generator (default 1)\n"
           "  -n, --keys KEYS           number of keys (default 1000)\n"
           "  -m, --mean MEAN           signatures per key on average (default 5.6); the strong\n"
           "                            set and tails need about 1.5, tiny lists allow fewer\n"
           "  -o, --output FILE         write to FILE instead of standard output\n"
           "  -h, --help                print this summary\n"
           "  -V, --version             print the version\n"
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
    std::vector<option> options = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {"output", required_argument, nullptr, 'o'},
    };
    // "+" stops at the first operand as POSIX getopt does; ":" lets us word
    // the messages ourselves.
    std::string short_options = "+:hVo:";
    add_graph_shape_options(options, short_options);
    for (size_t i = 0; i < std::size(noise_options); ++i)
        options.push_back(
            {noise_options[i].name, required_argument, nullptr, NOISE_BASE + static_cast<int>(i)});
    options.push_back({nullptr, 0, nullptr, 0});

    optind = 0; // a fresh scan, also when called again
    opterr = 0;
    int word = 1;
    int c;
    while ((c = getopt_long(argc, argv, short_options.c_str(), options.data(), nullptr)) != -1) {
        const std::string written =
            c == '?' || c == ':' ? std::string() : option_as_written(argv, word, c);
        switch (apply_graph_shape_option(c, optarg, written, settings, error)) {
        case option_outcome::applied:
            word = optind;
            continue;
        case option_outcome::bad_value:
            return false;
        case option_outcome::not_shared:
            break;
        }
        switch (c) {
        case 'h':
            settings.help = true;
            break;
        case 'V':
            settings.version = true;
            break;
        case 'o':
            if (*optarg == '\0') {
                error = invalid_value_text("-o", optarg, "a file name");
                return false;
            }
            settings.output_path = optarg;
            break;
        case ':':
        case '?':
            error = getopt_error_text(c, argv, word, options.data());
            return false;
        default: {
            const noise_option& noise = noise_options[c - NOISE_BASE];
            if (!parse_probability(written, optarg, settings.*noise.field, error)) return false;
            break;
        }
        }
        word = optind;
    }
    if (optind < argc) {
        error = "extra operand '" + std::string(argv[optind]) + "'";
        return false;
    }
    return check_graph_shape(settings, error);
}
