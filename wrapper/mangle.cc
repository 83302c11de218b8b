#include "mangle.h"

#include "diagnostics.h"
#include "secret_memory.h"
#include "settings.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

bool in_literal_set(unsigned char byte) {
    return (byte >= 0x2B && byte <= 0x3B) || (byte >= 'A' && byte <= 'Z') || byte == '_' ||
           (byte >= 'a' && byte <= 'z') || byte == '~';
}

int mangle_into(const char* data, int len, char* dest, int size) {
    if (size < 1) return -1;
    int out = 0;
    for (int i = 0; i < len; ++i) {
        unsigned char byte = static_cast<unsigned char>(data[i]);
        if (in_literal_set(byte)) {
            if (out > size - 2) return -1;
            dest[out++] = static_cast<char>(byte);
        } else {
            if (out > size - 5) return -1;
            dest[out++] = '\\';
            dest[out++] = static_cast<char>('0' + (byte >> 6));
            dest[out++] = static_cast<char>('0' + ((byte >> 3) & 7));
            dest[out++] = static_cast<char>('0' + (byte & 7));
        }
    }
    dest[out] = '\0';
    return out;
}

int unmangle_in_place(char* buffer, int len) {
    int r = 0;
    int w = 0;
    while (r < len) {
        char c = buffer[r++];
        if (c == '\\') {
            if (r + 3 > len) return -1;
            char d1 = buffer[r];
            char d2 = buffer[r + 1];
            char d3 = buffer[r + 2];
            r += 3;
            if (d1 < '0' || d1 > '3' || d2 < '0' || d2 > '7' || d3 < '0' || d3 > '7') return -1;
            c = static_cast<char>((d1 - '0') * 64 + (d2 - '0') * 8 + (d3 - '0'));
        }
        buffer[w++] = c;
    }
    return w;
}

int mangle_passphrase(const char* data, int len, char* dest, int size) {
    int out = mangle_into(data, len, dest, size);
    if (out < 0) fatal_message("could not mangle passphrase");
    return out;
}

int unmangle_passphrase(char* buffer, int len) {
    int out = unmangle_in_place(buffer, len);
    if (out < 0) fatal_message("could not unmangle passphrase");
    return out;
}

namespace {

// The value of an environment entry of the variable, or null for another entry.
char* variable_value(char* entry) {
    size_t name_length = strlen(PASSPHRASE_VARIABLE);
    if (strncmp(entry, PASSPHRASE_VARIABLE, name_length) != 0 || entry[name_length] != '=')
        return nullptr;
    return entry + name_length + 1;
}

// Takes every entry of the variable except `keep` out of the environment,
// its value wiped first. The environment can hold the name more than once
// (execve passes on whatever it is given), and a lookup finds only the first.
void drop_other_copies(const char* keep) {
    char** to = environ;
    for (char** from = environ; *from != nullptr; ++from) {
        char* value = *from == keep ? nullptr : variable_value(*from);
        if (value != nullptr) {
            wipe_secret(value, strlen(value));
            continue;
        }
        *to++ = *from;
    }
    *to = nullptr;
}

// The entry putenv holds. The environment keeps this very string, so it stays
// allocated while installed; it is what an executed program inherits.
char* env_entry = nullptr;
size_t env_entry_size = 0;
} // namespace

void set_passphrase_env(const char* data, int len) {
    size_t size = strlen(PASSPHRASE_VARIABLE) + 4 * static_cast<size_t>(len) + 2;
    char* previous = env_entry;
    size_t previous_size = env_entry_size;
    char* entry = static_cast<char*>(malloc(size));
    if (entry == nullptr) fatal_no_memory();
    // An empty value holds nothing to keep out of swap (it is what every
    // wrapped command gets); locking would only cost a system call.
    if (len > 0) lock_secret(entry, size);
    env_entry = entry;
    env_entry_size = size;
    int p = do_snprintf(entry, size, "%s=", PASSPHRASE_VARIABLE);
    if (data != nullptr && len > 0)
        mangle_passphrase(data, len, entry + p, static_cast<int>(size) - p);
    verbose_message(2, "setting environment variable: %s", entry);
    if (putenv(entry) != 0) fatal_errno();
    drop_other_copies(entry);
    if (previous != nullptr) {
        wipe_secret(previous, previous_size);
        free(previous);
    }
}

void wipe_passphrase_variable() {
    for (char** entry = environ; *entry != nullptr; ++entry) {
        char* value = variable_value(*entry);
        if (value != nullptr) wipe_secret(value, strlen(value));
    }
}
