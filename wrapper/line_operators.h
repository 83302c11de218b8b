// Finding a command a batch line would silently drop. Each line runs as
// "exec nimvara ... -- LINE", so the shell is gone once the first command
// of a list starts: in "gpg -d a.gpg && gpg -d b.gpg" the second command
// never runs. A list operator that ends the line drops nothing, and a
// pipeline's members all start, so neither is a concern.
#pragma once

// The first ";", "&&", "||" or "&" of the line that stands outside quotes,
// substitutions and comments and is followed by another command; null when
// there is none. The line is read by the shell's quoting rules: single
// quotes, double quotes with backslash escapes, a backslash outside quotes,
// "$(...)", "${...}" and backquotes, and "#" at the start of a word; the "&"
// of a redirection ("2>&1", ">&2", "<&0") is not an operator.
const char* command_after_operator(const char* line);
