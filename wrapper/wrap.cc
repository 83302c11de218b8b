#include "wrap.h"

#include "command_words.h"
#include "diagnostics.h"
#include "mangle.h"
#include "passphrase_sources.h"
#include "process_protection.h"
#include "secret_memory.h"
#include "settings.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t current_child = -1;

} // namespace

void keep_across_exec(int fd) {
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) < 0) fatal_errno();
}

int fork_child() {
    // A SIGCHLD ignored by whoever started us would make the system reap the
    // child itself and leave no status to check: take the default meanwhile,
    // and give the child the disposition we were started with.
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    struct sigaction inherited;
    bool replaced = sigaction(SIGCHLD, &default_action, &inherited) == 0;
    pid_t pid = fork();
    if (pid < 0) fatal_errno();
    if (pid == 0) {
        // Restoring an action read from the system cannot fail.
        if (replaced) (void)sigaction(SIGCHLD, &inherited, nullptr);
        return 0;
    }
    current_child = pid;
    return static_cast<int>(pid);
}

void exec_command(char* const* words, bool empty_variable) {
    if (empty_variable) set_passphrase_env(nullptr, 0);
    if (settings.verbosity >= 1) {
        fprintf(stderr, "%s[%d] ", PROGRAM_NAME, static_cast<int>(getpid()));
        fputs("executing:", stderr);
        for (int i = 0; words[i] != nullptr; ++i)
            fprintf(stderr, " %s", words[i]);
        fputs("\n", stderr);
    }
    // The program started gets the core-size limit we were given back; the
    // exec itself makes the process dumpable again.
    restore_child_limits();
    // Every command has a program name: the wrapped command's first operand, or sh.
    execvp(words[0], words); // NOLINT(clang-analyzer-core.NonNullParamChecker): see above
    fatal_errno();
}

void wait_for_child() {
    verbose_message(2, "waiting for child");
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(current_child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (!settings.check_exit_code) return;
    verbose_message(2, "checking child exit code");
    // Without a status there is no way to tell success; never report one.
    if (waited < 0) fatal_errno();
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) == 0) return;
        verbose_message(2, "child process terminated abnormal, exiting");
        exit(WEXITSTATUS(status));
    }
    exit(1);
}

int feed_passphrase(char* data, int len) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) fatal_errno();
    verbose_message(2, "forking");
    if (fork_child() == 0) {
        if (close(ends[1]) != 0) fatal_errno();
        // gpg reads the pipe; this copy of the passphrase has no further use.
        wipe_secret(data, static_cast<size_t>(len));
        keep_across_exec(ends[0]);
        return ends[0];
    }
    // Only here, after the fork: gpg starts with the disposition we were given.
    (void)signal(SIGPIPE, SIG_IGN); // cannot fail for a valid signal number
    if (close(ends[0]) != 0) fatal_errno();
    int written = 0;
    while (written < len) {
        ssize_t n = write(ends[1], data + written, static_cast<size_t>(len - written));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) break; // gpg closed its end; its status tells the rest
            fatal_errno();
        }
        written += static_cast<int>(n);
    }
    wipe_secret(data, static_cast<size_t>(len));
    if (written < len) warning_message("only partial passphrase written");
    if (close(ends[1]) != 0) fatal_errno();
    wait_for_child();
    return -1;
}

int passphrase_descriptor() {
    static passphrase_buffer passphrase;
    if (settings.passphrase_file == nullptr || settings.interactive) {
        int len = passphrase_from_env_or_tty(passphrase.bytes, PASSPHRASE_MAX);
        return feed_passphrase(passphrase.bytes, len);
    }
    if (strcmp(settings.passphrase_file, "-") == 0) {
        int len = passphrase_from_file(passphrase.bytes, PASSPHRASE_MAX);
        return feed_passphrase(passphrase.bytes, len);
    }
    verbose_message(2, "opening file '%s' to pass fd", settings.passphrase_file);
    // Left open across exec on purpose: gpg reads the passphrase from it.
    int fd = open(settings.passphrase_file, O_RDONLY);
    if (fd < 0) fatal_errno_file(settings.passphrase_file);
    return fd;
}

void wrap_command() {
    int fd = passphrase_descriptor();
    if (fd == -1) return;
    char descriptor_text[32];
    do_snprintf(descriptor_text, sizeof descriptor_text, "%d", fd);
    const char* words[COMMAND_WORD_SLOTS];
    switch (
        build_command_words(settings.command_argv, settings.option_name, descriptor_text, words)) {
    case WORDS_OK:
        break;
    case WORDS_TOO_MANY:
        fatal_message("too many gpg arguments specified");
    case WORDS_OPTION_PRESENT:
        fatal_message("gpg command already has a '%s' option", settings.option_name);
    }
    exec_command(const_cast<char* const*>(words), true);
}
