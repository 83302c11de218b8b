// The least korvalinde-keylist's verification of a dump can cost: reads the
// dump with the program's own packet reader and collection (which hash what
// each signature covers), decodes every signer's key and every signature's
// native form with the program's own code, and then times only OpenSSL's
// verification calls (verify_native, as check_signature makes them) on
// THREADS threads, sharing the signatures as the program does. Prints the
// signatures verified, how many were valid, and the wall and processor
// seconds of the verification alone. Not a test: the floor for
// bench/keylist_verify_floor.sh.
// usage: verify_floor THREADS FILE...
#include "openpgp_collection.h"
#include "openpgp_packets.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// One signature ready for OpenSSL: its signer's decoded key, its hash, and
// its digest and native form in the byte store.
struct prepared {
    const verify_key* key;
    uint64_t at;
    uint16_t native_size;
    uint8_t digest_size;
    uint8_t hash;
};

bool read_file(const char* path, packet_stream& stream) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "verify_floor: %s: %s\n", path, std::strerror(errno));
        return false;
    }
    stream.key_first = true;
    for (;;) {
        const std::span<uint8_t> room = input_space(stream, size_t{1} << 20);
        const ssize_t n = read(fd, room.data(), size_t{1} << 20);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) std::fprintf(stderr, "verify_floor: %s: %s\n", path, std::strerror(errno));
        if (n <= 0) break;
        commit_input(stream, static_cast<size_t>(n));
    }
    (void)close(fd); // only read from
    finish_packets(stream);
    return true;
}

// The signatures the program would hand to check_signature: signer present
// and decodable, named by the right fingerprint and algorithm, made after
// the signer's key, a digest long enough, fields in native form.
void prepare(const openpgp_collection& c, std::vector<std::unique_ptr<verify_key>>& keys,
             std::vector<prepared>& out, std::vector<uint8_t>& store) {
    native_signature native;
    for (size_t i = 0; i < c.events.size(); ++i) {
        const sig_event& e = c.events[i];
        if (e.result != verdict::pending) continue;
        const uint32_t position = find_position(c.key_positions, e.signer);
        if (position == key_index::EMPTY) continue;
        const stored_key& signer = c.keys[position];
        const uint8_t* blob = arena_at(c.arena, e.blob);
        const uint8_t* fields = blob + e.digest_size;
        if ((e.flags & EVENT_ISSUER_FPR) != 0) {
            if (std::memcmp(fields, signer.fpr.data(), signer.fpr.size()) != 0) continue;
            fields += signer.fpr.size();
        }
        if (fields[e.fields_size] != signer.algorithm || e.created < int64_t{signer.created})
            continue;
        if (!keys[position]) {
            keys[position] = std::make_unique<verify_key>();
            (void)load_verify_key(
                signer.algorithm,
                std::span<const uint8_t>(arena_at(c.arena, signer.material), signer.material_size),
                *keys[position]);
        }
        const verify_key& key = *keys[position];
        if (key.pkey == nullptr || !hash_supported(e.hash_algorithm)) continue;
        if ((key.algorithm == PK_DSA || key.algorithm == PK_ECDSA) &&
            8 * size_t{e.digest_size} < std::min<size_t>(key.order_bits, 512))
            continue;
        if (native_form(key, std::span<const uint8_t>(fields, e.fields_size), native) !=
            check_result::valid)
            continue;
        out.push_back({&key, store.size(), static_cast<uint16_t>(native.size), e.digest_size,
                       e.hash_algorithm});
        store.insert(store.end(), blob, blob + e.digest_size);
        store.insert(store.end(), native.bytes.begin(),
                     native.bytes.begin() + static_cast<ptrdiff_t>(native.size));
    }
}

double cpu_seconds() {
    struct rusage u {};
    (void)getrusage(RUSAGE_SELF, &u); // cannot fail for RUSAGE_SELF
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: verify_floor THREADS FILE...\n");
        return 2;
    }
    char* end = nullptr;
    const long asked = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || asked < 1 || asked > 1024) {
        std::fprintf(stderr, "verify_floor: THREADS must be 1 to 1024\n");
        return 2;
    }
    const int threads = static_cast<int>(asked);
    openpgp_collection c;
    packet_stream stream;
    stream.on_packet = [&c](unsigned tag, std::span<const uint8_t> body, uint64_t offset) {
        take_openpgp_packet(c, tag, body, offset);
    };
    stream.on_error = [&c](uint64_t, const std::string&, framing_problem problem) {
        if (ends_key_block(problem)) end_openpgp_block(c);
    };
    for (int i = 2; i < argc; ++i)
        if (!read_file(argv[i], stream)) return 1;
    end_openpgp_block(c);

    std::vector<std::unique_ptr<verify_key>> keys(c.keys.size());
    std::vector<prepared> sigs;
    std::vector<uint8_t> store;
    prepare(c, keys, sigs, store);

    std::atomic<size_t> next{0};
    std::atomic<uint64_t> valid{0};
    auto work = [&] {
        uint64_t ok = 0;
        for (;;) {
            const size_t first = next.fetch_add(64);
            if (first >= sigs.size()) break;
            const size_t last = std::min(first + 64, sigs.size());
            for (size_t i = first; i < last; ++i) {
                const prepared& p = sigs[i];
                const uint8_t* digest = store.data() + p.at;
                ok += verify_native(*p.key, p.hash, std::span<const uint8_t>(digest, p.digest_size),
                                    std::span<const uint8_t>(digest + p.digest_size,
                                                             p.native_size)) == check_result::valid;
            }
        }
        valid += ok;
    };
    const double cpu0 = cpu_seconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = cpu_seconds() - cpu0;
    std::printf("signatures %zu valid %llu threads %d wall %.2f cpu %.2f\n", sigs.size(),
                static_cast<unsigned long long>(valid.load()), threads, wall, cpu);
    return 0;
}
