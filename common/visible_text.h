// Text from key data on its way out: decoding UTF-8, and which code points
// are shown escaped because they would act rather than show. Control
// characters (C0, DEL, C1) move a terminal's cursor or start its escape
// sequences; bidirectional formatting characters (U+061C, U+200E/U+200F,
// U+202A-U+202E, U+2066-U+2069) reverse or reorder the text after them, so
// that "Alice" followed by U+202E shows the rest of a line mirrored. Every
// writer of user ids (text, HTML, Graphviz, JSON) decides with
// is_hidden_code_point, and shows a sequence that is not valid UTF-8 as
// U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Length of the valid UTF-8 sequence starting at text[i], or 0 when none
// starts there (overlong forms, surrogates and values past U+10FFFF are not
// valid).
size_t utf8_sequence_length(std::string_view text, size_t i);

struct decoded_char {
    uint32_t code_point; // REPLACEMENT_CHARACTER for an invalid byte
    size_t length;       // bytes taken, at least 1
};

// The character starting at text[i] (i < text.size()); an invalid byte is
// taken alone as U+FFFD.
decoded_char decode_utf8(std::string_view text, size_t i);

// True for the code points that are shown escaped: C0, DEL, C1 and the
// bidirectional formatting characters.
bool is_hidden_code_point(uint32_t code_point);

void append_utf8(std::string& out, uint32_t code_point);

// text as valid UTF-8 with every hidden code point written as "\uXXXX" (six
// visible characters) and every invalid byte as U+FFFD.
std::string visible_text(std::string_view text);
