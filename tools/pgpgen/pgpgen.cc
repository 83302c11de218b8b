// pgpgen: writes a keyserver-like dump of real OpenPGP keys and signatures in
// the graph shapes of the key-list generator, with a dump's noise, and the key
// list (and names file) korvalinde-keylist should make of it. Keys are made
// from per-key random streams and signed on every core; the output order and
// the expected key list depend only on the seed and options. Ed25519 keys and
// signatures are deterministic, so an Ed25519-only dump is byte-identical per
// seed; RSA, DSA and ECDSA keys come from a committed key pool (their
// fingerprints are fixed by each key's creation time), but DSA and ECDSA
// signatures are randomized by libcrypto.
#include "dump_builder.h"
#include "dump_writer.h"
#include "program_messages.h"
#include "start_threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

const char* meaning_name(sig_meaning meaning) {
    switch (meaning) {
    case sig_meaning::valid:
        return "valid";
    case sig_meaning::forged:
        return "forged";
    case sig_meaning::outsider:
        return "outsider";
    case sig_meaning::md5:
        return "md5";
    case sig_meaning::unknown_algorithm:
        return "unknown-algorithm";
    }
    return "?";
}

std::string dump_file_name(const pgpgen_settings& settings, unsigned index) {
    if (!settings.output_is_directory) return settings.output_path;
    char name[32];
    (void)std::snprintf(name, sizeof name, "dump-%04u.%s", index, settings.armor ? "asc" : "pgp");
    return settings.output_path + name;
}

std::FILE* open_text(const std::string& path, std::string& error) {
    if (path.empty()) return nullptr;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) error = "'" + path + "': " + std::strerror(errno);
    return file;
}

bool close_text(std::FILE* file, const std::string& path, std::string& error) {
    if (file == nullptr) return true;
    const bool ok = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !ok) {
        error = "'" + path + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string key_record(char kind, uint64_t id) {
    char line[20];
    (void)std::snprintf(line, sizeof line, "%c%016llX\n", kind,
                        static_cast<unsigned long long>(id));
    return line;
}

// The manifest's lines for one key's signatures (errors are found when the
// file is closed).
void write_manifest_lines(std::FILE* manifest, const std::vector<manifest_entry>& entries) {
    for (const manifest_entry& e : entries)
        (void)std::fprintf(manifest, "%016llX %016llX %u %02x %s\n",
                           static_cast<unsigned long long>(e.signed_key),
                           static_cast<unsigned long long>(e.signer), e.created, e.sig_class,
                           meaning_name(e.meaning));
}

// The names file korvalinde-keylist --names should write: the keys of the
// expected key list and their signers, each once, by id.
bool write_expected_names(const pgpgen_settings& settings, const dump_keys& keys,
                          std::vector<uint64_t> named, std::string& error) {
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    std::FILE* names = open_text(settings.expect_names_path, error);
    if (names == nullptr) return false;
    for (const uint64_t id : named)
        (void)std::fprintf(names, "%016llX\t%s\n", static_cast<unsigned long long>(id),
                           dump_key_name(keys, id).c_str());
    return close_text(names, settings.expect_names_path, error);
}

bool generate(const pgpgen_settings& settings, const dump_keys& keys, std::string& error) {
    if (settings.output_is_directory && mkdir(settings.output_path.c_str(), 0777) != 0 &&
        errno != EEXIST) {
        error = "'" + settings.output_path + "': " + std::strerror(errno);
        return false;
    }
    std::FILE* expect = open_text(settings.expect_path, error);
    std::FILE* manifest = open_text(settings.manifest_path, error);
    if (!error.empty()) return false;
    std::vector<uint64_t> named;

    const uint64_t n = dump_key_count(keys);
    unsigned file_index = 0;
    uint64_t file_end = n / settings.files;
    dump_file out;
    if (!open_dump_file(out, dump_file_name(settings, 0), settings.armor, error)) return false;
    bytes pending; // later parts of split keys, for the start of the next file
    // The records of keys whose first counted certification is in a later
    // part: they go where that part is.
    std::string pending_records;
    auto flush_pending = [&]() {
        write_dump_bytes(out, pending);
        pending.clear();
        if (expect != nullptr) (void)std::fputs(pending_records.c_str(), expect);
        pending_records.clear();
    };

    const unsigned threads = settings.threads;
    const uint64_t batch = uint64_t{threads} * 256;
    std::vector<key_output> results(batch);
    for (uint64_t first = 0; first < n; first += batch) {
        const uint64_t count = std::min(batch, n - first);
        // Each key is built from its own random stream, so which thread
        // builds it does not change a byte.
        std::atomic<uint64_t> next{0};
        run_work_on_threads(static_cast<int>(threads), [&] {
            for (uint64_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
                results[i] = build_key(settings, keys, first + i);
        });
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t position = first + i;
            while (position >= file_end && file_index + 1 < settings.files) {
                if (!close_dump_file(out, error)) return false;
                ++file_index;
                file_end = (file_index + 1) * n / settings.files;
                if (!open_dump_file(out, dump_file_name(settings, file_index), settings.armor,
                                    error))
                    return false;
                flush_pending();
            }
            key_output& result = results[i];
            write_dump_bytes(out, result.packets);
            pending.insert(pending.end(), result.later_part.begin(), result.later_part.end());
            const uint64_t id = dump_key_id(keys, position);
            if (expect != nullptr && !result.counted_signers.empty()) {
                std::string record = key_record('p', id);
                for (const uint64_t signer : result.counted_signers)
                    record += key_record('s', signer);
                if (result.record_with_later_part)
                    pending_records += record;
                else
                    (void)std::fputs(record.c_str(), expect);
                if (!settings.expect_names_path.empty()) {
                    named.push_back(id);
                    named.insert(named.end(), result.counted_signers.begin(),
                                 result.counted_signers.end());
                }
            }
            if (manifest != nullptr) write_manifest_lines(manifest, result.manifest);
            result = key_output();
        }
    }
    flush_pending();
    if (!close_dump_file(out, error) || !close_text(expect, settings.expect_path, error) ||
        !close_text(manifest, settings.manifest_path, error))
        return false;

    return settings.expect_names_path.empty() ||
           write_expected_names(settings, keys, std::move(named), error);
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("pgpgen");
    end_on_out_of_memory();
    pgpgen_settings settings;
    settings.key_pool_path = PGPGEN_KEY_POOL;
    try {
        std::string error;
        if (!parse_pgpgen_options(argc, argv, settings, error)) return usage_error(error);
        if (settings.help) return print_help(pgpgen_usage());
        if (settings.version) return print_version();
        if (!settings.make_key_pool.empty()) {
            if (!write_key_pool(settings.make_key_pool, error)) {
                std::fprintf(stderr, "pgpgen: %s\n", error.c_str());
                return 1;
            }
            return 0;
        }
        dump_keys* keys = nullptr;
        if (!make_dump_keys(settings, keys, error) || !generate(settings, *keys, error)) {
            std::fprintf(stderr, "pgpgen: %s\n", error.c_str());
            free_dump_keys(keys);
            return 1;
        }
        free_dump_keys(keys);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory();
    }
    return 0;
}
