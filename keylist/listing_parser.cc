#include "listing_parser.h"

#include "civil_date.h"
#include "decimal.h"

#include <cstring>

namespace {

// One field of a line, not terminated.
struct field {
    const char* text = nullptr;
    size_t size = 0;
};

// The number of colon-separated fields the records we read use: up to the
// signature class in field 11. Fields after it are never looked at.
constexpr int FIELDS_USED = 11;

// Splits line into its first count fields; missing fields stay empty.
void split_fields(const char* line, size_t size, field* fields, int count) {
    const char* end = line + size;
    const char* at = line;
    bool more = true; // the line has a field at at
    for (int i = 0; i < count; ++i) {
        if (!more) {
            fields[i] = {};
            continue;
        }
        const char* colon = static_cast<const char*>(std::memchr(at, ':', end - at));
        const char* stop = colon != nullptr ? colon : end;
        fields[i] = {at, static_cast<size_t>(stop - at)};
        more = colon != nullptr;
        if (more) at = colon + 1;
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool parse_key_id(field f, uint64_t& id) {
    if (f.size != 16) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < 16; ++i) {
        int digit = hex_value(f.text[i]);
        if (digit < 0) return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    id = value;
    return true;
}

// The class byte from a field such as "10x", "13l" or "30x,02".
bool parse_class(field f, unsigned& sig_class) {
    if (f.size < 2) return false;
    int high = hex_value(f.text[0]), low = hex_value(f.text[1]);
    if (high < 0 || low < 0) return false;
    if (f.size > 2 && hex_value(f.text[2]) >= 0) return false; // three digits: not a byte
    sig_class = static_cast<unsigned>(high * 16 + low);
    return true;
}

bool parse_digits(const char* text, size_t size, int64_t& value) {
    const std::optional<uint64_t> v = parse_decimal(std::string_view(text, size), 0, MAX_SECONDS);
    if (!v) return false;
    value = static_cast<int64_t>(*v);
    return true;
}

// A time field: empty (NO_TIME), seconds since the epoch, or the ISO 8601
// form "YYYYMMDDTHHMMSS" that gpg is moving to.
bool parse_time(field f, int64_t& time) {
    if (f.size == 0) {
        time = NO_TIME;
        return true;
    }
    if (f.size == 15 && f.text[8] == 'T') {
        int64_t date, clock;
        if (!parse_digits(f.text, 8, date) || !parse_digits(f.text + 9, 6, clock)) return false;
        const int64_t y = date / 10000, m = date / 100 % 100, d = date % 100;
        const int64_t hh = clock / 10000, mm = clock / 100 % 100, ss = clock % 100;
        if (m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60) return false;
        time = days_from_civil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
        return true;
    }
    return parse_digits(f.text, f.size, time);
}

bool fail(listing_parser& parser, uint64_t line, std::string message) {
    parser.failed = true;
    parser.error_line = line;
    parser.error = std::move(message);
    return false;
}

void close_key(listing_parser& parser) {
    if (parser.where != listing_parser::place::in_key) return;
    const bool kept = finish_key_block(parser.block, parser.counts);
    if (parser.sink) parser.sink(parser.block.id, kept, parser.block.signers);
}

enum class record_type { pub, certificate, uid, sub, sig, rev, other };

record_type type_of(const char* line, size_t size) {
    if (size < 3 || (size > 3 && line[3] != ':')) return record_type::other;
    const char a = line[0], b = line[1], c = line[2];
    if (a == 's' && b == 'i' && c == 'g') return record_type::sig;
    if (a == 'u' && b == 'i' && c == 'd') return record_type::uid;
    if (a == 'u' && b == 'a' && c == 't') return record_type::uid;
    if (a == 'r' && b == 'e' && c == 'v') return record_type::rev;
    if (a == 'p' && b == 'u' && c == 'b') return record_type::pub;
    if (a == 's' && b == 'e' && c == 'c') return record_type::pub;
    if (a == 's' && b == 'u' && c == 'b') return record_type::sub;
    if (a == 's' && b == 's' && c == 'b') return record_type::sub;
    if (a == 'c' && b == 'r' && (c == 't' || c == 's')) return record_type::certificate;
    return record_type::other;
}

// Takes one complete line (without its line end); number counts from 1.
// A sig or rev record of the key block being read.
bool take_signature_record(listing_parser& parser, record_type type, const char* line, size_t size,
                           uint64_t number) {
    const char* what = type == record_type::sig ? "sig" : "rev";
    field fields[FIELDS_USED];
    split_fields(line, size, fields, FIELDS_USED);
    uint64_t signer;
    if (!parse_key_id(fields[4], signer))
        return fail(parser, number,
                    std::string("key id of the ") + what + " record is not 16 hexadecimal digits");
    unsigned sig_class;
    if (!parse_class(fields[10], sig_class))
        return fail(parser, number,
                    std::string("signature class of the ") + what +
                        " record is not two hexadecimal digits");
    int64_t created, expires;
    if (!parse_time(fields[5], created))
        return fail(parser, number,
                    std::string("creation time of the ") + what + " record is not a time");
    if (!parse_time(fields[6], expires))
        return fail(parser, number,
                    std::string("expiration time of the ") + what + " record is not a time");
    const char validity = fields[1].size > 0 ? fields[1].text[0] : '\0';
    if (type == record_type::sig)
        add_signature(parser.block, signer, sig_class, created, expires, validity, parser.rules,
                      parser.counts);
    else
        add_revocation(parser.block, signer, sig_class, created, parser.rules, parser.counts,
                       validity);
    return true;
}

bool take_line(listing_parser& parser, const char* line, size_t size, uint64_t number) {
    if (size > LISTING_LINE_MAX)
        return fail(parser, number,
                    "line longer than " + std::to_string(LISTING_LINE_MAX) + " bytes");
    if (size > 0 && line[size - 1] == '\r') --size; // a listing that passed through CRLF
    const record_type type = type_of(line, size);
    if (type == record_type::other) return true; // unknown and uninteresting records

    using place = listing_parser::place;
    if (parser.where == place::before_first_key && type != record_type::pub &&
        type != record_type::certificate)
        return fail(parser, number, std::string(line, 3) + " record before the first pub record");

    field fields[FIELDS_USED];
    if (type == record_type::pub || type == record_type::certificate) ++parser.records;
    switch (type) {
    case record_type::pub: {
        split_fields(line, size, fields, 7);
        uint64_t id;
        if (!parse_key_id(fields[4], id))
            return fail(parser, number, "key id of the pub record is not 16 hexadecimal digits");
        int64_t created, expires;
        if (!parse_time(fields[5], created))
            return fail(parser, number, "creation time of the pub record is not a time");
        if (!parse_time(fields[6], expires))
            return fail(parser, number, "expiration time of the pub record is not a time");
        close_key(parser);
        const bool revoked = fields[1].size > 0 && fields[1].text[0] == 'r';
        start_key_block(parser.block, id, created, expires, revoked, parser.rules, parser.counts);
        parser.where = place::in_key;
        return true;
    }
    case record_type::certificate:
        // An X.509 certificate: nothing in it is an OpenPGP certification.
        close_key(parser);
        parser.where = place::in_other_certificate;
        return true;
    default:
        break;
    }
    if (parser.where != place::in_key) return true;

    switch (type) {
    case record_type::uid:
        start_user_id(parser.block, parser.counts);
        if (parser.on_user_id && line[1] == 'i') {
            split_fields(line, size, fields, 10);
            parser.on_user_id(parser.block.id, std::string_view(fields[9].text, fields[9].size));
        }
        return true;
    case record_type::sub:
        start_subkey(parser.block, parser.counts);
        return true;
    case record_type::sig:
    case record_type::rev:
        return take_signature_record(parser, type, line, size, number);
    default:
        return true;
    }
}

} // namespace

bool feed_listing(listing_parser& parser, const char* data, size_t size) {
    if (parser.failed || parser.finished) return false;
    const char* end = data + size;
    const char* at = data;
    if (!parser.partial.empty()) {
        const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (newline == nullptr) {
            if (parser.partial.size() + size > LISTING_LINE_MAX) {
                // Report it now rather than buffer an endless line; the
                // message is the one a complete line of this length gets.
                return fail(parser, parser.lines + 1,
                            "line longer than " + std::to_string(LISTING_LINE_MAX) + " bytes");
            }
            parser.partial.append(at, size);
            return true;
        }
        parser.partial.append(at, newline - at);
        ++parser.lines;
        if (!take_line(parser, parser.partial.data(), parser.partial.size(), parser.lines))
            return false;
        parser.partial.clear();
        at = newline + 1;
    }
    while (at < end) {
        const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (newline == nullptr) {
            if (static_cast<size_t>(end - at) > LISTING_LINE_MAX)
                return fail(parser, parser.lines + 1,
                            "line longer than " + std::to_string(LISTING_LINE_MAX) + " bytes");
            parser.partial.assign(at, end - at);
            break;
        }
        ++parser.lines;
        if (!take_line(parser, at, newline - at, parser.lines)) return false;
        at = newline + 1;
    }
    return true;
}

bool finish_listing(listing_parser& parser) {
    if (parser.failed || parser.finished) return false;
    if (!parser.partial.empty()) {
        ++parser.lines;
        if (!take_line(parser, parser.partial.data(), parser.partial.size(), parser.lines))
            return false;
        parser.partial.clear();
    }
    close_key(parser);
    parser.where = listing_parser::place::before_first_key;
    parser.finished = true;
    return true;
}
