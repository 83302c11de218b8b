// shapegen: writes key lists whose signature graphs have a simple, extreme
// shape, for timing and checking korvalinde where realistic lists do not
// reach: deep graphs (rings, chains, grids, a long tail) and a star whose
// reports are large.
//
//   shapegen ring N          key i signed by key i - 1 (and key 0 by N - 1)
//   shapegen chain N         keys i and i + 1 sign each other
//   shapegen grid W H        a W x H grid, neighbours sign each other
//   shapegen tail CORE N     CORE keys that all sign each other, and a chain
//                            of N keys off one of them (as in chain)
//   shapegen star K L        a hub and K keys that sign each other with it,
//                            and L keys signed by the hub only
//
// Every key is in the strong set except the star's L keys. The list goes to
// standard output. Key ids are fixed functions of the key number, so the
// same arguments give the same bytes.
#include "decimal.h"
#include "key_list_format.h"
#include "program_messages.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <new>
#include <string>
#include <vector>

namespace {

const char USAGE[] = "usage: shapegen [-hV] ring N | chain N | grid W H | tail CORE N | star K L\n"
                     "Writes a key list of an extreme shape on standard output:\n"
                     "  ring N       key i signed by key i - 1 (and key 0 by N - 1)\n"
                     "  chain N      keys i and i + 1 sign each other\n"
                     "  grid W H     a W x H grid, neighbours sign each other\n"
                     "  tail CORE N  CORE keys that all sign each other, and a chain of N\n"
                     "               keys off one of them\n"
                     "  star K L     a hub and K keys that sign each other with it, and L\n"
                     "               keys signed by the hub only\n"
                     "  -h, --help     print this help\n"
                     "  -V, --version  print the version\n";

constexpr uint32_t MAX_SHAPE_KEYS = 50'000'000;

struct shape_kind {
    const char* name;
    size_t numbers;
};
constexpr shape_kind shape_kinds[] = {
    {"ring", 1}, {"chain", 1}, {"grid", 2}, {"tail", 2}, {"star", 2},
};

struct shape {
    // signers[k]: the keys that signed key k.
    std::vector<std::vector<uint32_t>> signers;
    void sign(uint32_t signer, uint32_t key) { signers[key].push_back(signer); }
    void sign_both(uint32_t a, uint32_t b) {
        sign(a, b);
        sign(b, a);
    }
};

// A well-mixed 64-bit id for key number k (never 0).
uint64_t key_id(uint64_t k) {
    uint64_t z = (k + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return (z ^ (z >> 31)) | 1;
}

bool build(const std::string& kind, const std::vector<uint32_t>& n, shape& s) {
    auto keys = [&](uint64_t count) {
        if (count == 0 || count > MAX_SHAPE_KEYS) return false;
        s.signers.resize(count);
        return true;
    };
    if (kind == "ring" && n.size() == 1) {
        if (!keys(n[0])) return false;
        for (uint32_t i = 0; i < n[0]; ++i)
            s.sign(i == 0 ? n[0] - 1 : i - 1, i);
    } else if (kind == "chain" && n.size() == 1) {
        if (!keys(n[0])) return false;
        for (uint32_t i = 0; i + 1 < n[0]; ++i)
            s.sign_both(i, i + 1);
    } else if (kind == "grid" && n.size() == 2) {
        if (!keys(uint64_t{n[0]} * n[1])) return false;
        for (uint32_t y = 0; y < n[1]; ++y)
            for (uint32_t x = 0; x < n[0]; ++x) {
                uint32_t k = y * n[0] + x;
                if (x + 1 < n[0]) s.sign_both(k, k + 1);
                if (y + 1 < n[1]) s.sign_both(k, k + n[0]);
            }
    } else if (kind == "tail" && n.size() == 2) {
        if (n[0] == 0 || !keys(uint64_t{n[0]} + n[1])) return false;
        for (uint32_t i = 0; i < n[0]; ++i)
            for (uint32_t j = i + 1; j < n[0]; ++j)
                s.sign_both(i, j);
        for (uint32_t i = n[0]; i < n[0] + n[1]; ++i)
            s.sign_both(i - 1, i);
    } else if (kind == "star" && n.size() == 2) {
        if (!keys(uint64_t{1} + n[0] + n[1])) return false;
        for (uint32_t i = 1; i <= n[0]; ++i)
            s.sign_both(0, i);
        for (uint32_t i = n[0] + 1; i <= n[0] + n[1]; ++i)
            s.sign(0, i);
    } else {
        return false;
    }
    return true;
}

void put_record(std::string& out, char type, uint64_t id) {
    char record[RECORD_SIZE];
    put_key_list_record(record, type, id);
    out.append(record, RECORD_SIZE);
}

// Reads the command line into kind and numbers; the exit status when the
// program is to end now.
std::optional<int> read_shape_options(int argc, char** argv, std::string& kind,
                                      std::vector<uint32_t>& numbers) {
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0; // the messages are ours
    int word = 1;
    int c;
    while ((c = getopt_long(argc, argv, "+:hV", long_options, nullptr)) != -1) {
        if (c == 'h') return print_help(USAGE);
        if (c == 'V') return print_version();
        return getopt_error(c, argv, word, long_options);
    }
    if (optind >= argc) return usage_error("no shape given");
    kind = argv[optind];
    const shape_kind* found = nullptr;
    for (const shape_kind& k : shape_kinds)
        if (kind == k.name) found = &k;
    if (found == nullptr) return usage_error("unknown shape '" + kind + "'");
    const int first = optind + 1;
    if (static_cast<size_t>(argc - first) < found->numbers)
        return usage_error(kind + " needs " + std::to_string(found->numbers) + " numbers");
    if (static_cast<size_t>(argc - first) > found->numbers)
        return usage_error("extra operand '" + std::string(argv[first + found->numbers]) + "'");
    for (int i = first; i < argc; ++i) {
        const std::optional<uint64_t> n = parse_decimal(argv[i], 0, MAX_SHAPE_KEYS);
        if (!n)
            return bad_value(kind, argv[i],
                             "a whole number from 0 to " + std::to_string(MAX_SHAPE_KEYS));
        numbers.push_back(static_cast<uint32_t>(*n));
    }
    return std::nullopt;
}

int run(int argc, char** argv) {
    std::string kind;
    std::vector<uint32_t> n;
    if (std::optional<int> status = read_shape_options(argc, argv, kind, n)) return *status;
    shape s;
    if (!build(kind, n, s))
        return usage_error("a " + kind + " of 1 to " + std::to_string(MAX_SHAPE_KEYS) +
                           " keys only" + (kind == "tail" ? ", with a core of 1 or more" : ""));
    std::string out;
    for (size_t k = 0; k < s.signers.size(); ++k) {
        put_record(out, 'p', key_id(k));
        for (uint32_t w : s.signers[k])
            put_record(out, 's', key_id(w));
        if (out.size() >= (1U << 20)) {
            if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) break;
            out.clear();
        }
    }
    if ((!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "shapegen: writing standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("shapegen");
    end_on_out_of_memory();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory();
    }
}
