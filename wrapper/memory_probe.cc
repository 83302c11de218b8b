// Test probe: where the passphrase is in the memory of nimvara and of the
// process that becomes gpg.
//
//   memory_probe NIMVARA COMMAND
//
// Runs NIMVARA -p - COMMAND with a known passphrase on standard input, and
// NIMVARA COMMAND with it in NIMVARA_PASSPHRASE, under ptrace. When the
// wrapper starts a child (fork, vfork or clone), the wrapper's memory is
// searched for the passphrase; the child's memory is searched when it first
// runs and again when it enters execve. Every copy found must lie in a
// locked mapping ("lo" among its VmFlags in /proc/PID/smaps): a forked child
// holds the passphrase page unlocked (locks are not inherited) until its
// exec. The wrapper must be found holding the passphrase, or the search
// proves nothing. Reading a non-dumpable process's memory needs root; other
// users get exit status 77 (skipped).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* SECRET = "probeSecret7f3a9c2e";

// ptrace takes the options, a size and the signal to pass on in its pointer
// argument.
void* as_pointer(unsigned long value) {
    return reinterpret_cast<void*>(value); // NOLINT(performance-no-int-to-ptr)
}

struct mapping {
    unsigned long start;
    unsigned long end;
    bool readable;
    bool locked;
    std::string name;
};

// The mappings of a process with their lock flag, from /proc/PID/smaps.
std::vector<mapping> mappings_of(pid_t pid) {
    std::vector<mapping> list;
    std::string path = "/proc/" + std::to_string(pid) + "/smaps";
    FILE* smaps = fopen(path.c_str(), "r");
    if (smaps == nullptr) return list;
    char line[4096];
    while (fgets(line, sizeof line, smaps) != nullptr) {
        // A mapping's line: "START-END PERMS OFFSET DEVICE INODE [NAME]".
        char* end_of_start = nullptr;
        unsigned long start = strtoul(line, &end_of_start, 16);
        if (end_of_start != line && *end_of_start == '-') {
            char* rest = nullptr;
            unsigned long end = strtoul(end_of_start + 1, &rest, 16);
            bool readable = rest[0] == ' ' && rest[1] == 'r';
            std::string name;
            const char* slash_or_bracket = strpbrk(rest, "/[");
            if (slash_or_bracket != nullptr) name = slash_or_bracket;
            if (!name.empty() && name.back() == '\n') name.pop_back();
            list.push_back({start, end, readable, false, name});
        } else if (strncmp(line, "VmFlags:", 8) == 0 && !list.empty()) {
            list.back().locked = strstr(line, " lo") != nullptr;
        }
    }
    (void)fclose(smaps); // read only: nothing is lost
    return list;
}

struct search_result {
    int copies = 0;
    int unlocked = 0;
    std::string where;
};

search_result search(pid_t pid) {
    search_result result;
    std::string path = "/proc/" + std::to_string(pid) + "/mem";
    int mem = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (mem < 0) {
        result.where = "cannot open " + path + ": " + strerror(errno);
        result.unlocked = -1;
        return result;
    }
    size_t secret_length = strlen(SECRET);
    for (const mapping& m : mappings_of(pid)) {
        if (!m.readable || m.name == "[vsyscall]" || m.name == "[vvar]") continue;
        std::vector<char> bytes(m.end - m.start);
        ssize_t n = pread(mem, bytes.data(), bytes.size(), static_cast<off_t>(m.start));
        if (n <= 0) continue; // a mapping whose pages cannot be read holds nothing to find
        for (ssize_t at = 0; at + static_cast<ssize_t>(secret_length) <= n; ++at) {
            if (memcmp(bytes.data() + at, SECRET, secret_length) != 0) continue;
            ++result.copies;
            char place[128];
            snprintf(place, sizeof place, " %#lx(%s%s)", m.start + static_cast<unsigned long>(at),
                     m.locked ? "locked" : "UNLOCKED",
                     m.name.empty() ? "" : (" " + m.name).c_str());
            result.where += place;
            if (!m.locked) ++result.unlocked;
        }
    }
    (void)close(mem); // read only: nothing is lost
    return result;
}

// Runs one case; returns the number of problems (0 when every check held).
int run_case(const char* label, char* const* argv, bool through_stdin) {
    int input[2];
    if (pipe(input) != 0) {
        perror("memory_probe: pipe");
        exit(2);
    }
    pid_t wrapper = fork();
    if (wrapper < 0) {
        perror("memory_probe: fork");
        exit(2);
    }
    if (wrapper == 0) {
        if (dup2(input[0], 0) < 0) _exit(2);
        // Both ends are close-on-exec in effect: the wrapper must see end of file.
        (void)close(input[0]);
        (void)close(input[1]);
        int set = through_stdin ? unsetenv("NIMVARA_PASSPHRASE")
                                : setenv("NIMVARA_PASSPHRASE", SECRET, 1);
        if (set != 0) _exit(2);
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(77);
        (void)kill(getpid(), SIGSTOP); // the tracer sets its options meanwhile
        execv(argv[0], argv);
        _exit(127);
    }
    (void)close(input[0]); // our copy; the wrapper has its own
    if (through_stdin &&
        write(input[1], SECRET, strlen(SECRET)) != static_cast<ssize_t>(strlen(SECRET))) {
        perror("memory_probe: write");
        exit(2);
    }
    (void)close(input[1]); // end of file for the wrapper; nothing else to do
    int status = 0;
    if (waitpid(wrapper, &status, 0) != wrapper || !WIFSTOPPED(status)) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
            printf("skipped: ptrace is not allowed here\n");
            exit(77);
        }
        fprintf(stderr, "memory_probe: the wrapper did not stop for tracing\n");
        exit(2);
    }
    long options = PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE |
                   PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL;
    if (ptrace(PTRACE_SETOPTIONS, wrapper, nullptr,
               as_pointer(static_cast<unsigned long>(options))) != 0) {
        perror("memory_probe: PTRACE_SETOPTIONS");
        exit(2);
    }
    // Resuming a stopped tracee fails only when it is gone, which the next
    // waitpid reports; the same holds for every resume below.
    (void)ptrace(PTRACE_CONT, wrapper, nullptr, nullptr);

    int problems = 0;
    int wrapper_checks = 0;
    int child_checks = 0;
    bool wrapper_held_it = false;
    std::map<pid_t, bool> started; // children seen, and whether they already ran
    auto check = [&](pid_t pid, const char* moment) {
        search_result found = search(pid);
        printf("%s: %s %d: %d cop%s%s\n", label, moment, static_cast<int>(pid), found.copies,
               found.copies == 1 ? "y" : "ies", found.where.c_str());
        if (found.unlocked != 0) ++problems;
        return found.copies;
    };
    int wrapper_status = -1;
    for (;;) {
        pid_t pid = waitpid(-1, &status, __WALL);
        if (pid < 0) break; // no tracee left
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            if (pid == wrapper) wrapper_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            continue;
        }
        if (!WIFSTOPPED(status)) continue;
        int event = status >> 16;
        int signal_number = WSTOPSIG(status);
        if (event == PTRACE_EVENT_FORK || event == PTRACE_EVENT_VFORK ||
            event == PTRACE_EVENT_CLONE) {
            ++wrapper_checks;
            if (check(pid, "wrapper starting a child") > 0) wrapper_held_it = true;
            (void)ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        } else if (pid != wrapper && !started[pid] && signal_number == SIGSTOP) {
            started[pid] = true;
            ++child_checks;
            check(pid, "child at its start");
            (void)ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
        } else if (pid != wrapper && signal_number == (SIGTRAP | 0x80)) {
            struct __ptrace_syscall_info call = {};
            bool entering_exec =
                ptrace(PTRACE_GET_SYSCALL_INFO, pid, as_pointer(sizeof call), &call) > 0 &&
                call.op == PTRACE_SYSCALL_INFO_ENTRY && call.entry.nr == SYS_execve;
            if (entering_exec) {
                ++child_checks;
                check(pid, "child entering execve");
                (void)ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
            } else {
                (void)ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
            }
        } else {
            // Any other stop: pass the signal on (none for a syscall stop).
            int pass =
                (signal_number == SIGTRAP || signal_number == (SIGTRAP | 0x80)) ? 0 : signal_number;
            (void)ptrace(pid == wrapper ? PTRACE_CONT : PTRACE_SYSCALL, pid, nullptr,
                         as_pointer(static_cast<unsigned long>(pass)));
        }
    }
    if (wrapper_status != 0) {
        printf("FAIL [%s]: the wrapper ended with status %d\n", label, wrapper_status);
        ++problems;
    }
    if (wrapper_checks == 0 || child_checks < 2) {
        printf("FAIL [%s]: no child was seen from its start to its exec\n", label);
        ++problems;
    }
    if (!wrapper_held_it) {
        printf("FAIL [%s]: the passphrase was not found in the wrapper at all\n", label);
        ++problems;
    }
    return problems;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: memory_probe NIMVARA COMMAND\n");
        return 2;
    }
    if (geteuid() != 0) {
        printf("skipped: reading a non-dumpable process's memory needs root\n");
        return 77;
    }
    char dash_p[] = "-p";
    char dash[] = "-";
    char* from_stdin[] = {argv[1], dash_p, dash, argv[2], nullptr};
    char* from_variable[] = {argv[1], argv[2], nullptr};
    int problems = run_case("standard input", from_stdin, true);
    problems += run_case("variable", from_variable, false);
    if (problems != 0) {
        printf("%d problem(s)\n", problems);
        return 1;
    }
    printf("all passed\n");
    return 0;
}
