// The key list that korvalinde reads and korvalinde-keylist and keygen
// write: a sequence of 18-byte records, each a record type ("p" a key, "s" a
// signature on the key of the nearest "p" record before it), 16 hexadecimal
// characters of the 64-bit key id and a line end. Writers use upper-case
// digits; readers decide themselves how much else they accept.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t RECORD_SIZE = 18;
constexpr size_t RECORD_TYPE_AT = 0; // 'p' or 's'
constexpr size_t RECORD_ID_AT = 1;   // 16 hexadecimal digits
constexpr size_t RECORD_ID_CHARS = 16;
constexpr size_t RECORD_LINE_END_AT = 17; // '\n'
constexpr char RECORD_KEY = 'p';
constexpr char RECORD_SIGNATURE = 's';

// Writes the record of type and id into out[0..RECORD_SIZE), with
// upper-case digits.
inline void put_key_list_record(char* out, char type, uint64_t id) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out[RECORD_TYPE_AT] = type;
    for (size_t i = 0; i < RECORD_ID_CHARS; ++i)
        out[RECORD_ID_AT + i] = digits[(id >> (60 - 4 * i)) & 0xF];
    out[RECORD_LINE_END_AT] = '\n';
}

// One record as a reader sees it.
struct key_list_record {
    char type = 0;
    uint64_t id = 0;
};

// Reads the record at in[0..RECORD_SIZE): true for a "p" or "s" record with
// 16 hexadecimal digits (either case) and a line end, with its type and id in
// record; false for anything else, leaving record as it was.
inline bool read_key_list_record(const char* in, key_list_record& record) {
    const char type = in[RECORD_TYPE_AT];
    if ((type != RECORD_KEY && type != RECORD_SIGNATURE) || in[RECORD_LINE_END_AT] != '\n')
        return false;
    uint64_t id = 0;
    for (size_t i = 0; i < RECORD_ID_CHARS; ++i) {
        const char c = in[RECORD_ID_AT + i];
        uint64_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A') + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a') + 10;
        } else {
            return false;
        }
        id = id << 4 | digit;
    }
    record = {type, id};
    return true;
}

// Whether the record at in is exactly as put_key_list_record writes it
// (upper-case digits): what korvalinde-keylist and keygen promise to write.
inline bool is_written_form(const char* in) {
    key_list_record record;
    if (!read_key_list_record(in, record)) return false;
    char again[RECORD_SIZE];
    put_key_list_record(again, record.type, record.id);
    for (size_t i = 0; i < RECORD_SIZE; ++i)
        if (again[i] != in[i]) return false;
    return true;
}
