// The names file: one line per key, "16 hex digits", a tab, the key's primary
// user id, a line end. korvalinde-keylist writes it (--names); korvalinde-html
// and korvalinde-path read it to show people names beside key ids.
//
// A user id is arbitrary bytes from a key's owner. It is written as UTF-8
// with every byte that could disturb a line or a terminal escaped: control
// characters (0x00-0x1F, 0x7F), bytes that are not part of valid UTF-8, and
// the backslash itself, as "\xHH" (the backslash as "\\"). So each line holds
// printable text only; the readers still escape it for their own output
// (HTML, JSON, Graphviz), since a user id may hold markup, and show the C1
// controls and bidirectional formatting characters that valid UTF-8 may
// carry escaped (visible_text.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

// The escaped form of a raw user id, as it stands in the names file.
std::string escape_user_id(std::string_view raw);

// Key id (the 64-bit value of the 16 hex digits) to escaped user id.
using key_names = std::unordered_map<uint64_t, std::string>;

// The longest names file line kept; the rest of a longer line is left out.
constexpr size_t NAMES_LINE_MAX = 4096;

// Receives a warning, "PATH:LINE: what", for the caller to print.
using names_warning = std::function<void(const std::string&)>;

// Reads a names file. Lines that are not "16HEX<TAB>text" are errors: returns
// false with error set to "PATH:LINE: what"; a missing or unreadable file is
// "PATH: strerror". A repeated key keeps its first name. A line longer than
// NAMES_LINE_MAX bytes keeps its first NAMES_LINE_MAX bytes (less a UTF-8
// sequence the cut splits), with one warning for the line.
bool read_names_file(const std::string& path, key_names& names, std::string& error,
                     const names_warning& warn = {});

// Receives the names of a names file in file order: the key id and the
// escaped user id, which lives only until the call returns.
using names_receiver = std::function<void(uint64_t, std::string_view)>;

// Reads a names file as read_names_file does, handing each line's name to
// take instead of keeping it (repeated keys included).
bool read_names(const std::string& path, const names_receiver& take, std::string& error,
                const names_warning& warn = {});
