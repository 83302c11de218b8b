// Test probe: where the passphrase is in the memory of nimvara and of the
// process that becomes gpg.
//
//   memory_probe NIMVARA COMMAND
//
// Runs NIMVARA -p - COMMAND with a known passphrase on standard input, and
// NIMVARA COMMAND with it in NIMVARA_PASSPHRASE, under ptrace, and searches
// the writable memory of the wrapper at every system call it makes, and of
// each child it starts from the child's start to its execve. Every copy
// found must lie in a locked mapping ("lo" among its VmFlags in
// /proc/PID/smaps); the only exception is the environment the wrapper was
// started with, which must be wiped before any child starts. A forked child
// fails this: it holds the passphrase page unlocked (locks are not
// inherited). The wrapper must be found holding the passphrase at some
// point, or the search proves nothing. Reading a non-dumpable process's
// memory needs root; other users get exit status 77 (skipped).

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
    bool writable;
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
            bool writable = rest[0] == ' ' && rest[1] == 'r' && rest[2] == 'w';
            std::string name;
            const char* slash_or_bracket = strpbrk(rest, "/[");
            if (slash_or_bracket != nullptr) name = slash_or_bracket;
            if (!name.empty() && name.back() == '\n') name.pop_back();
            list.push_back({start, end, writable, false, name});
        } else if (strncmp(line, "VmFlags:", 8) == 0 && !list.empty()) {
            list.back().locked = strstr(line, " lo") != nullptr;
        }
    }
    (void)fclose(smaps); // read only: nothing is lost
    return list;
}

// Where the environment strings the process was started with lie, from
// /proc/PID/stat (its 50th and 51st fields).
void environment_of(pid_t pid, unsigned long* start, unsigned long* end) {
    *start = *end = 0;
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* stat = fopen(path.c_str(), "r");
    if (stat == nullptr) return;
    char line[2048];
    if (fgets(line, sizeof line, stat) != nullptr) {
        // The fields after the command name, which is in parentheses.
        const char* p = strrchr(line, ')');
        for (int field = 2; p != nullptr && field < 50; ++field)
            p = strchr(p + 1, ' ');
        if (p != nullptr) {
            char* after = nullptr;
            *start = strtoul(p + 1, &after, 10);
            *end = strtoul(after, nullptr, 10);
        }
    }
    (void)fclose(stat); // read only: nothing is lost
}

struct search_result {
    int copies = 0;
    int unlocked = 0;       // outside the environment
    int in_environment = 0; // in the environment the process was started with
    std::string where;
};

search_result search(pid_t pid) {
    search_result result;
    std::string path = "/proc/" + std::to_string(pid) + "/mem";
    int mem = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (mem < 0) {
        result.where = "cannot open " + path + ": " + strerror(errno);
        result.unlocked = 1;
        return result;
    }
    unsigned long environment_start = 0;
    unsigned long environment_end = 0;
    environment_of(pid, &environment_start, &environment_end);
    size_t secret_length = strlen(SECRET);
    for (const mapping& m : mappings_of(pid)) {
        if (!m.writable) continue; // the passphrase can only have been written to writable memory
        std::vector<char> bytes(m.end - m.start);
        ssize_t n = pread(mem, bytes.data(), bytes.size(), static_cast<off_t>(m.start));
        if (n <= 0) continue; // a mapping whose pages cannot be read holds nothing to find
        for (ssize_t at = 0; at + static_cast<ssize_t>(secret_length) <= n; ++at) {
            if (memcmp(bytes.data() + at, SECRET, secret_length) != 0) continue;
            unsigned long address = m.start + static_cast<unsigned long>(at);
            bool environment = address >= environment_start && address < environment_end;
            ++result.copies;
            if (environment)
                ++result.in_environment;
            else if (!m.locked)
                ++result.unlocked;
            char place[128];
            snprintf(place, sizeof place, " %#lx(%s%s)", address,
                     environment ? "environment"
                     : m.locked  ? "locked"
                                 : "UNLOCKED",
                     m.name.empty() ? "" : (" " + m.name).c_str());
            result.where += place;
        }
    }
    (void)close(mem); // read only: nothing is lost
    return result;
}

bool entering(pid_t pid, long* number) {
    struct __ptrace_syscall_info call = {};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, as_pointer(sizeof call), &call) <= 0 ||
        call.op != PTRACE_SYSCALL_INFO_ENTRY)
        return false;
    *number = static_cast<long>(call.entry.nr);
    return true;
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
    (void)ptrace(PTRACE_SYSCALL, wrapper, nullptr, nullptr);

    int problems = 0;
    int stops_with_copies = 0;
    bool child_started = false;
    bool child_reached_exec = false;
    bool wrapper_executed = false;
    std::map<pid_t, bool> started; // children seen, and whether they already ran
    auto check = [&](pid_t pid, const char* moment, long call) {
        search_result found = search(pid);
        if (found.copies > 0) ++stops_with_copies;
        bool bad = found.unlocked > 0 || (found.in_environment > 0 && child_started);
        if (bad || pid != wrapper)
            printf("%s: %s %d (system call %ld): %d cop%s%s%s\n", label, moment,
                   static_cast<int>(pid), call, found.copies, found.copies == 1 ? "y" : "ies",
                   found.where.c_str(), bad ? ": FAIL" : "");
        if (bad) ++problems;
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
        long call = -1;
        if (event == PTRACE_EVENT_FORK || event == PTRACE_EVENT_VFORK ||
            event == PTRACE_EVENT_CLONE) {
            child_started = true;
            check(pid, "wrapper starting a child", call);
            (void)ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
        } else if (pid != wrapper && !started[pid] && signal_number == SIGSTOP) {
            started[pid] = true;
            child_started = true;
            check(pid, "child at its start", call);
            (void)ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
        } else if (signal_number == (SIGTRAP | 0x80)) {
            bool is_entry = entering(pid, &call);
            // Until the wrapper's own execve the traced image is still this probe's.
            if (is_entry && (pid != wrapper || wrapper_executed))
                check(pid, pid == wrapper ? "wrapper" : "child", call);
            if (is_entry && pid == wrapper && call == SYS_execve) wrapper_executed = true;
            if (is_entry && pid != wrapper && call == SYS_execve) {
                child_reached_exec = true;
                (void)ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
            } else {
                (void)ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
            }
        } else {
            // Any other stop: pass the signal on (not the one after the exec).
            int pass = signal_number == SIGTRAP ? 0 : signal_number;
            (void)ptrace(PTRACE_SYSCALL, pid, nullptr,
                         as_pointer(static_cast<unsigned long>(pass)));
        }
    }
    if (wrapper_status != 0) {
        printf("FAIL [%s]: the wrapper ended with status %d\n", label, wrapper_status);
        ++problems;
    }
    if (!child_reached_exec) {
        printf("FAIL [%s]: no child was seen from its start to its exec\n", label);
        ++problems;
    }
    if (stops_with_copies == 0) {
        printf("FAIL [%s]: the passphrase was never found, so the search proves nothing\n", label);
        ++problems;
    }
    printf("%s: the passphrase was found at %d stops\n", label, stops_with_copies);
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
