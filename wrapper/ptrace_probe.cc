// Test tool: tries to attach to a process as a debugger would.
//
//   ptrace_probe PID
//
// Prints "attached" and exits 0 when PTRACE_SEIZE succeeds (the tracer's
// exit detaches again), or prints the error and exits 1.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ptrace.h>
#include <sys/types.h>

int main(int argc, char** argv) {
    char* end = nullptr;
    errno = 0;
    long number = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 2 || errno != 0 || end == argv[1] || *end != '\0' || number <= 0 ||
        number > INT32_MAX) {
        std::fprintf(stderr, "usage: ptrace_probe PID\n");
        return 2;
    }
    auto pid = static_cast<pid_t>(number);
    if (ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) != 0) {
        std::printf("%s\n", std::strerror(errno));
        return 1;
    }
    std::printf("attached\n");
    return 0;
}
