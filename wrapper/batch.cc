#include "batch.h"

#include "command_file_lines.h"
#include "diagnostics.h"
#include "line_operators.h"
#include "mangle.h"
#include "settings.h"
#include "wrap.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int COMMAND_TEXT_SIZE = 65536;
constexpr int VERBOSITY_TEXT_SIZE = 128;

bool taken_literally_by_shell(const char* word) {
    if (*word == '\0') return false;
    for (const char* p = word; *p != '\0'; ++p)
        if (!isalnum(static_cast<unsigned char>(*p)) && strchr("/._-+,:=@%", *p) == nullptr)
            return false;
    return true;
}

} // namespace

const char* shell_word(const char* word, char* buffer, int size) {
    if (taken_literally_by_shell(word)) return word;
    int out = 0;
    auto put = [&](char c) {
        if (out >= size - 1) fatal_message("do_snprintf() size exceeded");
        buffer[out++] = c;
    };
    put('\'');
    for (const char* p = word; *p != '\0'; ++p) {
        if (*p == '\'') {
            for (const char* q = "'\\''"; *q != '\0'; ++q)
                put(*q); // close, \', reopen
        } else {
            put(*p);
        }
    }
    put('\'');
    buffer[out] = '\0';
    return buffer;
}

void format_batch_command(char* text, int size, const char* line) {
    char verbosity_text[VERBOSITY_TEXT_SIZE] = "";
    int length = 0;
    for (int level = 0; level < settings.verbosity && length < 124; ++level) {
        memcpy(verbosity_text + length, " -v", 4);
        length += 3;
    }
    // The wrapper's own path and the option name are words, not shell text:
    // a path with a space or a quote must still name this program.
    static char self_word[COMMAND_TEXT_SIZE];
    static char option_word[COMMAND_TEXT_SIZE];
    do_snprintf(text, static_cast<size_t>(size), "exec %s%s -o %s -- %s",
                shell_word(settings.self_path, self_word, COMMAND_TEXT_SIZE), verbosity_text,
                shell_word(settings.option_name, option_word, COMMAND_TEXT_SIZE), line);
}

void run_command_line(const char* line) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) fatal_errno();
    verbose_message(1, "forking");
    if (fork_child() != 0) {
        if (close(ends[0]) != 0) fatal_errno();
        if (close(ends[1]) != 0) fatal_errno();
        wait_for_child();
        return;
    }
    if (close(ends[1]) != 0) fatal_errno();
    // The command's standard input is a pipe nobody writes to: it reads end
    // of file at once and can never consume the command file or the terminal.
    if (ends[0] != 0) {
        if (dup2(ends[0], 0) < 0) fatal_errno();
        // The original end is close-on-exec anyway; closing it is tidiness.
        (void)close(ends[0]);
    } else {
        keep_across_exec(0);
    }
    static char command_text[COMMAND_TEXT_SIZE];
    format_batch_command(command_text, COMMAND_TEXT_SIZE, line);
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* words[] = {sh, dash_c, command_text, nullptr};
    exec_command(words, false);
}

void process_command_file(const char* name, const char* passphrase, int len) {
    verbose_message(1, "reading gpg commands from file: '%s'", name);
    int fd = 0;
    if (strcmp(name, "-") != 0) {
        // Close-on-exec: the commands must not inherit the command file.
        fd = open(name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) fatal_errno_file(name);
    }
    set_passphrase_env(passphrase, len);

    static command_line_buffer buffer;
    buffer.held = 0;
    long line_number = 0;
    ssize_t n;
    for (;;) {
        n = read(fd, buffer.free_start(), static_cast<size_t>(buffer.free_space()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        auto run_or_refuse = [&](const char* line) {
            ++line_number;
            const char* dropping = command_after_operator(line);
            if (dropping == nullptr) {
                run_command_line(line);
                return;
            }
            // The shell would run only the first command and report its
            // status, so the batch could claim success for work never done.
            // The line counts as a failed command.
            warning_message("line %ld of '%s': a command after '%s' would never run; line not run",
                            line_number, name, dropping);
            if (settings.check_exit_code) exit(1);
        };
        switch (scan_command_lines(buffer, static_cast<int>(n), run_or_refuse)) {
        case LINES_OK:
            break;
        case LINE_HAS_NUL:
            fatal_message("line contains \\0 character");
        case LINE_TOO_LONG:
            fatal_message("line too long");
        }
    }
    if (n < 0) fatal_errno_file(name);
    if (close(fd) != 0) fatal_errno_file(name);
    if (buffer.held > 0) fatal_message("last line incomplete");
}
