#include "wrap.h"

#include "command_words.h"
#include "diagnostics.h"
#include "mangle.h"
#include "passphrase_sources.h"
#include "process_protection.h"
#include "secret_memory.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t current_child = -1;

} // namespace

void keep_across_exec(int fd) {
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) < 0) fatal_errno();
}

namespace {

// A SIGCHLD ignored by whoever started us would make the system reap a child
// itself and leave no status to check: the default is taken before a child
// starts, and the child gets the disposition we were started with back.
// True when the action was replaced and *inherited holds the old one.
bool take_default_sigchld(struct sigaction* inherited) {
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    return sigaction(SIGCHLD, &default_action, inherited) == 0;
}

} // namespace

int fork_child() {
    struct sigaction inherited;
    bool replaced = take_default_sigchld(&inherited);
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

namespace {

// What the child that becomes the command needs; it lives in the parent's
// frame, which the child shares.
struct pipe_child {
    int read_end;
    int write_end; // -1 once the parent has written everything and closed it
    bool restore_sigchld;
    struct sigaction inherited_sigchld;
};

// The stack of the child that becomes the command: ample for building the
// words (8 KiB), a trace and the command-path search of execvp, which need a
// few KiB more. It is an array in the parent's frame, on this thread's
// stack as a vfork child's stack would be: the parent does not run until the
// child is done with it, and the sanitizers know it as this thread's stack.
constexpr size_t CHILD_STACK_SIZE = size_t{128} * 1024;

[[noreturn]] void run_command_with_descriptor(int fd) {
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

// The child's whole life, on its own stack in the parent's memory. Its
// descriptors, signal actions and limits are its own; every failure ends it
// through the diagnostics, which _exit while fatal_exits_shared_child is set.
// No signal handler of ours is installed by now (the prompt removes its
// guards once answered), so none can run here on the shared memory.
int become_command(void* argument) {
    const pipe_child* child = static_cast<const pipe_child*>(argument);
    // Restoring an action read from the system cannot fail.
    if (child->restore_sigchld) (void)sigaction(SIGCHLD, &child->inherited_sigchld, nullptr);
    if (child->write_end >= 0 && close(child->write_end) != 0) fatal_errno();
    keep_across_exec(child->read_end);
    run_command_with_descriptor(child->read_end);
}

// Starts the child that becomes the command with clone(CLONE_VM |
// CLONE_VFORK): it runs in our memory, not in a copy of it, and we are
// suspended until it has executed the command or ended. So no process ever
// holds a copy of the passphrase page (a forked child would, unlocked, until
// its exec), and nothing of our memory (locked pages, the C++ runtime) is
// copied or write-protected for a child that drops it at once.
pid_t start_command_child(pipe_child* child) {
    alignas(16) char stack[CHILD_STACK_SIZE];
    child->restore_sigchld = take_default_sigchld(&child->inherited_sigchld);
    fatal_exits_shared_child = true;
    shared_child_failed = false;
    pid_t pid =
        clone(become_command, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, child);
    fatal_exits_shared_child = false;
    if (pid < 0) fatal_errno();
    current_child = pid;
    return pid;
}

// Writes bytes [*written, up_to) of the passphrase; a broken pipe (gpg
// closed its end) ends the writing early, any other failure the process.
void write_passphrase(int fd, const char* data, int up_to, int* written) {
    while (*written < up_to) {
        ssize_t n = write(fd, data + *written, static_cast<size_t>(up_to - *written));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) return; // gpg closed its end; its status tells the rest
            fatal_errno();
        }
        *written += static_cast<int>(n);
    }
}

} // namespace

void feed_passphrase(char* data, int len) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) fatal_errno();
    // What the empty pipe holds goes in before gpg starts (we hold the read
    // end, so this neither blocks nor breaks): gpg then finds the whole
    // passphrase and its end at once and never waits for us to be scheduled
    // again, and our copy is wiped before any other process exists. Only a
    // passphrase larger than the pipe leaves a rest to write once gpg reads.
    // F_GETPIPE_SZ cannot fail on a pipe; if it did, nothing goes in early.
    int capacity = fcntl(ends[1], F_GETPIPE_SZ);
    int written = 0;
    write_passphrase(ends[1], data, capacity < 0 ? 0 : std::min(len, capacity), &written);
    bool all_in = written == len;
    if (all_in) {
        wipe_secret(data, static_cast<size_t>(len));
        if (close(ends[1]) != 0) fatal_errno();
    }
    verbose_message(2, "forking");
    pipe_child child = {ends[0], all_in ? -1 : ends[1], false, {}};
    start_command_child(&child);
    // Only here, after the child started: gpg starts with the disposition we were given.
    (void)signal(SIGPIPE, SIG_IGN); // cannot fail for a valid signal number
    if (close(ends[0]) != 0) fatal_errno();
    if (!all_in) {
        // A child that ended before its exec reads nothing: the rest is not
        // written into a pipe that nobody reads, and its status says why.
        bool nobody_reads = shared_child_failed;
        if (!nobody_reads) write_passphrase(ends[1], data, len, &written);
        wipe_secret(data, static_cast<size_t>(len));
        if (written < len && !nobody_reads) warning_message("only partial passphrase written");
        if (close(ends[1]) != 0) fatal_errno();
    }
    wait_for_child();
}

int passphrase_descriptor() {
    static passphrase_buffer passphrase;
    if (settings.passphrase_file == nullptr || settings.interactive) {
        int len = passphrase_from_env_or_tty(passphrase.bytes, PASSPHRASE_MAX);
        feed_passphrase(passphrase.bytes, len);
        return -1;
    }
    if (strcmp(settings.passphrase_file, "-") == 0) {
        int len = passphrase_from_file(passphrase.bytes, PASSPHRASE_MAX);
        feed_passphrase(passphrase.bytes, len);
        return -1;
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
    run_command_with_descriptor(fd);
}
