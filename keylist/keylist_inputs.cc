#include "keylist_inputs.h"

#include "file_io.h"
#include "listing_parser.h"
#include "names_file.h"
#include "openpgp_armor.h"
#include "openpgp_constants.h"
#include "openpgp_names.h"
#include "openpgp_packets.h"
#include "progress.h"
#include "read_ahead.h"
#include "verify_pipeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t READ_BLOCK = size_t{1} << 20;
// Enough of an input's start to recognise its kind.
constexpr size_t SNIFF_SIZE = 64 << 10;

void report_errno(const std::string& name, const char* what) {
    std::fprintf(stderr, "korvalinde-keylist: %s: %s: %s\n", name.c_str(), what,
                 std::strerror(errno));
}

// What the reading phase has counted into the progress display
// (progress.h), which counts whole MiB.
struct progress_line {
    uint64_t bytes_done = 0; // of inputs finished
    uint64_t shown_mib = 0;
};

// bytes: read so far from the current input.
void show_reading(progress_line& p, uint64_t bytes) {
    const uint64_t mib = (p.bytes_done + bytes) >> 20;
    if (mib <= p.shown_mib) return;
    progress_advance(static_cast<int64_t>(mib - p.shown_mib));
    p.shown_mib = mib;
}

// The MiB of all inputs, or 0 (unknown) when one of them is not a regular
// file.
int64_t input_mib(const std::vector<std::string>& paths) {
    uint64_t bytes = 0;
    for (const std::string& path : paths) {
        struct stat st {};
        if (path == "-" || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
        bytes += static_cast<uint64_t>(st.st_size);
    }
    return static_cast<int64_t>(bytes >> 20);
}

// The signatures verify_signatures will check.
int64_t pending_signatures(const openpgp_collection& c) {
    int64_t n = 0;
    for (size_t i = 0; i < c.events.size(); ++i)
        n += c.events[i].result == verdict::pending ? 1 : 0;
    return n;
}

struct open_input {
    std::string name;
    int fd = -1;
    bool owned = false;
    ~open_input() {
        // Only read from; a failed close loses nothing.
        if (owned) (void)close(fd);
    }
};

// Streams the rest of fd (after the already read start) into feed. Returns
// false after a reported read error.
template <typename Feed>
bool stream_rest(open_input& in, std::span<const uint8_t> start, Feed feed, progress_line& p) {
    feed(start.data(), start.size());
    uint64_t bytes = start.size();
    read_ahead ahead;
    start_read_ahead(ahead, in.fd, READ_BLOCK);
    for (;;) {
        std::span<const uint8_t> block;
        if (!next_block(ahead, block)) {
            report_errno(in.name, "read error");
            return false;
        }
        if (block.empty()) break;
        feed(block.data(), block.size());
        bytes += block.size();
        show_reading(p, bytes);
    }
    p.bytes_done += bytes;
    return true;
}

// Skipped bytes and cut-off packets lose key data: they are always reported;
// the other framing problems at -v. skipped_runs counts the runs of skipped
// bytes of the input.
void connect_packets(packet_stream& stream, keylist_reading& r, uint64_t& skipped_runs) {
    openpgp_collection& c = r.openpgp;
    stream.on_packet = [&c](unsigned tag, std::span<const uint8_t> body, uint64_t offset) {
        take_openpgp_packet(c, tag, body, offset);
    };
    stream.on_error = [&c, &skipped_runs](uint64_t offset, const std::string& what,
                                          framing_problem problem) {
        if (problem == framing_problem::skipped) ++skipped_runs;
        if (problem == framing_problem::skipped || problem == framing_problem::cut_off)
            openpgp_notice(c, offset, what);
        else
            openpgp_warning(c, offset, what);
        // The packets before the error stay with their key; what follows up
        // to the next key cannot be told apart from noise.
        if (ends_key_block(problem)) end_openpgp_block(c);
    };
}

// Adds the stream's tallies for one input; a total of the bytes skipped
// when they were skipped in more than one place.
void add_stream_counts(keylist_reading& r, packet_stream& s, uint64_t skipped_runs) {
    if (skipped_runs > 1)
        openpgp_notice(r.openpgp, NO_OFFSET,
                       std::to_string(s.junk_bytes) + " bytes skipped in " +
                           std::to_string(skipped_runs) + " places");
    r.framing_errors += s.errors;
    r.junk_bytes += s.junk_bytes;
    r.oversized_packets += s.oversized;
    r.cut_off_packets += s.cut_off;
    s.errors = s.junk_bytes = s.oversized = s.cut_off = 0;
}

// Binary OpenPGP data: packets from the blocks read ahead. A key block
// may continue in the next input when this one ends between packets.
bool read_binary(open_input& in, std::span<const uint8_t> start, keylist_reading& r,
                 progress_line& p) {
    packet_stream stream;
    uint64_t skipped_runs = 0;
    connect_packets(stream, r, skipped_runs);
    // Unless it continues a key block of the input before, the input may
    // begin anywhere in a packet (a piece of a split file).
    stream.key_first = r.openpgp.where == openpgp_collection::place::none;
    const bool ok = stream_rest(
        in, start,
        [&stream](const uint8_t* data, size_t size) { feed_packets(stream, data, size); }, p);
    if (!ok) return false;
    finish_packets(stream);
    add_stream_counts(r, stream, skipped_runs);
    return true;
}

bool read_armored(open_input& in, std::span<const uint8_t> start, keylist_reading& r,
                  progress_line& p) {
    packet_stream stream;
    uint64_t skipped_runs = 0;
    connect_packets(stream, r, skipped_runs);
    armor_decoder armor;
    armor.on_data = [&stream](std::span<const uint8_t> data) {
        feed_packets(stream, data.data(), data.size());
    };
    armor.on_block_end = [&](bool ok, uint64_t offset, const std::string& what) {
        if (!ok) {
            ++r.armor_errors;
            openpgp_warning(r.openpgp, offset, what + "; block skipped");
        }
        finish_packets(stream);
        end_openpgp_block(r.openpgp);
    };
    const bool ok = stream_rest(
        in, start, [&armor](const uint8_t* data, size_t size) { feed_armor(armor, data, size); },
        p);
    if (!ok) return false;
    finish_armor(armor);
    add_stream_counts(r, stream, skipped_runs);
    return true;
}

std::string unescape_listing_field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() + 0 && text[i + 1] == 'x' &&
            hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3])));
            i += 3;
        } else if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool read_listing_input(open_input& in, std::span<const uint8_t> start, keylist_reading& r,
                        bool want_names, progress_line& p) {
    listing_parser parser;
    parser.rules = r.openpgp.rules;
    parser.sink = [&r](uint64_t id, bool kept, const std::vector<uint64_t>& signers) {
        add_key_block(r.table, id, kept, signers);
    };
    if (want_names)
        parser.on_user_id = [&r](uint64_t id, std::string_view escaped) {
            r.listing_user_ids.try_emplace(id, unescape_listing_field(escaped)); // the first stays
        };
    bool stopped = false;
    const bool ok = stream_rest(
        in, start,
        [&](const uint8_t* data, size_t size) {
            if (!stopped)
                stopped = !feed_listing(parser, reinterpret_cast<const char*>(data), size);
        },
        p);
    if (!ok) return false;
    if (!parser.failed) finish_listing(parser);
    if (parser.failed) {
        std::fprintf(stderr, "korvalinde-keylist: %s:%llu: %s\n", in.name.c_str(),
                     static_cast<unsigned long long>(parser.error_line), parser.error.c_str());
        return false;
    }
    if (parser.records == 0) {
        std::fprintf(stderr,
                     "korvalinde-keylist: %s: neither OpenPGP key data nor a gpg colon listing "
                     "of keys\n",
                     in.name.c_str());
        return false;
    }
    const keylist_counts& c = parser.counts;
    keylist_counts& t = r.counts;
    t.keys_read += c.keys_read;
    t.keys_revoked += c.keys_revoked;
    t.keys_expired += c.keys_expired;
    t.certifications_seen += c.certifications_seen;
    t.dropped_self += c.dropped_self;
    t.dropped_revoked += c.dropped_revoked;
    t.dropped_expired += c.dropped_expired;
    t.dropped_bad += c.dropped_bad;
    return true;
}

bool read_one(const std::string& path, const keylist_settings& settings, keylist_reading& r,
              progress_line& p) {
    open_input in;
    if (path == "-") {
        in.name = "standard input";
        in.fd = STDIN_FILENO;
    } else {
        in.name = path;
        in.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in.fd < 0) {
            report_errno(in.name, "cannot open");
            return false;
        }
        in.owned = true;
    }
    // The start of the input, to recognise it.
    std::vector<uint8_t> start(SNIFF_SIZE);
    size_t have = 0;
    while (have < start.size()) {
        const ssize_t n = read_some(in.fd, start.data() + have, start.size() - have);
        if (n < 0) {
            report_errno(in.name, "read error");
            return false;
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    start.resize(have);
    r.openpgp.input_name = in.name;
    const uint64_t blocks_before = r.openpgp.counts.key_blocks;
    const uint64_t malformed_before = r.openpgp.counts.malformed_blocks;
    switch (detect_input_kind(start)) {
    case input_kind::empty:
        std::fprintf(stderr, "korvalinde-keylist: %s: empty input: no keys and no listing\n",
                     in.name.c_str());
        return false;
    case input_kind::listing:
        return read_listing_input(in, start, r, !settings.names_path.empty(), p);
    case input_kind::openpgp_binary:
        if (!read_binary(in, start, r, p)) return false;
        break;
    case input_kind::openpgp_armored:
        if (!read_armored(in, start, r, p)) return false;
        break;
    }
    // Without a packet header at its start, nothing says it was key data:
    // then only a key block that could be read (not one skipped as
    // malformed, which any binary file may seem to hold) shows that it was.
    const bool headed =
        (start[0] & CTB_ALWAYS_SET) != 0 || detect_input_kind(start) == input_kind::openpgp_armored;
    const uint64_t blocks = r.openpgp.counts.key_blocks - blocks_before;
    const uint64_t malformed = r.openpgp.counts.malformed_blocks - malformed_before;
    if (blocks == 0 || (!headed && blocks == malformed)) {
        std::fprintf(stderr,
                     headed ? "korvalinde-keylist: %s: holds no OpenPGP public key\n"
                            : "korvalinde-keylist: %s: neither OpenPGP key data nor a gpg colon "
                              "listing of keys\n",
                     in.name.c_str());
        return false;
    }
    return true;
}

} // namespace

input_kind detect_input_kind(std::span<const uint8_t> start) {
    if (start.empty()) return input_kind::empty;
    // A packet header has its top bit set; text (a listing, armor) does not
    // start with such a byte.
    if ((start[0] & CTB_ALWAYS_SET) != 0) return input_kind::openpgp_binary;
    if (looks_armored(start)) return input_kind::openpgp_armored;
    // Binary key data that starts inside a packet (a piece of a split file):
    // gpg escapes control characters in a listing, and every key packet
    // holds one (its version byte).
    for (const uint8_t b : start)
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return input_kind::openpgp_binary;
    return input_kind::listing;
}

bool read_keylist_inputs(const keylist_settings& settings, keylist_reading& r) {
    openpgp_collection& c = r.openpgp;
    c.rules = settings.rules;
    c.verify = settings.verify;
    c.keep_self_signatures = !settings.names_path.empty() || settings.rules.has_as_of;
    c.verbose = settings.verbose;
    c.warn = [](const std::string& line) {
        std::fprintf(stderr, "korvalinde-keylist: %s\n", line.c_str());
    };
    unsigned threads = settings.threads;
    if (threads == 0) {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        threads = online > 0 ? static_cast<unsigned>(std::min(online, 1024L)) : 1;
    }
    // Unverified, the self-signatures that choose names are still checked.
    const bool checking = c.verify || c.keep_self_signatures;
    verify_pipeline pipeline;
    if (checking) {
        start_verify_pipeline(pipeline, c, threads);
        c.pipeline = &pipeline;
    }
    bool read = true;
    {
        progress_line p;
        progress_phase reading("reading", input_mib(settings.input_paths), "MiB");
        for (const std::string& path : settings.input_paths)
            if (!read_one(path, settings, r, p)) {
                read = false;
                break;
            }
        end_openpgp_block(c);
        if (checking) finish_verify_pipeline(pipeline, c.counts);
        c.pipeline = nullptr;
    }
    if (!read) return false;

    if (checking) {
        progress_phase verifying("verifying", pending_signatures(c), "signatures");
        // Counting costs a watching thread; it runs only for a display.
        std::function<void(uint64_t, uint64_t)> count;
        uint64_t shown = 0; // only the one watching thread calls count
        if (progress_displayed())
            count = [&shown](uint64_t done, uint64_t) {
                progress_advance(static_cast<int64_t>(done - shown));
                shown = done;
            };
        verify_signatures(c, threads, count);
    }
    if (!settings.names_path.empty()) choose_user_ids(c);
    add_openpgp_keys(c, r.table, r.counts);
    return true;
}

bool write_names(const keylist_reading& r, const std::function<bool(const char*, size_t)>& write) {
    std::vector<uint64_t> ids;
    const key_list_table& t = r.table;
    for (uint32_t i = 0; i < t.entries.size(); ++i) {
        const key_list_table::entry& e = t.entries[i];
        if (e.left_out) continue;
        auto later = t.later_signers.find(i);
        if (e.signer_count == 0 && later == t.later_signers.end()) continue; // no record
        ids.push_back(e.id);
        ids.insert(ids.end(), t.signers.begin() + static_cast<ptrdiff_t>(e.first_signer),
                   t.signers.begin() + static_cast<ptrdiff_t>(e.first_signer + e.signer_count));
        if (later != t.later_signers.end())
            ids.insert(ids.end(), later->second.begin(), later->second.end());
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::string out;
    std::string raw;
    static const char digits[] = "0123456789ABCDEF";
    for (uint64_t id : ids) {
        auto listed = r.listing_user_ids.find(id);
        if (listed != r.listing_user_ids.end()) {
            raw = listed->second;
        } else if (!primary_user_id(r.openpgp, id, raw)) {
            continue;
        }
        for (int i = 0; i < 16; ++i)
            out.push_back(digits[(id >> (60 - 4 * i)) & 0xF]);
        out.push_back('\t');
        out += escape_user_id(raw);
        out.push_back('\n');
        if (out.size() >= READ_BLOCK) {
            if (!write(out.data(), out.size())) return false;
            out.clear();
        }
    }
    return out.empty() || write(out.data(), out.size());
}

void print_openpgp_summary(const keylist_reading& r) {
    const openpgp_counts& c = r.openpgp.counts;
    if (c.key_blocks == 0) return;
    std::fprintf(stderr,
                 "korvalinde-keylist: OpenPGP: %llu key blocks, %llu skipped as malformed, %llu "
                 "secret keys skipped, %llu framing errors, %llu bytes of junk, %llu oversized "
                 "packets, %llu packets cut off, %llu malformed signatures, %llu armored blocks "
                 "rejected\n"
                 "korvalinde-keylist: keys over the limits: %llu, with %llu user ids and %llu "
                 "signatures skipped\n",
                 static_cast<unsigned long long>(c.key_blocks),
                 static_cast<unsigned long long>(c.malformed_blocks),
                 static_cast<unsigned long long>(c.secret_blocks),
                 static_cast<unsigned long long>(r.framing_errors),
                 static_cast<unsigned long long>(r.junk_bytes),
                 static_cast<unsigned long long>(r.oversized_packets),
                 static_cast<unsigned long long>(r.cut_off_packets),
                 static_cast<unsigned long long>(c.malformed_signatures),
                 static_cast<unsigned long long>(r.armor_errors),
                 static_cast<unsigned long long>(c.keys_over_limits),
                 static_cast<unsigned long long>(c.skipped_user_ids),
                 static_cast<unsigned long long>(c.skipped_signatures));
    std::string line = r.openpgp.verify ? "korvalinde-keylist: signatures checked:"
                                        : "korvalinde-keylist: signatures (not verified):";
    bool first = true;
    for (size_t i = 0; i < static_cast<size_t>(verdict::count_); ++i) {
        if (c.verdicts[i] == 0) continue;
        line += first ? " " : ", ";
        first = false;
        line += std::to_string(c.verdicts[i]) + " " + verdict_name(static_cast<verdict>(i));
    }
    if (first) line += " none";
    std::fprintf(stderr, "%s\n", line.c_str());
}
