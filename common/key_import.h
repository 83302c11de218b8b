// Import of a key list into the signature graph.
//
// The key list (key_list_format.h) is read in fixed record-sized blocks from
// the start of the file. Blocks whose last byte is not a line end, and record
// types other than "p" and "s", are passed over; the id characters are read
// as parse_id_half describes, more loosely than writers write them. A record
// whose id has a group of four characters without a hexadecimal digit is
// passed over too, and so are the signatures under such a "p" record.
#pragma once

#include "key_graph.h"
#include "key_list_format.h"
#include "key_lookup.h"

#include <cstdint>
#include <cstdio>

// The id half denoted by 8 characters: two groups of four, each converted like
// strtol in base 16 (leading white space, a sign and a "0x" prefix accepted,
// conversion stopping at the first non-digit), combined as
// first * 65536 + second modulo 2^32.
uint32_t parse_id_half(const char* chars);

// The lowest key index whose id equals the 16 id characters, or -1.
int32_t find_key(const key_lookup& lookup, const char* id_chars);

// Appends a key with the id of the 16 id characters at index key_count.
void add_key(key_graph& g, key_lookup& lookup, const char* id_chars);

// Reads the key list twice (keys, then signatures), fills g with the key
// table and both adjacency directions, and writes the progress lines into
// status_file (none when it is null). Returns 0, or 1 after a failure that has been reported (the
// inconsistency into status_file, a read failure on standard error). When
// lookup is given, it receives the id lookup the import built.
int import_keys(FILE* input, const char* input_path, FILE* status_file, key_graph& g,
                key_lookup* lookup = nullptr);

// The same import over a key list held in memory (size bytes from data), with
// the same graph and status lines as a file of these bytes; input_path names
// it in messages.
int import_keys_from_memory(const char* data, size_t size, const char* input_path,
                            FILE* status_file, key_graph& g, key_lookup* lookup = nullptr);
