#include "passphrase_sources.h"

#include "diagnostics.h"
#include "mangle.h"
#include "secret_memory.h"
#include "settings.h"
#include "terminal_echo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* TERMINAL_PATH = "/dev/tty";

// read() that goes on after an interrupting signal.
ssize_t read_retrying(int fd, void* buffer, size_t size) {
    ssize_t n;
    do {
        n = read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

// Prompts and newlines on the terminal are cosmetic: the answer is read
// whether or not they were shown, so their failures are ignored.
void say(int tty_fd, const char* text) {
    (void)write(tty_fd, text, strlen(text));
}

// The second answer's buffer, wiped and released however the prompt ends.
struct second_answer {
    char* bytes;
    int size;
    ~second_answer() {
        if (bytes == nullptr) return;
        wipe_secret(bytes, static_cast<size_t>(size));
        free(bytes);
    }
};

} // namespace

int get_passphrase(char* buffer, int size) {
    if (settings.passphrase_file == nullptr || settings.interactive)
        return passphrase_from_env_or_tty(buffer, size);
    return passphrase_from_file(buffer, size);
}

int passphrase_from_env_or_tty(char* buffer, int size) {
    char* value = getenv(PASSPHRASE_VARIABLE);
    if (value == nullptr || settings.interactive) return passphrase_from_tty(buffer, size);
    verbose_message(2, "got passphrase from environment variable: %s=%s", PASSPHRASE_VARIABLE,
                    value);
    int len = static_cast<int>(strlen(value));
    int n = unmangle_passphrase(value, len);
    if (n > size) {
        wipe_secret(value, static_cast<size_t>(len));
        wipe_passphrase_variable();
        fatal_too_long();
    }
    memcpy(buffer, value, static_cast<size_t>(n));
    // From here on the variable reads as empty, also for every child: this
    // copy (decoded in place, so its length is wiped as found) and any other.
    wipe_secret(value, static_cast<size_t>(len));
    wipe_passphrase_variable();
    return n;
}

int passphrase_from_file(char* buffer, int size) {
    verbose_message(2, "reading passphrase from file '%s'", settings.passphrase_file);
    int fd = 0;
    if (strcmp(settings.passphrase_file, "-") != 0) {
        fd = open(settings.passphrase_file, O_RDONLY | O_CLOEXEC);
        if (fd < 0) fatal_errno_file(settings.passphrase_file);
    }
    int total = 0;
    int space = size;
    for (;;) {
        ssize_t n = read_retrying(fd, buffer + total, static_cast<size_t>(space));
        if (n < 0) fatal_errno_file(settings.passphrase_file);
        if (n == 0) break;
        total += static_cast<int>(n);
        space -= static_cast<int>(n);
        if (space == 0) fatal_too_long();
    }
    if (close(fd) != 0) fatal_errno_file(settings.passphrase_file);
    return total;
}

int passphrase_from_tty(char* buffer, int size) {
    verbose_message(2, "opening '%s' to prompt for passphrase", TERMINAL_PATH);
    int tty_fd = open(TERMINAL_PATH, O_RDWR | O_CLOEXEC);
    if (tty_fd < 0) fatal_errno();
    say(tty_fd, "Passphrase: ");
    remember_prompt("Passphrase: ");
    terminal_echo_off(tty_fd);

    // One read is one typed line: the prompt's modes make input canonical. The fatal paths below
    // put the terminal back before they end the process.
    ssize_t read_result = read_retrying(tty_fd, buffer, static_cast<size_t>(size));
    if (read_result < 0) fatal_errno();
    int n = static_cast<int>(read_result);
    if (n == 0) {
        // End of file before any byte: there is no answer to use.
        abandon_prompt();
        fatal_message("no passphrase entered (end of file at the prompt)");
    }

    if (settings.ask_twice && n < size) {
        bool same;
        {
            second_answer again = {static_cast<char*>(malloc(static_cast<size_t>(size))), size};
            if (again.bytes == nullptr) fatal_no_memory();
            lock_secret(again.bytes, static_cast<size_t>(size));
            say(tty_fd, "\nPassphrase (again): ");
            remember_prompt("Passphrase (again): ");
            ssize_t second = read_retrying(tty_fd, again.bytes, static_cast<size_t>(size));
            if (second < 0) fatal_errno();
            say(tty_fd, "\n");
            restore_terminal_echo();
            // Compared with their newlines, byte for byte and by length.
            same = second == n && memcmp(buffer, again.bytes, static_cast<size_t>(n)) == 0;
        }
        if (!same) fatal_message("passphrases are not the same");
    } else {
        say(tty_fd, "\n");
        restore_terminal_echo();
        if (n >= size) fatal_too_long();
    }
    if (close(tty_fd) != 0) fatal_errno();

    // Drop the newline that ended the line; a line ended by end of file
    // (Ctrl-D after some characters) has none, and every typed byte counts.
    if (buffer[n - 1] == '\n') return n - 1;
    return n;
}
