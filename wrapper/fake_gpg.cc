// Test stand-in for gpg. Put first in PATH under the name "gpg", it records
// what it was given into the file named by FAKE_GPG_RECORD (appending one
// block per run), then ends as asked:
//   argv       every word, bytes outside printable ASCII as \xHH
//   env        whether NIMVARA_PASSPHRASE is set, and its value (one line
//              per copy in the environment)
//   fds        the descriptors it inherited (from /proc/self/fd)
//   passphrase the bytes read to end of file from the descriptor named after
//              the option (FAKE_GPG_OPTION, default --passphrase-fd), in hex
//   stdin      with FAKE_GPG_CHECK_STDIN: "eof" if standard input is at end
//              of file, "data" if it has bytes, "open" if nothing arrives
// A word "--exit=N" makes it exit with N, "--kill=N" kill itself with signal
// N; FAKE_GPG_EXIT and FAKE_GPG_SIGNAL do the same from the environment.
// Without FAKE_GPG_RECORD it only drains the passphrase descriptor (the
// benchmark's no-op command).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A decimal number from the test's arguments or environment; 0 if absent.
int number(const char* text) {
    return text == nullptr ? 0 : static_cast<int>(strtol(text, nullptr, 10));
}

std::string escaped(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x21 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char unit[8];
            snprintf(unit, sizeof unit, "\\x%02X", c);
            out += unit;
        }
    }
    return out;
}

// The descriptors the test itself had open (FAKE_GPG_INHERITED) are not the
// wrapper's and are left out of the list.
bool inherited_by_test(int fd) {
    const char* list = getenv("FAKE_GPG_INHERITED");
    if (list == nullptr) return false;
    std::string padded = std::string(" ") + list + " ";
    return padded.find(" " + std::to_string(fd) + " ") != std::string::npos;
}

std::string open_descriptors() {
    std::string list;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return "unknown";
    int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        int fd = number(entry->d_name);
        if (fd == own || inherited_by_test(fd)) continue;
        if (!list.empty()) list += ' ';
        list += entry->d_name;
    }
    closedir(dir);
    return list;
}

// Reads the descriptor to end of file; "(bad descriptor)" if it is not open.
std::string drain(int fd, bool* ok) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *ok = false;
            return bytes;
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    *ok = true;
    return bytes;
}

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char unit[4];
        snprintf(unit, sizeof unit, "%02x", c);
        out += unit;
    }
    return out;
}

std::string stdin_state() {
    struct pollfd p = {0, POLLIN, 0};
    int ready = poll(&p, 1, 2000);
    if (ready == 0) return "open";
    if (ready < 0 || (p.revents & POLLNVAL)) return "closed";
    char byte;
    ssize_t n = read(0, &byte, 1);
    return n == 0 ? "eof" : "data";
}

// Launcher modes, for starting the wrapper in unusual conditions:
//   fake_gpg --run-ignoring-sigchld PROGRAM ARGS...  with SIGCHLD ignored
//   fake_gpg --run-with-dead-child PROGRAM ARGS...   with an exited, unreaped child
//   fake_gpg --run-with-variable-twice A B PROGRAM ARGS...
//                       with NIMVARA_PASSPHRASE=A and NIMVARA_PASSPHRASE=B in
//                       its environment, ahead of everything else
bool launch(int argc, char** argv) {
    if (argc < 3) return false;
    if (strcmp(argv[1], "--run-with-variable-twice") == 0 && argc >= 5) {
        std::string first = std::string("NIMVARA_PASSPHRASE=") + argv[2];
        std::string second = std::string("NIMVARA_PASSPHRASE=") + argv[3];
        std::vector<char*> env = {first.data(), second.data()};
        for (char** e = environ; *e != nullptr; ++e)
            if (strncmp(*e, "NIMVARA_PASSPHRASE=", 19) != 0) env.push_back(*e);
        env.push_back(nullptr);
        execve(argv[4], &argv[4], env.data());
        perror("fake_gpg: exec");
        _exit(98);
    }
    if (strcmp(argv[1], "--run-ignoring-sigchld") == 0) {
        (void)signal(SIGCHLD, SIG_IGN); // a valid signal number: cannot fail
    } else if (strcmp(argv[1], "--run-with-dead-child") == 0) {
        pid_t child = fork();
        if (child == 0) _exit(0);
        // cppcheck-suppress usleepCalled ; a short pause in a test stand-in, on Linux only
        usleep(50000); // let it become a zombie before the exec
    } else {
        return false;
    }
    execv(argv[2], &argv[2]);
    perror("fake_gpg: exec");
    _exit(98);
}

} // namespace

int main(int argc, char** argv) {
    launch(argc, argv);
    std::string fds = open_descriptors();
    const char* option = getenv("FAKE_GPG_OPTION");
    if (option == nullptr) option = "--passphrase-fd";
    int passphrase_fd = -1;
    int exit_status = number(getenv("FAKE_GPG_EXIT"));
    int kill_signal = number(getenv("FAKE_GPG_SIGNAL"));
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], option) == 0 && i + 1 < argc) passphrase_fd = number(argv[i + 1]);
        if (strncmp(argv[i], "--exit=", 7) == 0) exit_status = number(argv[i] + 7);
        if (strncmp(argv[i], "--kill=", 7) == 0) kill_signal = number(argv[i] + 7);
    }

    std::string report = "argc " + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i)
        report += "argv[" + std::to_string(i) + "] " + escaped(argv[i]) + "\n";
    bool variable_seen = false;
    for (char** e = environ; *e != nullptr; ++e) {
        if (strncmp(*e, "NIMVARA_PASSPHRASE=", 19) != 0) continue;
        report += "env set '" + escaped(*e + 19) + "'\n";
        variable_seen = true;
    }
    if (!variable_seen) report += "env unset\n";
    report += "fds " + fds + "\n";
    if (passphrase_fd >= 0) {
        bool ok = false;
        std::string bytes = drain(passphrase_fd, &ok);
        report += ok ? "passphrase " + std::to_string(bytes.size()) + " " + hex(bytes) + "\n"
                     : std::string("passphrase unreadable\n");
    } else {
        report += "passphrase none\n";
    }
    if (getenv("FAKE_GPG_CHECK_STDIN") != nullptr && passphrase_fd != 0)
        report += "stdin " + stdin_state() + "\n";
    report += "end\n";

    const char* record = getenv("FAKE_GPG_RECORD");
    if (record != nullptr) {
        int fd = open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 ||
            write(fd, report.data(), report.size()) != static_cast<ssize_t>(report.size()))
            return 99;
        if (close(fd) != 0) return 99;
    }
    if (kill_signal != 0) {
        (void)signal(kill_signal, SIG_DFL); // an invalid number shows at kill
        (void)kill(getpid(), kill_signal);  // if refused, the exit status tells
    }
    return exit_status;
}
