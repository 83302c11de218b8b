// The mangled passphrase form: decoding any text must not crash and must
// agree with a plain decoder written here; encoding any byte string gives
// only literal-set bytes and backslash escapes, fits exactly the size it
// promises, and decodes back to the same bytes.
#include "fuzz_check.h"
#include "mangle.h"
#include "settings.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

// The decoder the obvious way: a backslash takes exactly three octal digits,
// the first 0 to 3; every other byte stands for itself.
std::optional<std::string> reference_decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 3 >= text.size()) return std::nullopt;
        char d1 = text[i + 1], d2 = text[i + 2], d3 = text[i + 3];
        if (d1 < '0' || d1 > '3' || !is_octal(d2) || !is_octal(d3)) return std::nullopt;
        out += static_cast<char>((d1 - '0') * 64 + (d2 - '0') * 8 + (d3 - '0'));
        i += 3;
    }
    return out;
}

// Decodes a copy of text in a buffer of exactly its size.
std::optional<std::string> decode(const std::string& text) {
    std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
    std::memcpy(buffer.get(), text.data(), text.size());
    int n = unmangle_in_place(buffer.get(), static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    FUZZ_CHECK(static_cast<size_t>(n) <= text.size());
    return std::string(buffer.get(), static_cast<size_t>(n));
}

// Encodes into a heap buffer of exactly size bytes, so that a write past the
// promised size is an address error.
std::optional<std::string> encode(const std::string& data, int size) {
    std::unique_ptr<char[]> dest(new char[size > 0 ? size : 1]);
    int n = mangle_into(data.data(), static_cast<int>(data.size()), dest.get(), size);
    if (n < 0) return std::nullopt;
    FUZZ_CHECK(n < size);
    FUZZ_CHECK(dest[n] == '\0');
    return std::string(dest.get(), static_cast<size_t>(n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // Passphrases never exceed the passphrase buffer.
    if (size > static_cast<size_t>(PASSPHRASE_MAX)) return 0;
    const std::string input(reinterpret_cast<const char*>(bytes), size);

    // The input as a mangled text.
    std::optional<std::string> decoded = decode(input);
    std::optional<std::string> expected = reference_decode(input);
    FUZZ_CHECK(decoded.has_value() == expected.has_value());
    if (decoded) FUZZ_CHECK(*decoded == *expected);

    // The input as a passphrase: one byte or four per byte, nothing else.
    size_t form_length = 0;
    for (unsigned char c : input)
        form_length += in_literal_set(c) ? 1 : 4;
    const int fits = static_cast<int>(form_length) + 1;
    std::optional<std::string> form = encode(input, fits);
    FUZZ_CHECK(form.has_value());
    FUZZ_CHECK(form->size() == form_length);
    for (size_t i = 0; i < form->size(); ++i) {
        unsigned char c = static_cast<unsigned char>((*form)[i]);
        if (c == '\\') {
            FUZZ_CHECK(i + 3 < form->size());
            FUZZ_CHECK((*form)[i + 1] >= '0' && (*form)[i + 1] <= '3');
            FUZZ_CHECK(is_octal((*form)[i + 2]) && is_octal((*form)[i + 3]));
            i += 3;
        } else {
            FUZZ_CHECK(in_literal_set(c));
        }
    }
    std::optional<std::string> back = decode(*form);
    FUZZ_CHECK(back.has_value() && *back == input);
    // A decoded text mangles to a form that decodes to it again.
    if (decoded) {
        std::optional<std::string> again =
            encode(*decoded, 4 * static_cast<int>(decoded->size()) + 1);
        FUZZ_CHECK(again.has_value() && decode(*again) == decoded);
    }

    // One byte short of the form and its NUL is refused without a write
    // past the buffer, and so is any smaller buffer.
    FUZZ_CHECK(!encode(input, fits - 1).has_value());
    int small = size > 0 ? bytes[0] % 16 : 0;
    FUZZ_CHECK(encode(input, small).has_value() == (small >= fits));
    return 0;
}
