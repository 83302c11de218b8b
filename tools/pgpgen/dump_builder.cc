#include "dump_builder.h"

#include "names_file.h"
#include "random.h"
#include "signature_graph.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_map>

namespace {

// Every key is made in 2015, one slot of eight seconds per position, so that
// creation times (and with them fingerprints) never repeat even where keys
// share key material from the pool.
constexpr uint32_t base_time = 1420070400; // 2015-01-01
constexpr uint32_t day = 86400;
constexpr uint8_t unknown_algorithm_id = 100; // private/experimental range
constexpr size_t outsider_count = 16;

// Independent random streams, so that one choice never shifts another.
constexpr uint64_t stream_shuffle = 0x5047500000000001ULL;
constexpr uint64_t stream_outsiders = 0x5047500000000002ULL;
constexpr uint64_t stream_key = 0x5047510000000000ULL;   // + position
constexpr uint64_t stream_build = 0x5047520000000000ULL; // + position
constexpr uint64_t stream_later = 0x5047530000000000ULL; // + position

enum key_kind : uint8_t {
    KIND_ED25519,
    KIND_RSA2048,
    KIND_RSA4096,
    KIND_DSA,
    KIND_ECDSA,
    KIND_UNKNOWN
};

struct dump_key {
    bytes body; // public-key packet body
    std::array<uint8_t, 20> fingerprint{};
    signing_key own; // Ed25519 keys; pool keys point into the pool
    const signing_key* pool_key = nullptr;
    uint32_t created = 0;
    key_kind kind = KIND_ED25519;
    bool revoked = false;
    bool expired = false;
    bool second_uid = false;
    bool user_attribute = false;
    bool subkey = false;
    bool split = false;
};

void random_seed32(random_state& rng, std::array<uint8_t, 32>& seed) {
    for (size_t i = 0; i < 32; i += 8) {
        const uint64_t v = next_u64(rng);
        for (size_t k = 0; k < 8; ++k)
            seed[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
}

// A user id for the key at a position: mostly plain, some in other scripts,
// some carrying markup or control characters, as real ones do.
std::string user_id_text(uint64_t position, unsigned which) {
    const std::string n = std::to_string(position);
    const std::string suffix = which == 0 ? "" : " (work)";
    if (position % 29 == 7) return "Tr\x1b[31mouble " + n + suffix + " <t" + n + "@example.org>";
    if (position % 13 == 5)
        return "<b>Mallory</b> & \"" + n + "\"" + suffix + " <m" + n + "@example.org>";
    if (position % 7 == 3)
        return "Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m " + n + suffix + " <z" + n + "@example.net>";
    return "Key Holder " + n + suffix + " <holder" + n + "@example.org>";
}

// A photo id: one image subpacket with its header and a token JPEG.
bytes user_attribute_body(uint64_t position) {
    bytes image = {0x10, 0x00, 0x01, 0x01, 0,    0,    0,    0,    0,   0,   0,   0,   0, 0,
                   0,    0,    0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    for (int shift = 0; shift < 64; shift += 8)
        image.push_back(static_cast<uint8_t>(position >> shift));
    image.push_back(0xFF);
    image.push_back(0xD9);
    bytes body = {static_cast<uint8_t>(image.size() + 1), 1};
    body.insert(body.end(), image.begin(), image.end());
    return body;
}

struct pool_keys {
    std::vector<signing_key> by_kind[KIND_UNKNOWN];
};

bool load_key_pool(const std::string& path, pool_keys& pool, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        error = "'" + path + "': " + std::strerror(errno);
        return false;
    }
    while (EVP_PKEY* pkey = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr)) {
        const int bits = EVP_PKEY_get_bits(pkey);
        signing_key key;
        if (!signing_key_from_private(pkey, key)) continue;
        key_kind kind = KIND_ECDSA;
        if (key.algorithm == 1)
            kind = bits > 2048 ? KIND_RSA4096 : KIND_RSA2048;
        else if (key.algorithm == 17)
            kind = KIND_DSA;
        else if (key.algorithm != 19)
            continue;
        pool.by_kind[kind].push_back(std::move(key));
    }
    (void)std::fclose(file); // read only: nothing is lost on a failed close
    return true;
}

} // namespace

struct dump_keys {
    pool_keys pool;
    std::vector<dump_key> keys; // by position in the dump
    std::vector<uint64_t>
        in_start; // certifications of position p: in_signer[in_start[p] .. in_start[p+1])
    std::vector<uint32_t> in_signer; // signer positions
    std::vector<signing_key> outsiders;
    std::vector<bytes> outsider_bodies;
    std::unordered_map<uint64_t, uint32_t> position_of;
};

namespace {

bool make_key(const pgpgen_settings& settings, dump_keys& all, uint64_t position) {
    dump_key& key = all.keys[position];
    random_state rng = seed_random(settings.graph.seed, stream_key + position);
    key.created = base_time + static_cast<uint32_t>(position * 8 + random_below(rng, 8));
    const double u = random_unit(rng);
    const double shares[] = {settings.rsa2048, settings.rsa4096, settings.dsa, settings.ecdsa,
                             settings.unknown_algorithms};
    double edge = 0;
    key.kind = KIND_ED25519;
    for (size_t i = 0; i < std::size(shares); ++i) {
        edge += shares[i];
        if (u < edge) {
            key.kind = static_cast<key_kind>(KIND_RSA2048 + i);
            break;
        }
    }
    const uint64_t pool_pick = next_u64(rng);
    key.revoked = random_chance(rng, settings.revoked_keys);
    key.expired = random_chance(rng, settings.expired_keys);
    key.second_uid = random_chance(rng, settings.second_uids);
    key.user_attribute = random_chance(rng, settings.user_attributes);
    key.subkey = random_chance(rng, settings.subkeys);
    key.split = random_chance(rng, settings.split);
    std::array<uint8_t, 32> seed{};
    random_seed32(rng, seed);
    if (key.kind == KIND_UNKNOWN) {
        key.revoked = false;
        key.subkey = false;
        bytes fields;
        append_mpi(fields, seed);
        key.body = public_key_body(key.created, unknown_algorithm_id, fields);
    } else if (key.kind == KIND_ED25519) {
        if (!ed25519_key_from_seed(seed, key.own)) return false;
        key.body = public_key_body(key.created, key.own.algorithm, key.own.public_fields);
        key.own.public_fields = bytes(); // in the body now
    } else {
        const std::vector<signing_key>& pool = all.pool.by_kind[key.kind];
        key.pool_key = &pool[pool_pick % pool.size()];
        key.body =
            public_key_body(key.created, key.pool_key->algorithm, key.pool_key->public_fields);
    }
    key.fingerprint = key_fingerprint(key.body);
    return true;
}

const signing_key* signer_of_key(const dump_key& key) {
    if (key.kind == KIND_UNKNOWN) return nullptr;
    return key.pool_key != nullptr ? key.pool_key : &key.own;
}

// The last key of every file but the last is split, so that a directory
// always holds a key split across two files.
bool ends_a_file(const pgpgen_settings& settings, uint64_t n, uint64_t position) {
    for (uint64_t f = 1; f < settings.files; ++f)
        if (position + 1 == f * n / settings.files) return true;
    return false;
}

} // namespace

bool make_dump_keys(const pgpgen_settings& settings, dump_keys*& out, std::string& error) {
    auto all = std::make_unique<dump_keys>();
    const double pool_share = settings.rsa2048 + settings.rsa4096 + settings.dsa + settings.ecdsa;
    if (pool_share > 0) {
        if (!load_key_pool(settings.key_pool_path, all->pool, error)) return false;
        const char* names[] = {"", "RSA-2048", "RSA-4096", "DSA", "ECDSA"};
        const double shares[] = {0, settings.rsa2048, settings.rsa4096, settings.dsa,
                                 settings.ecdsa};
        for (int kind = KIND_RSA2048; kind < KIND_UNKNOWN; ++kind)
            if (shares[kind] > 0 && all->pool.by_kind[kind].empty()) {
                error = "'" + settings.key_pool_path + "': no " + names[kind] + " key";
                return false;
            }
    }

    const signature_graph graph = build_signature_graph(settings.graph);
    const uint64_t n = graph.key_ids.size();
    // The dump's order: a shuffle of the graph's construction order.
    std::vector<uint32_t> position_of_index(n);
    for (uint64_t i = 0; i < n; ++i)
        position_of_index[i] = static_cast<uint32_t>(i);
    random_state shuffle = seed_random(settings.graph.seed, stream_shuffle);
    for (uint64_t i = n; i > 1; --i)
        std::swap(position_of_index[i - 1], position_of_index[random_below(shuffle, i)]);

    all->in_start.assign(n + 1, 0);
    for (const uint64_t s : graph.signatures)
        ++all->in_start[position_of_index[signed_key_of(s)] + 1];
    for (uint64_t p = 0; p < n; ++p)
        all->in_start[p + 1] += all->in_start[p];
    all->in_signer.resize(graph.signatures.size());
    std::vector<uint64_t> fill(all->in_start.begin(), all->in_start.end() - 1);
    for (const uint64_t s : graph.signatures)
        all->in_signer[fill[position_of_index[signed_key_of(s)]]++] =
            position_of_index[signer_of(s)];

    all->keys.resize(n);
    std::vector<std::thread> threads;
    std::vector<char> ok(settings.threads, 1);
    for (unsigned t = 0; t < settings.threads; ++t)
        threads.emplace_back([&, t] {
            for (uint64_t p = t; p < n; p += settings.threads)
                if (!make_key(settings, *all, p)) ok[t] = 0;
        });
    for (std::thread& thread : threads)
        thread.join();
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) {
        error = "libcrypto could not make a key";
        return false;
    }
    all->position_of.reserve(n);
    for (uint64_t p = 0; p < n; ++p)
        all->position_of.emplace(key_id_of(all->keys[p].fingerprint), static_cast<uint32_t>(p));

    random_state outsider_rng = seed_random(settings.graph.seed, stream_outsiders);
    all->outsiders.resize(outsider_count);
    for (size_t i = 0; i < outsider_count; ++i) {
        std::array<uint8_t, 32> seed{};
        random_seed32(outsider_rng, seed);
        if (!ed25519_key_from_seed(seed, all->outsiders[i])) {
            error = "libcrypto could not make a key";
            return false;
        }
        all->outsider_bodies.push_back(
            public_key_body(base_time, 22, all->outsiders[i].public_fields));
    }
    out = all.release();
    return true;
}

void free_dump_keys(dump_keys* keys) {
    delete keys;
}

uint64_t dump_key_count(const dump_keys& keys) {
    return keys.keys.size();
}

uint64_t dump_key_id(const dump_keys& keys, uint64_t position) {
    return key_id_of(keys.keys[position].fingerprint);
}

std::string dump_key_name(const dump_keys& keys, uint64_t id) {
    const auto found = keys.position_of.find(id);
    return found == keys.position_of.end() ? std::string()
                                           : escape_user_id(user_id_text(found->second, 0));
}

namespace {

// One user id or attribute being assembled: its packet and self-signature,
// then groups of a certification and the revocations that answer it.
struct identity {
    bytes body;
    bool attribute = false;
    bytes head;
    std::vector<bytes> groups;
    std::vector<bool> group_counts; // the group brings a counted certification
};

struct key_builder {
    const pgpgen_settings& settings;
    const dump_keys& all;
    uint64_t position;
    const dump_key& key;
    random_state rng;
    bool new_format;
    key_output out;

    void packet(bytes& to, uint8_t tag, const bytes& body) const {
        append_packet(to, tag, body, new_format);
    }

    uint8_t pick_hash(const signing_key* signer) {
        if (signer != nullptr && signer->algorithm == 17) return 8; // DSA with a 256-bit q
        return random_chance(rng, 0.5) ? 8 : 10;
    }

    uint32_t certification_time(uint32_t signer_created) {
        return std::max(signer_created, key.created) + 1 +
               static_cast<uint32_t>(random_below(rng, 700ULL * day));
    }

    // A signature by signer (null: an algorithm that cannot sign) over
    // material, or nothing when libcrypto fails.
    bytes sign(const signing_key* signer, uint8_t algorithm, const signature_spec& spec,
               const signed_material& material, bool forge) const {
        if (signer == nullptr) return unverifiable_signature_body(algorithm, spec, material);
        return signature_body(*signer, spec, material, forge);
    }

    void note(uint64_t signer, const signature_spec& spec, sig_meaning meaning) {
        if (!settings.manifest_path.empty())
            out.manifest.push_back(
                {key_id_of(key.fingerprint), signer, spec.created, spec.sig_class, meaning});
    }

    signature_spec self_spec(uint8_t sig_class) {
        signature_spec spec;
        spec.sig_class = sig_class;
        spec.hash_algorithm = pick_hash(signer_of_key(key));
        spec.created = key.created;
        spec.issuer_fingerprint = key.fingerprint;
        spec.issuer_key_id = !random_chance(rng, settings.fingerprint_only);
        return spec;
    }

    identity make_identity(unsigned which) {
        identity id;
        if (which == 2) {
            id.attribute = true;
            id.body = user_attribute_body(position);
        } else {
            const std::string text = user_id_text(position, which);
            id.body.assign(text.begin(), text.end());
        }
        packet(id.head, id.attribute ? TAG_USER_ATTRIBUTE : TAG_USER_ID, id.body);
        signature_spec spec = self_spec(0x13);
        spec.key_flags = 0x03;
        spec.primary_user_id = which == 0;
        if (key.expired) spec.key_expires_after = 365 * day;
        const signed_material material{key.body, {}, id.body, id.attribute};
        packet(id.head, TAG_SIGNATURE,
               sign(signer_of_key(key), unknown_algorithm_id, spec, material, false));
        note(key_id_of(key.fingerprint), spec,
             key.kind == KIND_UNKNOWN ? sig_meaning::unknown_algorithm : sig_meaning::valid);
        return id;
    }

    signature_spec certification_spec(const signing_key* signer,
                                      const std::array<uint8_t, 20>& fingerprint,
                                      uint32_t signer_created) {
        static constexpr uint8_t classes[] = {0x10, 0x10, 0x10, 0x10, 0x10,
                                              0x13, 0x13, 0x13, 0x12, 0x11};
        signature_spec spec;
        spec.sig_class = classes[random_below(rng, std::size(classes))];
        spec.hash_algorithm = pick_hash(signer);
        spec.created = certification_time(signer_created);
        if (random_chance(rng, settings.expired_sigs)) spec.expires_after = 100 * day;
        spec.issuer_key_id = !random_chance(rng, settings.fingerprint_only);
        spec.issuer_fingerprint = fingerprint;
        return spec;
    }

    // A certification by the key at signer_position, with what may follow it.
    void certify(identity& id, uint32_t signer_position) {
        const dump_key& signer = all.keys[signer_position];
        const signing_key* signing = signer_of_key(signer);
        const uint64_t signer_id = key_id_of(signer.fingerprint);
        signature_spec spec = certification_spec(signing, signer.fingerprint, signer.created);
        const signed_material material{key.body, {}, id.body, id.attribute};
        bytes group;
        packet(group, TAG_SIGNATURE, sign(signing, unknown_algorithm_id, spec, material, false));
        const bool valid = signing != nullptr;
        note(signer_id, spec, valid ? sig_meaning::valid : sig_meaning::unknown_algorithm);
        bool counts = valid;
        const bool revoke = random_chance(rng, settings.revoked_certs);
        const bool forge_revocation = random_chance(rng, settings.forged_revocations);
        if (valid && (revoke || forge_revocation)) {
            // A revocation at the same second still revokes.
            spec.sig_class = 0x30;
            spec.expires_after = 0;
            spec.created += random_chance(rng, 0.3)
                                ? 0
                                : 1 + static_cast<uint32_t>(random_below(rng, 300ULL * day));
            packet(group, TAG_SIGNATURE, sign(signing, 0, spec, material, !revoke));
            note(signer_id, spec, revoke ? sig_meaning::valid : sig_meaning::forged);
            counts = !revoke;
        }
        counts = counts && signer_position != position;
        if (counts) out.counted_signers.push_back(signer_id);
        id.groups.push_back(std::move(group));
        id.group_counts.push_back(counts);
    }

    // A certification that must not count: forged, by a key not in the
    // dump, or hashed with MD5.
    void noise_certification(identity& id, sig_meaning meaning) {
        const signing_key* signing = nullptr;
        std::array<uint8_t, 20> fingerprint{};
        uint32_t signer_created = base_time;
        if (meaning == sig_meaning::outsider) {
            const size_t i = random_below(rng, outsider_count);
            signing = &all.outsiders[i];
            fingerprint = key_fingerprint(all.outsider_bodies[i]);
        } else {
            const uint64_t q = random_below(rng, all.keys.size());
            signing = signer_of_key(all.keys[q]);
            if (q == position || signing == nullptr) return;
            fingerprint = all.keys[q].fingerprint;
            signer_created = all.keys[q].created;
        }
        signature_spec spec = certification_spec(signing, fingerprint, signer_created);
        if (meaning == sig_meaning::md5) spec.hash_algorithm = 1;
        const signed_material material{key.body, {}, id.body, id.attribute};
        bytes group;
        packet(group, TAG_SIGNATURE,
               sign(signing, 0, spec, material, meaning == sig_meaning::forged));
        note(key_id_of(fingerprint), spec, meaning);
        id.groups.push_back(std::move(group));
        id.group_counts.push_back(false);
    }

    // With --new-certifications: maybe one certification more, at the end
    // of the first user id's. It is made from a stream of its own, swapped
    // in for the key's, so that every other byte of the key is as without it.
    void later_certification(identity& id) {
        random_state later = seed_random(settings.graph.seed, stream_later + position);
        if (!random_chance(later, settings.new_certifications)) return;
        const uint64_t signer = random_below(later, all.keys.size());
        if (signer == position) return;
        std::swap(rng, later);
        certify(id, static_cast<uint32_t>(signer));
        std::swap(rng, later);
    }

    void build() {
        new_format = random_chance(rng, 0.5);
        const bool unknown = key.kind == KIND_UNKNOWN;
        if (random_chance(rng, settings.junk)) {
            const std::string junk = "\n-- not a packet, key " + std::to_string(position) + " --\n";
            out.packets.insert(out.packets.end(), junk.begin(), junk.end());
        }
        bytes key_packet;
        packet(key_packet, TAG_PUBLIC_KEY, key.body);
        out.packets.insert(out.packets.end(), key_packet.begin(), key_packet.end());
        if (key.revoked) {
            signature_spec spec = self_spec(0x20);
            spec.created =
                key.created + 1 + static_cast<uint32_t>(random_below(rng, 1000ULL * day));
            packet(
                out.packets, TAG_SIGNATURE,
                sign(signer_of_key(key), 0, spec, signed_material{key.body, {}, {}, false}, false));
            note(key_id_of(key.fingerprint), spec, sig_meaning::valid);
        }

        std::vector<identity> ids;
        ids.push_back(make_identity(0));
        if (key.second_uid) ids.push_back(make_identity(1));
        if (key.user_attribute) ids.push_back(make_identity(2));
        // Certifications of a key nobody can check it with are left out:
        // whether they count would depend on how a reader treats such a key.
        if (!unknown) {
            for (uint64_t i = all.in_start[position]; i < all.in_start[position + 1]; ++i)
                certify(ids[random_below(rng, ids.size())], all.in_signer[i]);
            const std::pair<double, sig_meaning> noise[] = {
                {settings.forged, sig_meaning::forged},
                {settings.outsiders, sig_meaning::outsider},
                {settings.md5, sig_meaning::md5},
            };
            for (const auto& [rate, meaning] : noise)
                if (random_chance(rng, rate))
                    noise_certification(ids[random_below(rng, ids.size())], meaning);
            if (settings.new_certifications > 0) later_certification(ids[0]);
        }

        const bool split = key.split || ends_a_file(settings, all.keys.size(), position);
        const size_t kept = split ? ids[0].groups.size() / 2 : ids[0].groups.size();
        bool first_part_counts = false;
        for (size_t k = 0; k < ids.size(); ++k) {
            const identity& id = ids[k];
            out.packets.insert(out.packets.end(), id.head.begin(), id.head.end());
            const size_t end = k == 0 ? kept : id.groups.size();
            for (size_t g = 0; g < end; ++g) {
                out.packets.insert(out.packets.end(), id.groups[g].begin(), id.groups[g].end());
                first_part_counts = first_part_counts || id.group_counts[g];
            }
        }
        out.record_with_later_part = split && !first_part_counts;
        if (key.subkey) {
            std::array<uint8_t, 32> seed{};
            random_seed32(rng, seed);
            bytes fields;
            if (cv25519_subkey_fields(seed, fields)) {
                const bytes subkey = public_key_body(key.created, 18, fields);
                packet(out.packets, TAG_PUBLIC_SUBKEY, subkey);
                signature_spec spec = self_spec(0x18);
                spec.key_flags = 0x0C;
                packet(out.packets, TAG_SIGNATURE,
                       sign(signer_of_key(key), 0, spec,
                            signed_material{key.body, subkey, {}, false}, false));
                note(key_id_of(key.fingerprint), spec, sig_meaning::valid);
            }
        }
        if (split) {
            // The same key again with its first user id and the rest of that
            // user id's certifications.
            out.later_part = key_packet;
            out.later_part.insert(out.later_part.end(), ids[0].head.begin(), ids[0].head.end());
            for (size_t g = kept; g < ids[0].groups.size(); ++g)
                out.later_part.insert(out.later_part.end(), ids[0].groups[g].begin(),
                                      ids[0].groups[g].end());
        }

        std::sort(out.counted_signers.begin(), out.counted_signers.end());
        out.counted_signers.erase(
            std::unique(out.counted_signers.begin(), out.counted_signers.end()),
            out.counted_signers.end());
        if (key.revoked) out.counted_signers.clear(); // a revoked key gets no record
    }
};

} // namespace

key_output build_key(const pgpgen_settings& settings, const dump_keys& keys, uint64_t position) {
    key_builder builder{settings,
                        keys,
                        position,
                        keys.keys[position],
                        seed_random(settings.graph.seed, stream_build + position),
                        false,
                        {}};
    builder.build();
    return std::move(builder.out);
}

bool write_key_pool(const std::string& path, std::string& error) {
    std::vector<signing_key> keys;
    dsa_domain domain;
    bool ok = generate_dsa_domain(2048, 256, domain);
    for (int i = 0; ok && i < 8; ++i) {
        keys.emplace_back();
        ok = generate_rsa_key(2048, keys.back());
    }
    for (int i = 0; ok && i < 4; ++i) {
        keys.emplace_back();
        ok = generate_rsa_key(4096, keys.back());
    }
    for (int i = 0; ok && i < 4; ++i) {
        keys.emplace_back();
        ok = generate_dsa_key(domain, keys.back());
    }
    for (int i = 0; ok && i < 8; ++i) {
        keys.emplace_back();
        ok = generate_ecdsa_key("P-256", keys.back());
    }
    if (!ok) {
        error = "libcrypto could not make a key";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "'" + path + "': " + std::strerror(errno);
        return false;
    }
    for (const signing_key& key : keys)
        ok = ok && PEM_write_PrivateKey(file, key.pkey, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(file) != 0 || !ok) {
        error = "'" + path + "': write failed";
        return false;
    }
    return true;
}
