#include "command_line.h"

#include "diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

wrapper_settings settings;

namespace {

bool is(const char* argument, const char* short_form, const char* long_form) {
    return strcmp(argument, short_form) == 0 || strcmp(argument, long_form) == 0;
}

constexpr const char* PASSPHRASE_FILE_LABEL = "-p/--passphrase-file";
constexpr const char* COMMAND_FILE_LABEL = "-F/--file";
constexpr const char* OPTION_NAME_LABEL = "-o/--option-name";

// The failure raised inside the helpers below; PARSE_OK while none.
struct parse_state {
    parse_outcome failure = {PARSE_OK, nullptr};
    bool failed() const { return failure.status != PARSE_OK; }
    void fail(parse_status status, const char* detail) {
        if (!failed()) failure = {status, detail};
    }
};

const char* require_file_name(parse_state& state, const char* label, const char* value) {
    if (value == nullptr) state.fail(PARSE_EXPECTS_FILE_NAME, label);
    return value;
}

const char* take_file_argument(parse_state& state, wrapper_settings& s, const char* label,
                               const char* value) {
    require_file_name(state, label, value);
    if (value == nullptr || state.failed()) return value;
    if (strcmp(value, "-") == 0) {
        s.stdin_uses += 1;
        if (s.stdin_uses >= 2) state.fail(PARSE_STDIN_TWICE, label);
    }
    return value;
}

void add_command_file(parse_state& state, wrapper_settings& s, const char* name) {
    if (s.file_count == FILES_MAX) {
        state.fail(PARSE_TOO_MANY_FILES, nullptr);
        return;
    }
    s.files[s.file_count] = take_file_argument(state, s, COMMAND_FILE_LABEL, name);
    if (!state.failed()) s.file_count += 1;
}

} // namespace

parse_outcome parse_arguments(char** argv, wrapper_settings& s) {
    parse_state state;
    bool separator = false;
    int position = 0;
    s.self_path = argv[0];
    int index = argv[0] == nullptr ? 0 : 1;

    for (; argv[index] != nullptr && !state.failed(); ++index, ++position) {
        char* argument = argv[index];
        if (argument[0] != '-' || separator) {
            if (s.mode == MODE_FILE) {
                add_command_file(state, s, argument);
                continue;
            }
            s.command_argv = &argv[index];
            break;
        }
        if (s.mode == MODE_FILE && strcmp(argument, "-") == 0) {
            add_command_file(state, s, argument);
        } else if (strcmp(argument, "--") == 0) {
            separator = true;
        } else if (is(argument, "-h", "--help")) {
            return {PARSE_USAGE, nullptr};
        } else if (position == 0 && is(argument, "-V", "--version")) {
            s.mode = MODE_VERSION;
        } else if (position == 0 && is(argument, "-F", "--file")) {
            s.mode = MODE_FILE;
        } else if (position == 0 && is(argument, "-P", "--print")) {
            s.mode = MODE_PRINT;
        } else if (s.mode == MODE_VERSION) { // NOLINT(bugprone-branch-clone): order matters
            state.fail(PARSE_UNRECOGNIZED, argument);
        } else if (is(argument, "-v", "--verbose")) {
            s.verbosity += 1;
        } else if (is(argument, "-i", "--interactive")) {
            s.interactive = 1;
        } else if (is(argument, "-a", "--ask-twice")) {
            s.ask_twice = 1;
        } else if (is(argument, "-p", "--passphrase-file")) {
            if (s.passphrase_file != nullptr) {
                state.fail(PARSE_PASSPHRASE_FILE_TWICE, nullptr);
                break;
            }
            const char* value = argv[index + 1];
            if (value != nullptr) ++index; // the value is consumed, whatever it looks like
            s.passphrase_file = take_file_argument(state, s, PASSPHRASE_FILE_LABEL, value);
        } else if (s.mode == MODE_PRINT) {
            state.fail(PARSE_UNRECOGNIZED, argument);
        } else if (is(argument, "-o", "--option-name")) {
            const char* value = argv[index + 1];
            if (value != nullptr) ++index;
            s.option_name = require_file_name(state, OPTION_NAME_LABEL, value);
        } else if (s.mode != MODE_FILE) {
            state.fail(PARSE_UNRECOGNIZED, argument);
        } else if (is(argument, "-c", "--check-exit-code")) {
            s.check_exit_code = 1;
        } else {
            state.fail(PARSE_UNRECOGNIZED, argument);
        }
    }
    if (state.failed()) return state.failure;

    if (s.mode == MODE_WRAP && s.command_argv == nullptr) return {PARSE_NO_COMMAND, nullptr};
    if (s.mode == MODE_FILE && s.file_count == 0) return {PARSE_NO_FILES, nullptr};
    if (s.mode == MODE_PRINT && s.command_argv != nullptr)
        return {PARSE_NO_ADDITIONAL_ARGUMENTS, nullptr};
    if (s.mode != MODE_FILE) s.check_exit_code = 1;
    return {PARSE_OK, nullptr};
}

void describe_parse_failure(const parse_outcome& outcome, char* buffer, int size) {
    const char* text = "";
    switch (outcome.status) {
    case PARSE_OK:
    case PARSE_USAGE:
        break;
    case PARSE_UNRECOGNIZED:
        snprintf(buffer, static_cast<size_t>(size), "unrecognized option '%s'", outcome.detail);
        return;
    case PARSE_PASSPHRASE_FILE_TWICE:
        text = "-p/--passphrase-file specified more than once";
        break;
    case PARSE_EXPECTS_FILE_NAME:
        snprintf(buffer, static_cast<size_t>(size), "%s expects a file name", outcome.detail);
        return;
    case PARSE_STDIN_TWICE:
        snprintf(buffer, static_cast<size_t>(size), "%s used stdin although already used before",
                 outcome.detail);
        return;
    case PARSE_TOO_MANY_FILES:
        text = "too many files specified";
        break;
    case PARSE_NO_COMMAND:
        text = "no gpg command specified";
        break;
    case PARSE_NO_FILES:
        text = "no files to process";
        break;
    case PARSE_NO_ADDITIONAL_ARGUMENTS:
        text = "no additional arguments allowed";
        break;
    }
    snprintf(buffer, static_cast<size_t>(size), "%s", text);
}

void parse_command_line(char** argv) {
    parse_outcome outcome = parse_arguments(argv, settings);
    if (outcome.status == PARSE_OK) return;
    if (outcome.status == PARSE_USAGE) print_usage();
    if (outcome.status == PARSE_UNRECOGNIZED)
        // The argument is printed whole, however long it is.
        fatal_message("unrecognized option '%s'", outcome.detail);
    char text[128];
    describe_parse_failure(outcome, text, sizeof text);
    fatal_message("%s", text);
}

void blank_out(char* text) {
    for (; *text != '\0'; ++text)
        *text = ' ';
}

void print_usage() {
    char banner_blank[32];
    char name_blank[16];
    snprintf(banner_blank, sizeof banner_blank, "%s", VERSION_BANNER);
    snprintf(name_blank, sizeof name_blank, "%s", PROGRAM_NAME);
    blank_out(banner_blank);
    blank_out(name_blank);
    const char* name = PROGRAM_NAME;
    printf("%s | the nimvara and korvalinde developers\n"
           "%s | https://nimvara.example.org/\n"
           "%s | maintainers@nimvara.example.org\n"
           "\n"
           "Usage: %s -V\n"
           "or:    %s -P [-v] [-i] [-a] [-p <file>]\n"
           "or:    %s -F [-v] [-i] [-a] [-c] [-p <file>] [-o <name>]\n"
           "       %s    [--] <file> [<file> ... ]\n"
           "or:    %s [-v] [-i] [-a] [-p <file>] [-o <name>]\n"
           "       %s [--] gpg [gpg options]\n"
           "\n"
           "  -V          print out version\n"
           "  -P          get the passphrase and print it mangled to stdout\n"
           "  -F          read gpg commands from file\n"
           "  -v          be more verbose\n"
           "  -i          be interactive, always prompt for passphrase\n"
           "  -a          ask twice if prompting for passphrase\n"
           "  -c          check exit code of child processes\n"
           "  -p <file>   read passphrase from <file>\n"
           "  -o <name>   specify name of \"--passphrase-fd\" option\n"
           "  -h          this help\n",
           VERSION_BANNER, banner_blank, banner_blank, name, name, name, name_blank, name,
           name_blank);
    // Help that never arrived (a full disk, a closed descriptor) is a failure.
    if (fflush(stdout) != 0) fatal_errno();
    exit(0);
}
