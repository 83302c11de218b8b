// Test tool: tries to attach to a process as a debugger would.
//
//   ptrace_probe PID
//
// Prints "attached" and exits 0 when PTRACE_SEIZE succeeds (the tracer's
// exit detaches again), or prints the error and exits 1.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ptrace.h>
#include <sys/types.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ptrace_probe PID\n");
        return 2;
    }
    pid_t pid = static_cast<pid_t>(std::atoi(argv[1]));
    if (ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) != 0) {
        std::printf("%s\n", std::strerror(errno));
        return 1;
    }
    std::printf("attached\n");
    return 0;
}
