#include "key_import.h"

#include "program_messages.h"
#include "progress.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// strtol in base 16 on four characters with a terminator behind them;
// digits tells whether it read any hexadecimal digit.
long parse_group(const char* chars, bool* digits = nullptr) {
    char group[5];
    std::memcpy(group, chars, 4);
    group[4] = '\0';
    char* end = nullptr;
    long value = std::strtol(group, &end, 16);
    if (digits != nullptr) *digits = end != group;
    return value;
}

// A key id as read from the 16 id characters of a record.
struct record_id {
    uint32_t high = 0;
    uint32_t low = 0;
};

bool read_loose_id(const char* chars, record_id& id) {
    for (size_t group = 0; group < 16; group += 4) {
        bool digits = false;
        (void)parse_group(chars + group, &digits); // only whether it has digits
        if (!digits) return false;
    }
    id = {parse_id_half(chars), parse_id_half(chars + 8)};
    return true;
}

// The value of each byte as a hexadecimal digit of either case, or NOT_HEX.
constexpr uint8_t NOT_HEX = 0x10;
constexpr auto HEX_DIGITS = [] {
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] = NOT_HEX;
    for (int d = 0; d < 10; ++d)
        table[static_cast<size_t>('0') + static_cast<size_t>(d)] = static_cast<uint8_t>(d);
    for (int d = 0; d < 6; ++d) {
        table[static_cast<size_t>('a') + static_cast<size_t>(d)] = static_cast<uint8_t>(10 + d);
        table[static_cast<size_t>('A') + static_cast<size_t>(d)] = static_cast<uint8_t>(10 + d);
    }
    return table;
}();

// The 16 id characters when all are hexadecimal digits (the form writers
// write, in either case): true with their value in id.
bool read_plain_id(const char* chars, uint64_t& id) {
    uint64_t value = 0;
    uint8_t seen = 0;
    for (int i = 0; i < 16; ++i) {
        uint8_t digit = HEX_DIGITS[static_cast<unsigned char>(chars[i])];
        seen |= digit;
        value = value << 4 | (digit & 0xF);
    }
    id = value;
    return (seen & NOT_HEX) == 0;
}

// Reads the 16 id characters as parse_id_half reads each half. Returns false
// when a group of four yields no hexadecimal digit: such an id (prose,
// blanks) would read as a made-up key such as 0000000000000000.
bool read_id(const char* chars, record_id& id) {
    uint64_t value;
    if (!read_plain_id(chars, value)) return read_loose_id(chars, id);
    id = {static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
    return true;
}

void append_key(key_graph& g, key_lookup& lookup, record_id id) {
    g.key_table.push_back({id.high, id.low});
    remember_key(g, lookup, g.key_count);
    ++g.key_count;
}

// Reads a stream in large chunks and hands out consecutive record-sized
// blocks from its start; a final shorter block is never handed out.
struct block_reader {
    FILE* input;
    // About 126 KiB: reads this large cost no more per byte than larger ones,
    // and the buffer stays in cache. Left uninitialised: only bytes fread has
    // filled are ever looked at.
    static constexpr size_t BUFFER_SIZE = RECORD_SIZE * 7168;
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(BUFFER_SIZE);
    size_t start = 0;
    size_t end = 0;
};

const char* next_block(block_reader& reader) {
    if (reader.end - reader.start < RECORD_SIZE) {
        size_t left = reader.end - reader.start;
        std::memmove(reader.buffer.get(), reader.buffer.get() + reader.start, left);
        reader.start = 0;
        reader.end = left;
        while (reader.end < block_reader::BUFFER_SIZE) {
            size_t n = std::fread(reader.buffer.get() + reader.end, 1,
                                  block_reader::BUFFER_SIZE - reader.end, reader.input);
            if (n == 0) break;
            reader.end += n;
        }
        progress_advance(static_cast<int64_t>((reader.end - left) / RECORD_SIZE));
        if (reader.end < RECORD_SIZE) return nullptr;
    }
    const char* block = reader.buffer.get() + reader.start;
    reader.start += RECORD_SIZE;
    return block;
}

// A line of the status file; without a status file the import runs silently.
__attribute__((format(printf, 2, 3))) void status_line(FILE* status_file, const char* format, ...) {
    if (status_file == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(status_file, format, args);
    va_end(args);
}

bool read_failed(FILE* input, const char* input_path) {
    if (!std::ferror(input)) return false;
    int error = errno;
    std::fprintf(stderr, "%s: error reading '%s': %s\n", program_name(), input_path,
                 std::strerror(error));
    return true;
}

// Builds one adjacency direction from the edge list: offsets by counting,
// then each key's entries in edge (record) order.
void build_adjacency(int32_t key_count, const std::vector<std::pair<int32_t, int32_t>>& edges,
                     bool by_signed_key, std::vector<int64_t>& start, std::vector<int32_t>& keys) {
    start.assign(static_cast<size_t>(key_count) + 1, 0);
    for (const auto& [signer, signed_key] : edges)
        ++start[static_cast<size_t>(by_signed_key ? signed_key : signer) + 1];
    for (size_t k = 1; k < start.size(); ++k)
        start[k] += start[k - 1];
    keys.resize(edges.size());
    std::vector<int64_t> fill(start.begin(), start.end() - 1);
    for (const auto& [signer, signed_key] : edges) {
        int32_t owner = by_signed_key ? signed_key : signer;
        int32_t other = by_signed_key ? signer : signed_key;
        keys[static_cast<size_t>(fill[static_cast<size_t>(owner)]++)] = other;
    }
}

} // namespace

uint32_t parse_id_half(const char* chars) {
    uint32_t value = 0;
    for (int i = 0; i < 8; ++i) {
        int digit = hex_value(chars[i]);
        if (digit < 0) {
            // Not plain hexadecimal: convert each group as strtol does.
            long first = parse_group(chars);
            long second = parse_group(chars + 4);
            return static_cast<uint32_t>(static_cast<unsigned long>(first) * 65536UL +
                                         static_cast<unsigned long>(second));
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

int32_t find_key(const key_lookup& lookup, const char* id_chars) {
    return lookup_key(lookup, parse_id_half(id_chars), parse_id_half(id_chars + 8));
}

void add_key(key_graph& g, key_lookup& lookup, const char* id_chars) {
    append_key(g, lookup, {parse_id_half(id_chars), parse_id_half(id_chars + 8)});
}

namespace {

// A key list held in memory: its consecutive record-sized blocks, the same ones a
// file of these bytes gives.
struct memory_reader {
    const char* data;
    size_t size;
    size_t start = 0;
};

const char* next_block(memory_reader& reader) {
    if (reader.size - reader.start < RECORD_SIZE) return nullptr;
    const char* block = reader.data + reader.start;
    reader.start += RECORD_SIZE;
    // Counted in blocks here; the file reader counts a whole chunk at a time.
    if (reader.start % (RECORD_SIZE * 65536) == 0) progress_advance(65536);
    return block;
}

// The two passes over a key list, shared by the file and the memory import.
// A source gives its blocks with next_block(source), reports after each pass
// whether reading failed, and starts over for pass 2.
struct file_source {
    FILE* input;
    const char* input_path;
};

bool pass_failed(const file_source& source) {
    return read_failed(source.input, source.input_path);
}

bool restart(const file_source& source) {
    if (std::fseek(source.input, 0, SEEK_SET) == 0) return true;
    int error = errno;
    std::fprintf(stderr, "%s: cannot read '%s' a second time: %s\n", program_name(),
                 source.input_path, std::strerror(error));
    return false;
}

block_reader open_pass(const file_source& source) {
    return block_reader{source.input};
}

struct memory_source {
    const char* data;
    size_t size;
};

bool pass_failed(const memory_source&) {
    return false;
}

bool restart(const memory_source&) {
    return true;
}

memory_reader open_pass(const memory_source& source) {
    return memory_reader{source.data, source.size};
}

// Pass 1: appends a key for every "p" record whose id can be read. Returns
// false after a failure that has been reported.
template <typename Source>
bool read_keys(const Source& source, const char* input_path, key_graph& g) {
    auto reader = open_pass(source);
    int64_t blocks = 0;
    int64_t malformed = 0;
    while (const char* block = next_block(reader)) {
        ++blocks;
        const char type = block[RECORD_TYPE_AT];
        const bool record = block[RECORD_LINE_END_AT] == '\n';
        uint64_t plain = 0;
        const bool written = read_plain_id(block + RECORD_ID_AT, plain);
        // Well formed: "p" or "s", 16 hexadecimal digits and a line end.
        if (!record || !written || (type != RECORD_KEY && type != RECORD_SIGNATURE)) ++malformed;
        if (!record || type != RECORD_KEY) continue;
        record_id id{static_cast<uint32_t>(plain >> 32), static_cast<uint32_t>(plain)};
        if (!written && !read_loose_id(block + RECORD_ID_AT, id)) continue; // counted as malformed
        if (g.key_count == std::numeric_limits<int32_t>::max()) {
            std::fprintf(stderr, "%s: too many keys in '%s'\n", program_name(), input_path);
            return false;
        }
        g.key_table.push_back({id.high, id.low});
        ++g.key_count;
    }
    if (pass_failed(source)) return false;
    // The records are still read by the rules above; a warning only
    // says that the input looks like something else.
    if (malformed > blocks / 2)
        std::fprintf(stderr,
                     "%s: warning: %" PRId64 " of the %" PRId64
                     " records of %s are malformed (a record is \"p\" or \"s\", 16 "
                     "hexadecimal digits and a line end): is it a key list?\n",
                     program_name(), malformed, blocks, input_path);
    return true;
}

// Pass 2 looks up its records a batch at a time (lookup_keys): the
// records of a batch, each "p" or "s" record with a readable id.
struct record_batch {
    static constexpr size_t SIZE = 4096;
    char types[SIZE];
    bool readable[SIZE];
    uint64_t ids[SIZE];
    int32_t keys[SIZE];
    size_t count = 0;
};

// Fills the batch with the next records of the pass; false at its end.
template <typename Reader> bool fill_batch(Reader& reader, record_batch& batch) {
    batch.count = 0;
    while (batch.count < record_batch::SIZE) {
        const char* block = next_block(reader);
        if (block == nullptr) break;
        if (block[RECORD_LINE_END_AT] != '\n') continue;
        const char type = block[RECORD_TYPE_AT];
        if (type != RECORD_KEY && type != RECORD_SIGNATURE) continue;
        record_id id;
        const size_t i = batch.count++;
        batch.types[i] = type;
        batch.readable[i] = read_id(block + RECORD_ID_AT, id);
        batch.ids[i] = batch.readable[i] ? (static_cast<uint64_t>(id.high) << 32) | id.low : 0;
    }
    return batch.count > 0;
}

// Pass 2: the edges (signer, signed key) in record order, with the progress
// lines. Returns false after a failure that has been reported.
template <typename Source>
bool read_signatures(const Source& source, const key_lookup& lookup, FILE* status_file,
                     key_graph& g, std::vector<std::pair<int32_t, int32_t>>& edges) {
    auto reader = open_pass(source);
    auto batch = std::make_unique<record_batch>();
    int32_t current_key = -1;
    while (fill_batch(reader, *batch)) {
        lookup_keys(lookup, batch->ids, batch->count, batch->keys);
        for (size_t i = 0; i < batch->count; ++i) {
            const int32_t key = batch->readable[i] ? batch->keys[i] : -1;
            if (batch->types[i] == RECORD_KEY) {
                // The signatures of a key passed over in pass 1 are passed
                // over with it.
                current_key = key;
                if (current_key == -1 && batch->readable[i]) {
                    // Only possible when the file changed between the passes.
                    status_line(status_file, "Error finding key in pass 2.\n");
                    return false;
                }
                continue;
            }
            if (key != -1 && current_key != -1) {
                edges.emplace_back(key, current_key);
                ++g.sig_count;
            }
            // Progress at every multiple of 1000, repeated while signatures
            // are skipped at such a count.
            if (g.sig_count % 1000 == 0) {
                status_line(status_file, "%" PRId64 " sigs imported...\n", g.sig_count);
                // A failure shows in the stream's error flag.
                if (status_file != nullptr) (void)std::fflush(status_file);
            }
        }
    }
    return !pass_failed(source);
}

template <typename Source>
int import_passes(const Source& source, const char* input_path, int64_t records, FILE* status_file,
                  key_graph& g, key_lookup* lookup_out) {
    g = key_graph{};
    key_lookup lookup;

    progress_phase progress("import", 2 * records, "records");

    status_line(status_file, "Importing pass 1 (keys)...\n");
    if (!read_keys(source, input_path, g)) return 1;
    status_line(status_file, "done.\n");
    status_line(status_file, "%d keys imported\n", g.key_count);
    build_lookup(g, lookup);
    if (!restart(source)) return 1;

    std::vector<std::pair<int32_t, int32_t>> edges;
    // Each signature is a record; the size is known for files only.
    edges.reserve(static_cast<size_t>(records));
    status_line(status_file, "Importing pass 2 (sigs)...\n");
    if (!read_signatures(source, lookup, status_file, g, edges)) return 1;
    status_line(status_file, "done.\n");
    status_line(status_file, "%" PRId64 " sigs imported\n", g.sig_count);

    build_adjacency(g.key_count, edges, true, g.signed_by_start, g.signed_by_keys);
    build_adjacency(g.key_count, edges, false, g.signs_start, g.signs_keys);
    if (lookup_out != nullptr) *lookup_out = std::move(lookup);
    return 0;
}

} // namespace

int import_keys(FILE* input, const char* input_path, FILE* status_file, key_graph& g,
                key_lookup* lookup) {
    // Both passes read every record; a pipe or device has no known size.
    struct stat input_stat {};
    int64_t records = fstat(fileno(input), &input_stat) == 0 && S_ISREG(input_stat.st_mode)
                          ? static_cast<int64_t>(input_stat.st_size / RECORD_SIZE)
                          : 0;
    return import_passes(file_source{input, input_path}, input_path, records, status_file, g,
                         lookup);
}

int import_keys_from_memory(const char* data, size_t size, const char* input_path,
                            FILE* status_file, key_graph& g, key_lookup* lookup) {
    return import_passes(memory_source{data, size}, input_path,
                         static_cast<int64_t>(size / RECORD_SIZE), status_file, g, lookup);
}
