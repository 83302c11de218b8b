#include "line_operators.h"

namespace {

const char* skip_double_quotes(const char* p);
const char* skip_substitution(const char* p);

// Each skip_ function takes the opening character(s) of a construct and
// returns the first character after its end, or the line's end when the
// construct is not closed (the shell then refuses the line by itself).

const char* skip_single_quotes(const char* p) {
    for (++p; *p != '\0'; ++p)
        if (*p == '\'') return p + 1;
    return p;
}

const char* skip_escape(const char* p) {
    return p[1] == '\0' ? p + 1 : p + 2;
}

const char* skip_backquotes(const char* p) {
    for (++p; *p != '\0';) {
        if (*p == '\\') {
            p = skip_escape(p);
        } else if (*p == '`') {
            return p + 1;
        } else {
            ++p;
        }
    }
    return p;
}

// One quoted or substituted piece of a word starting at p, or null when p
// starts none.
const char* skip_quoted(const char* p) {
    switch (*p) {
    case '\\':
        return skip_escape(p);
    case '\'':
        return skip_single_quotes(p);
    case '"':
        return skip_double_quotes(p);
    case '`':
        return skip_backquotes(p);
    case '$':
        if (p[1] == '(' || p[1] == '{') return skip_substitution(p);
        return nullptr;
    default:
        return nullptr;
    }
}

const char* skip_double_quotes(const char* p) {
    for (++p; *p != '\0';) {
        if (*p == '"') return p + 1;
        // Single quotes are plain characters here.
        const char* after = *p == '\'' ? nullptr : skip_quoted(p);
        p = after != nullptr ? after : p + 1;
    }
    return p;
}

// "$(...)", "$((...))" or "${...}", with their nesting and quotes.
const char* skip_substitution(const char* p) {
    char open = p[1];
    char close = open == '(' ? ')' : '}';
    int depth = 1;
    for (p += 2; *p != '\0';) {
        if (*p == open) {
            ++depth;
            ++p;
        } else if (*p == close) {
            ++p;
            if (--depth == 0) return p;
        } else {
            const char* after = skip_quoted(p);
            p = after != nullptr ? after : p + 1;
        }
    }
    return p;
}

} // namespace

const char* command_after_operator(const char* line) {
    const char* pending = nullptr; // an operator with no command after it yet
    int depth = 0;                 // inside "( ... )", where lists run whole
    bool word_start = true;
    for (const char* p = line; *p != '\0';) {
        char c = *p;
        if (c == ' ' || c == '\t') {
            word_start = true;
            ++p;
            continue;
        }
        if (c == '#' && word_start) break; // a comment runs to the line's end
        bool is_operator = c == ';' || c == '&' || c == '|';
        if (!is_operator && pending != nullptr) return pending;
        if (is_operator) {
            const char* found = nullptr;
            if (c == ';') {
                found = ";";
                p += p[1] == ';' ? 2 : 1;
            } else if (p[1] == c) {
                found = c == '&' ? "&&" : "||";
                p += 2;
            } else {
                found = c == '&' ? "&" : nullptr; // a lone "|" is a pipe
                ++p;
            }
            if (depth == 0 && found != nullptr && pending == nullptr) pending = found;
            word_start = true;
        } else if (c == '(' || c == ')') {
            depth += c == '(' ? 1 : (depth > 0 ? -1 : 0);
            word_start = true;
            ++p;
        } else if (c == '<' || c == '>') {
            // The redirection operator with what belongs to it: ">&", "<&",
            // ">>", "<<", "<>", ">|".
            ++p;
            if (*p == '&' || *p == '>' || *p == '<' || *p == '|') ++p;
            word_start = true;
        } else {
            const char* after = skip_quoted(p);
            p = after != nullptr ? after : p + 1;
            word_start = false;
        }
    }
    return nullptr;
}
