// listing_generator: writes a synthetic gpg colon listing
// (--with-colons --fixed-list-mode --list-sigs) of a given number of keys,
// shaped like a keyserver's: each key has a fingerprint, one to three user
// ids with a self-signature and a few certifications by other keys, now and
// then a revoked certification, a photo id, a revoked key, and an encryption
// subkey with its binding. The same arguments give the same bytes.
//
// usage: listing_generator KEYS [SEED] >listing
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

uint64_t state;

uint64_t next_random() { // splitmix64
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint64_t below(uint64_t n) {
    return next_random() % n;
}

// Key i's id: a fixed scramble of i, so signers can be named without a table.
uint64_t key_id(uint64_t i) {
    uint64_t z = i * 0xD6E8FEB86659FD93ULL + 0x1234567;
    return z ^ (z >> 29);
}

void line(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void line(std::string& out, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    out.append(text, n < 0 ? 0 : static_cast<size_t>(n));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: listing_generator KEYS [SEED]\n");
        return 2;
    }
    const uint64_t keys = std::strtoull(argv[1], nullptr, 10);
    state = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    std::string out;
    out.reserve(1 << 21);
    line(out, "tru::1:1796817132:0:3:1:5\n");
    for (uint64_t k = 0; k < keys; ++k) {
        const uint64_t id = key_id(k);
        const long created = 1300000000 + static_cast<long>(below(400000000));
        const bool revoked = below(50) == 0;
        line(out, "pub:%c:4096:1:%016" PRIX64 ":%ld:::-:::%s:::::::0:\n", revoked ? 'r' : '-', id,
             created, revoked ? "sc" : "scESC");
        line(out, "fpr:::::::::%016" PRIX64 "%08" PRIX64 "%016" PRIX64 ":\n", next_random(),
             next_random() >> 32, id);
        if (revoked)
            line(out, "rev:::1:%016" PRIX64 ":%ld::::Some Body:20x,02::::::2:\n", id, created + 9);
        const int uids = 1 + static_cast<int>(below(3));
        for (int u = 0; u < uids; ++u) {
            const bool photo = below(20) == 0;
            if (photo)
                line(out, "uat:-::::%ld::%040" PRIX64 "::1 4321::::::::::0:\n", created, id);
            else
                line(out,
                     "uid:-::::%ld::%016" PRIX64 "%016" PRIX64 "%08X::Some Body %" PRIu64
                     " (key holder) <some.body.%" PRIu64 "@mail.example.org>::::::::::0:\n",
                     created, next_random(), next_random(), 0u, k, k);
            line(out, "sig:::1:%016" PRIX64 ":%ld::::Some Body %" PRIu64 ":13x::::::10:\n", id,
                 created, k);
            const int certifications = static_cast<int>(below(7));
            for (int c = 0; c < certifications; ++c) {
                const uint64_t signer = key_id(below(keys));
                const long when = created + static_cast<long>(below(10000000));
                line(out, "sig:::1:%016" PRIX64 ":%ld::::Other Signer:1%cx::::::8:\n", signer, when,
                     "0123"[below(4)]);
                if (below(40) == 0)
                    line(out, "rev:::1:%016" PRIX64 ":%ld::::Other Signer:30x,00::::::8:\n", signer,
                         when + 100);
            }
        }
        const uint64_t sub = next_random();
        line(out, "sub:-:4096:1:%016" PRIX64 ":%ld::::::e:::::::0:\n", sub, created);
        line(out, "fpr:::::::::%016" PRIX64 "%08" PRIX64 "%016" PRIX64 ":\n", next_random(),
             next_random() >> 32, sub);
        line(out, "sig:::1:%016" PRIX64 ":%ld::::Some Body %" PRIu64 ":18x::::::10:\n", id, created,
             k);
        if (out.size() >= (1 << 20)) {
            if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
            out.clear();
        }
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
    return std::fclose(stdout) == 0 ? 0 : 1;
}
