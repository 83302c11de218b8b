/* Failure injection for whole-program tests, loaded with LD_PRELOAD.
 *
 * It stands in front of the C library functions through which the programs
 * reach files, descriptors, processes and memory, and either counts their
 * calls or makes one chosen call fail with a chosen error number.
 *
 * Environment:
 *   FAULT_TARGET      program name (the last part of argument 0) whose
 *                     processes are affected; others pass every call through
 *                     untouched. Unset: every process that loads the library.
 *   FAULT_CALL        the function family to fail (names below).
 *   FAULT_NTH         which call of that family fails, counted from 1 in each
 *                     process image (a forked child goes on from its parent's
 *                     count, and a child cloned with CLONE_VM counts in its
 *                     parent's memory until it executes a program; an
 *                     executed program starts again at 0).
 *   FAULT_ERRNO       the error: a name (ENOSPC, EIO, EINTR, ENOMEM, EAGAIN,
 *                     EMFILE, ENOENT, EACCES, E2BIG) or a number.
 *   FAULT_COUNT_FILE  where each affected process appends, when it exits or
 *                     executes another program, one line "PID FAMILY COUNT"
 *                     per family it called.
 *   FAULT_FIRED_FILE  where a process appends "PID FAMILY N ERRNO" when the
 *                     chosen call has been made to fail.
 * Both files are written with raw system calls, which nothing here counts.
 *
 * Families: open (open, open64, openat, openat64), read, write, close, pipe
 * (pipe, pipe2), fork (fork, clone), waitpid (waitpid, wait, wait4), dup2, mkdir (mkdir,
 * mkdirat), fopen (fopen, fopen64, fdopen), fflush, fclose, fread, fwrite,
 * fputs, fputc, fprintf, vfprintf, malloc (malloc, calloc, realloc,
 * aligned_alloc, posix_memalign, memalign), mmap, pthread_create, putenv,
 * exec (execvp, execv, execve), tcgetattr, tcsetattr.
 *
 * What a failure looks like:
 *   - system calls and plain library calls return their error value with
 *     errno set, and do nothing; EINTR is an interruption before anything
 *     happened, so the call may simply be made again;
 *   - a stdio writer (fwrite, fputs, fputc, fprintf, vfprintf) or fread
 *     returns its error value with errno set, transfers nothing, and sets the
 *     stream's error flag, as glibc does when the underlying write or read
 *     fails; fflush also throws away what the stream holds (the data is lost,
 *     as it is when the disk is full); fclose closes the stream and its
 *     descriptor but returns EOF, as when the final flush fails;
 *   - pthread_create returns the error number itself.
 * The diagnostic channel is never failed: write on descriptor 2 and stdio
 * calls on stderr pass through and are not counted, because a failure to
 * report a failure cannot itself be reported.
 */
/* NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): glibc's switch */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

enum family {
    F_OPEN,
    F_READ,
    F_WRITE,
    F_CLOSE,
    F_PIPE,
    F_FORK,
    F_WAITPID,
    F_DUP2,
    F_MKDIR,
    F_FOPEN,
    F_FFLUSH,
    F_FCLOSE,
    F_FREAD,
    F_FWRITE,
    F_FPUTS,
    F_FPUTC,
    F_FPRINTF,
    F_VFPRINTF,
    F_MALLOC,
    F_MMAP,
    F_PTHREAD_CREATE,
    F_PUTENV,
    F_EXEC,
    F_TCGETATTR,
    F_TCSETATTR,
    F_COUNT
};

static const char* const family_names[F_COUNT] = {
    "open",   "read",  "write",     "close",    "pipe",   "fork",  "waitpid",
    "dup2",   "mkdir", "fopen",     "fflush",   "fclose", "fread", "fwrite",
    "fputs",  "fputc", "fprintf",   "vfprintf", "malloc", "mmap",  "pthread_create",
    "putenv", "exec",  "tcgetattr", "tcsetattr"};

static const struct {
    const char* name;
    int value;
} errno_names[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EINTR", EINTR},   {"ENOMEM", ENOMEM},
                   {"EAGAIN", EAGAIN}, {"EMFILE", EMFILE}, {"ENOENT", ENOENT}, {"EACCES", EACCES},
                   {"E2BIG", E2BIG},   {"EPIPE", EPIPE},   {"EBADF", EBADF}};

/* Zero until the environment has been read: calls made before that (by the
 * loader or the C library's own start-up) pass through uncounted. */
static int active;
static int fail_family = -1;
static unsigned long fail_nth;
static int fail_errno = EIO;
static const char* count_file;
static const char* fired_file;
static unsigned long counts[F_COUNT];

/* ---- raw output, invisible to the counts ---- */

static size_t put_text(char* buffer, size_t at, size_t size, const char* text) {
    while (*text != '\0' && at + 1 < size)
        buffer[at++] = *text++;
    return at;
}

static size_t put_number(char* buffer, size_t at, size_t size, unsigned long n) {
    char digits[24];
    int k = 0;
    do {
        digits[k++] = (char)('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (k > 0 && at + 1 < size)
        buffer[at++] = digits[--k];
    return at;
}

/* One write with O_APPEND, so that blocks of different processes never mix. */
static void append_raw(const char* path, const char* text, size_t length) {
    int saved = errno;
    long fd = syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        /* A lost line shows as a missing count or a run without a fired
         * fault, both of which the sweep reports. */
        (void)syscall(SYS_write, (int)fd, text, length);
        (void)syscall(SYS_close, (int)fd);
    }
    errno = saved;
}

static void dump_counts(void) {
    if (!active || count_file == NULL) return;
    char block[2048];
    size_t at = 0;
    unsigned long pid = (unsigned long)syscall(SYS_getpid);
    for (int f = 0; f < F_COUNT; ++f) {
        unsigned long n = __atomic_load_n(&counts[f], __ATOMIC_RELAXED);
        if (n == 0) continue;
        at = put_number(block, at, sizeof block, pid);
        at = put_text(block, at, sizeof block, " ");
        at = put_text(block, at, sizeof block, family_names[f]);
        at = put_text(block, at, sizeof block, " ");
        at = put_number(block, at, sizeof block, n);
        at = put_text(block, at, sizeof block, "\n");
    }
    if (at > 0) append_raw(count_file, block, at);
}

static void note_fired(int f, unsigned long n) {
    if (fired_file == NULL) return;
    char line[128];
    size_t at = put_number(line, 0, sizeof line, (unsigned long)syscall(SYS_getpid));
    at = put_text(line, at, sizeof line, " ");
    at = put_text(line, at, sizeof line, family_names[f]);
    at = put_text(line, at, sizeof line, " ");
    at = put_number(line, at, sizeof line, n);
    at = put_text(line, at, sizeof line, " ");
    at = put_number(line, at, sizeof line, (unsigned long)fail_errno);
    at = put_text(line, at, sizeof line, "\n");
    append_raw(fired_file, line, at);
}

/* ---- set-up ---- */

static const char* last_part(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

/* A name from the table or a positive number; 0 for anything else. */
static int parse_errno(const char* text) {
    for (size_t i = 0; i < sizeof errno_names / sizeof errno_names[0]; ++i)
        if (strcmp(text, errno_names[i].name) == 0) return errno_names[i].value;
    /* errno is the program's: it starts at 0 and is left so. */
    int saved = errno;
    char* end = NULL;
    errno = 0;
    long value = strtol(text, &end, 10);
    int bad = errno != 0 || end == text || *end != '\0' || value <= 0 || value > 4095;
    errno = saved;
    return bad ? 0 : (int)value;
}

__attribute__((constructor(101))) static void fault_setup(void) {
    const char* target = getenv("FAULT_TARGET");
    if (target != NULL && strcmp(target, last_part(program_invocation_name)) != 0) return;
    const char* call = getenv("FAULT_CALL");
    const char* nth = getenv("FAULT_NTH");
    const char* error = getenv("FAULT_ERRNO");
    if (call != NULL && nth != NULL) {
        for (int f = 0; f < F_COUNT; ++f)
            if (strcmp(call, family_names[f]) == 0) fail_family = f;
        fail_nth = strtoul(nth, NULL, 10);
        if (error != NULL) fail_errno = parse_errno(error);
        if (fail_errno == 0) {
            /* A failure with errno 0 would look like success to the program;
             * nothing is failed, and the sweep reports that nothing fired. */
            static const char message[] = "fault_preload: unknown FAULT_ERRNO, nothing fails\n";
            (void)syscall(SYS_write, 2, message, sizeof message - 1); /* best effort */
            fail_family = -1;
        }
    }
    count_file = getenv("FAULT_COUNT_FILE");
    fired_file = getenv("FAULT_FIRED_FILE");
    active = 1;
}

__attribute__((destructor)) static void fault_teardown(void) {
    dump_counts();
    active = 0;
}

/* Counts a call of family f; true when this is the call to fail (errno is
 * then already set). */
static int should_fail(int f) {
    if (!active) return 0;
    unsigned long n = __atomic_add_fetch(&counts[f], 1, __ATOMIC_RELAXED);
    if (f != fail_family || n != fail_nth) return 0;
    note_fired(f, n);
    errno = fail_errno;
    return 1;
}

/* The next definition of a function: the C library's. Looked up on first use,
 * since calls can arrive before this library's constructor has run. */
#define REAL(name)                                                                                 \
    static __typeof__(&(name)) real_##name;                                                        \
    if (real_##name == NULL) real_##name = (__typeof__(&(name)))dlsym(RTLD_NEXT, #name)

static void mark_error(FILE* stream) {
    stream->_flags |= _IO_ERR_SEEN;
}

/* ---- descriptors and files ---- */

static int open_mode_needed(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

int open(const char* path, int flags, ...) {
    REAL(open);
    mode_t mode = 0;
    if (open_mode_needed(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (should_fail(F_OPEN)) return -1;
    return real_open(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    REAL(open64);
    mode_t mode = 0;
    if (open_mode_needed(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (should_fail(F_OPEN)) return -1;
    return real_open64(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
    REAL(openat);
    mode_t mode = 0;
    if (open_mode_needed(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (should_fail(F_OPEN)) return -1;
    return real_openat(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
    REAL(openat64);
    mode_t mode = 0;
    if (open_mode_needed(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (should_fail(F_OPEN)) return -1;
    return real_openat64(dir, path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t size) {
    REAL(read);
    if (should_fail(F_READ)) return -1;
    return real_read(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    REAL(write);
    if (fd != 2 && should_fail(F_WRITE)) return -1;
    return real_write(fd, buffer, size);
}

int close(int fd) {
    REAL(close);
    if (should_fail(F_CLOSE)) {
        /* Linux releases the descriptor even when close reports an error. */
        int error = errno;
        (void)real_close(fd);
        errno = error;
        return -1;
    }
    return real_close(fd);
}

int pipe(int ends[2]) {
    REAL(pipe);
    if (should_fail(F_PIPE)) return -1;
    return real_pipe(ends);
}

int pipe2(int ends[2], int flags) {
    REAL(pipe2);
    if (should_fail(F_PIPE)) return -1;
    return real_pipe2(ends, flags);
}

int dup2(int from, int to) {
    REAL(dup2);
    if (should_fail(F_DUP2)) return -1;
    return real_dup2(from, to);
}

int mkdir(const char* path, mode_t mode) {
    REAL(mkdir);
    if (should_fail(F_MKDIR)) return -1;
    return real_mkdir(path, mode);
}

int mkdirat(int dir, const char* path, mode_t mode) {
    REAL(mkdirat);
    if (should_fail(F_MKDIR)) return -1;
    return real_mkdirat(dir, path, mode);
}

/* ---- processes ---- */

pid_t fork(void) {
    REAL(fork);
    if (should_fail(F_FORK)) return -1;
    return real_fork();
}

/* The optional arguments are read only when the flags say they were given. */
int clone(int (*start)(void*), void* stack, int flags, void* argument, ...) {
    REAL(clone);
    pid_t* parent_tid = NULL;
    void* tls = NULL;
    pid_t* child_tid = NULL;
    if ((flags & (CLONE_PARENT_SETTID | CLONE_PIDFD | CLONE_SETTLS | CLONE_CHILD_SETTID |
                  CLONE_CHILD_CLEARTID)) != 0) {
        va_list more;
        va_start(more, argument);
        parent_tid = va_arg(more, pid_t*);
        tls = va_arg(more, void*);
        child_tid = va_arg(more, pid_t*);
        va_end(more);
    }
    if (should_fail(F_FORK)) return -1;
    return real_clone(start, stack, flags, argument, parent_tid, tls, child_tid);
}

pid_t waitpid(pid_t pid, int* status, int options) {
    REAL(waitpid);
    if (should_fail(F_WAITPID)) return -1;
    return real_waitpid(pid, status, options);
}

pid_t wait(int* status) {
    REAL(wait);
    if (should_fail(F_WAITPID)) return -1;
    return real_wait(status);
}

pid_t wait4(pid_t pid, int* status, int options, struct rusage* usage) {
    REAL(wait4);
    if (should_fail(F_WAITPID)) return -1;
    return real_wait4(pid, status, options, usage);
}

/* The counts of the image that is about to be replaced are written first. */
int execve(const char* path, char* const argv[], char* const envp[]) {
    REAL(execve);
    if (should_fail(F_EXEC)) return -1;
    dump_counts();
    return real_execve(path, argv, envp);
}

int execv(const char* path, char* const argv[]) {
    REAL(execv);
    if (should_fail(F_EXEC)) return -1;
    dump_counts();
    return real_execv(path, argv);
}

int execvp(const char* file, char* const argv[]) {
    REAL(execvp);
    if (should_fail(F_EXEC)) return -1;
    dump_counts();
    return real_execvp(file, argv);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
    REAL(pthread_create);
    if (should_fail(F_PTHREAD_CREATE)) return fail_errno;
    return real_pthread_create(thread, attributes, start, argument);
}

int putenv(char* entry) {
    REAL(putenv);
    if (should_fail(F_PUTENV)) return -1;
    return real_putenv(entry);
}

int tcgetattr(int fd, struct termios* settings) {
    REAL(tcgetattr);
    if (should_fail(F_TCGETATTR)) return -1;
    return real_tcgetattr(fd, settings);
}

int tcsetattr(int fd, int action, const struct termios* settings) {
    REAL(tcsetattr);
    if (should_fail(F_TCSETATTR)) return -1;
    return real_tcsetattr(fd, action, settings);
}

/* ---- memory: glibc's own entry points, so no dlsym (which allocates) ---- */

/* These names are glibc's, reserved to it, and exported for exactly this use;
 * no header declares them. */
/* NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp) */
extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
/* NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp) */

void* malloc(size_t size) {
    if (should_fail(F_MALLOC)) return NULL;
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    if (should_fail(F_MALLOC)) return NULL;
    return __libc_calloc(count, size);
}

void* realloc(void* old, size_t size) {
    if (should_fail(F_MALLOC)) return NULL;
    return __libc_realloc(old, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    if (should_fail(F_MALLOC)) return NULL;
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
    if (should_fail(F_MALLOC)) return NULL;
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    if (should_fail(F_MALLOC)) return ENOMEM;
    void* p = __libc_memalign(alignment, size);
    if (p == NULL) return ENOMEM;
    *result = p;
    return 0;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    REAL(mmap);
    if (should_fail(F_MMAP)) return MAP_FAILED;
    return real_mmap(address, length, protection, flags, fd, offset);
}

/* ---- stdio streams ---- */

FILE* fopen(const char* path, const char* mode) {
    REAL(fopen);
    if (should_fail(F_FOPEN)) return NULL;
    return real_fopen(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    REAL(fopen64);
    if (should_fail(F_FOPEN)) return NULL;
    return real_fopen64(path, mode);
}

FILE* fdopen(int fd, const char* mode) {
    REAL(fdopen);
    if (should_fail(F_FOPEN)) return NULL;
    return real_fdopen(fd, mode);
}

int fflush(FILE* stream) {
    REAL(fflush);
    if (stream != NULL && stream != stderr && should_fail(F_FFLUSH)) {
        __fpurge(stream);
        mark_error(stream);
        return EOF;
    }
    return real_fflush(stream);
}

int fclose(FILE* stream) {
    REAL(fclose);
    if (stream != stderr && should_fail(F_FCLOSE)) {
        int error = errno;
        __fpurge(stream);
        (void)real_fclose(stream);
        errno = error;
        return EOF;
    }
    return real_fclose(stream);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
    REAL(fread);
    if (should_fail(F_FREAD)) {
        mark_error(stream);
        return 0;
    }
    return real_fread(buffer, size, count, stream);
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    REAL(fwrite);
    if (stream != stderr && should_fail(F_FWRITE)) {
        mark_error(stream);
        return 0;
    }
    return real_fwrite(buffer, size, count, stream);
}

int fputs(const char* text, FILE* stream) {
    REAL(fputs);
    if (stream != stderr && should_fail(F_FPUTS)) {
        mark_error(stream);
        return EOF;
    }
    return real_fputs(text, stream);
}

int fputc(int c, FILE* stream) {
    REAL(fputc);
    if (stream != stderr && should_fail(F_FPUTC)) {
        mark_error(stream);
        return EOF;
    }
    return real_fputc(c, stream);
}

int vfprintf(FILE* stream, const char* format, va_list arguments) {
    REAL(vfprintf);
    if (stream != stderr && should_fail(F_VFPRINTF)) {
        mark_error(stream);
        return -1;
    }
    return real_vfprintf(stream, format, arguments);
}

int fprintf(FILE* stream, const char* format, ...) {
    REAL(vfprintf);
    if (stream != stderr && should_fail(F_FPRINTF)) {
        mark_error(stream);
        return -1;
    }
    va_list arguments;
    va_start(arguments, format);
    int n = real_vfprintf(stream, format, arguments);
    va_end(arguments);
    return n;
}
