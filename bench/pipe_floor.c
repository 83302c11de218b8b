/* The least a wrapper that hands a passphrase through a pipe can do, for
 * bench/wrapper_overhead.sh to measure nimvara's pipe path against:
 *
 *   pipe_floor COMMAND [ARGS...] <PASSPHRASE
 *
 * It reads the passphrase from standard input (one read, as nimvara -p -
 * does), makes a pipe and forks; the child executes COMMAND with
 * "--passphrase-fd N" after its first word, N being the pipe's read end (3
 * when standard input, output and error are open); the parent writes the
 * passphrase, closes the pipe, waits and exits with the command's status.
 * No locking, wiping, protection or checks beyond reporting a failure: it
 * is a yardstick, not a tool. */
/* glibc's feature macro, reserved by design. */
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

static char passphrase[65536];

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("usage: pipe_floor COMMAND [ARGS...] <PASSPHRASE\n", stderr);
        return 2;
    }
    ssize_t length = read(0, passphrase, sizeof passphrase);
    int ends[2];
    if (length < 0 || pipe(ends) != 0) {
        perror("pipe_floor");
        return 1;
    }
    pid_t child = fork();
    if (child < 0) {
        perror("pipe_floor");
        return 1;
    }
    if (child == 0) {
        char descriptor[16];
        snprintf(descriptor, sizeof descriptor, "%d", ends[0]);
        char* words[argc + 3];
        words[0] = argv[1];
        words[1] = "--passphrase-fd";
        words[2] = descriptor;
        for (int i = 2; i <= argc; ++i) /* the null that ends argv too */
            words[i + 1] = argv[i];
        (void)close(ends[1]); /* a yardstick: nothing to do about a failure */
        execvp(words[0], words);
        perror("pipe_floor");
        _exit(1);
    }
    (void)close(ends[0]);
    if (write(ends[1], passphrase, (size_t)length) != length) perror("pipe_floor");
    (void)close(ends[1]);
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        perror("pipe_floor");
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
