// Runs a command with a fresh pseudo-terminal as its controlling terminal and
// standard input, answers its prompt, and reports how the terminal was left.
//
//   pty_run ANSWER COMMAND [ARGUMENTS...]
//
// ANSWER is typed (with "\n" written as the two characters backslash and n
// turned into newlines) once the command has switched echo off, or after two
// seconds if it never does (and then says so on standard error). The command's standard output and
// error are this program's. Exit status: the command's own, 128 + the signal that killed it, 124
// when it did not end within ten seconds (it is then killed), 125 when it ended but left the
// terminal without echo, 126 for a failure here.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

constexpr auto ANSWER_AFTER = std::chrono::seconds(2);
constexpr auto GIVE_UP_AFTER = std::chrono::seconds(10);

[[noreturn]] void give_up(const char* what) {
    std::fprintf(stderr, "pty_run: %s: %s\n", what, std::strerror(errno));
    std::exit(126);
}

std::string unescape(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '\\' && p[1] == 'n') {
            out += '\n';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

bool echo_on(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) give_up("tcgetattr");
    return (t.c_lflag & ECHO) != 0;
}

// Reads and drops what the terminal shows, so the command never blocks on a
// full terminal buffer; waits at most the given time for it.
void drain(int master, int timeout_ms) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return;
    char chunk[4096];
    // EIO once the last slave descriptor is gone is normal; nothing to show.
    (void)read(master, chunk, sizeof chunk);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pty_run ANSWER COMMAND [ARGUMENTS...]\n");
        return 126;
    }
    std::string answer = unescape(argv[1]);
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) give_up("posix_openpt");
    std::string slave_name = ptsname(master);
    // Kept open here so the terminal's settings can be read after the end.
    int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) give_up("open slave");

    pid_t pid = fork();
    if (pid < 0) give_up("fork");
    if (pid == 0) {
        if (setsid() < 0) _exit(126);
        int tty = open(slave_name.c_str(), O_RDWR);
        if (tty < 0 || dup2(tty, 0) < 0) _exit(126);
        if (tty != 0) (void)close(tty); // the child runs on with descriptor 0 either way
        execvp(argv[2], argv + 2);
        _exit(127);
    }

    auto started = steady::now();
    bool answered = false;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) give_up("waitpid");
        auto now = steady::now();
        if (now - started > GIVE_UP_AFTER) {
            (void)kill(pid, SIGKILL); // it may have ended just now
            (void)waitpid(pid, &status, 0);
            std::fprintf(stderr, "pty_run: the command did not end within ten seconds\n");
            return 124;
        }
        if (!answered && (!echo_on(slave) || now - started > ANSWER_AFTER)) {
            // The answer would show on the screen: worth knowing.
            if (echo_on(slave)) std::fprintf(stderr, "pty_run: answered while echo was on\n");
            if (write(master, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size()))
                give_up("write answer");
            answered = true;
        }
        drain(master, 2);
    }
    if (!echo_on(slave)) {
        std::fprintf(stderr, "pty_run: the terminal was left without echo\n");
        return 125;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
