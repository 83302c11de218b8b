#include "atomic_file.h"

#include "file_io.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporaries that exist, for the signal handler: a fixed table of
// names, as the handler may neither allocate nor take locks. A slot's name
// is written while it is free and published by setting in_use.
struct temp_slot {
    std::atomic<bool> in_use{false};
    char name[PATH_MAX] = {};
};
constexpr size_t SLOT_COUNT = 16;
std::array<temp_slot, SLOT_COUNT> temp_slots;
std::atomic<bool> claim_lock{false};

// Signals whose default action does not end the process: they need no
// cleanup. SIGKILL and SIGSTOP cannot be caught at all.
bool leaves_process_running(int signal_number) {
    switch (signal_number) {
    case SIGKILL:
    case SIGSTOP:
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
        return true;
    default:
        return false;
    }
}

// Signals raised by a fault of the running instruction (or by abort): never
// blocked, since a blocked fault signal kills the process without a handler.
bool raised_by_fault(int signal_number) {
    switch (signal_number) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE:
    case SIGTRAP:
    case SIGABRT:
    case SIGSYS:
        return true;
    default:
        return false;
    }
}

// The signals that end the process, with or without the fault signals.
// Numbers the C library keeps for itself are refused by sigaddset and left out.
sigset_t cleanup_signals(bool with_faults) {
    sigset_t set;
    (void)sigemptyset(&set); // cannot fail on a valid set
    for (int signal_number = 1; signal_number < NSIG; ++signal_number)
        if (!leaves_process_running(signal_number) &&
            (with_faults || !raised_by_fault(signal_number)))
            (void)sigaddset(&set, signal_number); // fails only for reserved numbers: left out
    return set;
}

extern "C" void remove_temporaries_and_reraise(int signal_number) {
    for (temp_slot& slot : temp_slots)
        if (slot.in_use.load()) (void)unlink(slot.name); // nothing else to do if it fails
    // SA_RESETHAND has restored the default action, and the signal is blocked
    // while this handler runs: raised again, it ends the process as soon as
    // the handler returns.
    (void)raise(signal_number); // cannot fail for a valid signal number
}

// Installs the handler once per process for every signal that ends the
// process and whose action is the default one: ignored signals stay
// ignored, and a program's own handler keeps the signal.
void install_handlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    struct sigaction action {};
    action.sa_handler = remove_temporaries_and_reraise;
    action.sa_mask = cleanup_signals(true);
    action.sa_flags = SA_RESETHAND;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (leaves_process_running(signal_number)) continue;
        struct sigaction old_action {};
        // Fails for the numbers the C library reserves: those are passed over.
        if (sigaction(signal_number, nullptr, &old_action) != 0) continue;
        if ((old_action.sa_flags & SA_SIGINFO) != 0 || old_action.sa_handler != SIG_DFL) continue;
        // Without the handler a signal would leave the temporary behind, but
        // writing the file still works: not a reason to fail.
        (void)sigaction(signal_number, &action, nullptr);
    }
}

// Blocks the asynchronous cleanup signals for the lifetime of the holder, so
// that a temporary is never created or renamed without being registered.
struct signals_blocked {
    sigset_t old_mask{};
    bool blocked = false;
    signals_blocked() {
        const sigset_t mask = cleanup_signals(false);
        blocked = pthread_sigmask(SIG_BLOCK, &mask, &old_mask) == 0;
    }
    ~signals_blocked() {
        // Restores the mask saved above; cannot fail with a valid set.
        if (blocked) (void)pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    }
    signals_blocked(const signals_blocked&) = delete;
    signals_blocked& operator=(const signals_blocked&) = delete;
};

// Registers name; returns its slot, or -1 when every slot is taken (the
// temporary is then still removed on failures, only not on signals).
int register_temporary(const std::string& name) {
    if (name.size() >= PATH_MAX) return -1;
    while (claim_lock.exchange(true, std::memory_order_acquire)) {
    }
    int found = -1;
    for (size_t i = 0; i < SLOT_COUNT && found < 0; ++i) {
        if (temp_slots[i].in_use.load()) continue;
        std::memcpy(temp_slots[i].name, name.c_str(), name.size() + 1);
        temp_slots[i].in_use.store(true);
        found = static_cast<int>(i);
    }
    claim_lock.store(false, std::memory_order_release);
    return found;
}

void unregister_temporary(const std::string& name) {
    for (temp_slot& slot : temp_slots)
        if (slot.in_use.load() && name == slot.name) {
            slot.in_use.store(false);
            return;
        }
}

std::string temporary_template(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + ".XXXXXX";
}

// The permission bits for the new file: those of the regular file it
// replaces, else those of a newly created file.
mode_t new_file_mode(const std::string& path) {
    struct stat old_file {};
    if (lstat(path.c_str(), &old_file) == 0 && S_ISREG(old_file.st_mode))
        return old_file.st_mode & 0777;
    const mode_t mask = umask(0);
    (void)umask(mask); // restores the mask just read; umask cannot fail
    return 0666 & ~mask;
}

bool fail(atomic_file& file, atomic_step step, int error) {
    file.failed_step = step;
    file.error = error;
    return false;
}

// True when path leads, directly or through links, into /proc or /dev/fd:
// /dev/stdout, /dev/fd/1 and /proc/self/fd/1 name an open descriptor, not a
// file in a directory, and a temporary renamed over such a name would
// replace the link (/dev/stdout itself) rather than reach the descriptor.
bool names_a_descriptor(const std::string& path) {
    constexpr int LINK_HOPS_MAX = 40; // as the kernel's own limit
    std::string current = path;
    for (int hop = 0; hop <= LINK_HOPS_MAX; ++hop) {
        if (current.rfind("/proc/", 0) == 0 || current.rfind("/dev/fd/", 0) == 0) return true;
        char target[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), target, sizeof target);
        // Not a link (or unreadable): the chain ends here.
        if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return false;
        std::string next(target, static_cast<size_t>(length));
        const size_t slash = current.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next.insert(0, current, 0, slash + 1);
        current = std::move(next);
    }
    return false;
}

// Whether the target is written directly: it exists, is not a directory,
// and is either not a regular file or reached through a descriptor name.
bool written_directly(const std::string& path) {
    struct stat target {};
    if (stat(path.c_str(), &target) != 0 || S_ISDIR(target.st_mode)) return false;
    return !S_ISREG(target.st_mode) || names_a_descriptor(path);
}

enum class direct_open { opened, failed, use_temporary };

// Opens the target itself for writing. A FIFO blocks here until it has a
// reader, as a shell's redirection does. Neither O_CREAT nor O_TRUNC: a
// target that became a regular file meanwhile is left untouched and gets
// the temporary after all. A regular file behind a descriptor name is
// appended to, as the shell's redirection ">" or ">>" positioned it.
direct_open open_directly(atomic_file& file) {
    int fd = -1;
    do
        fd = open(file.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        fail(file, atomic_step::open, errno);
        return direct_open::failed;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0) {
        fail(file, atomic_step::open, errno);
        (void)close(fd); // nothing was written: nothing to lose
        return direct_open::failed;
    }
    if (S_ISREG(opened.st_mode) && !names_a_descriptor(file.path)) {
        (void)close(fd); // nothing was written: nothing to lose
        return direct_open::use_temporary;
    }
    if (S_ISREG(opened.st_mode)) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags | O_APPEND) != 0) {
            fail(file, atomic_step::open, errno);
            (void)close(fd); // nothing was written: nothing to lose
            return direct_open::failed;
        }
    }
    file.fd = fd;
    file.direct = true;
    return direct_open::opened;
}

// The end of a direct write: flushed where the file has anything to flush
// (a FIFO, a terminal or /dev/null has not: EINVAL), then closed.
bool commit_directly(atomic_file& file, bool sync) {
    const int fd = file.fd;
    file.fd = -1;
    if (sync && fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        const int error = errno;
        (void)close(fd); // the flush already failed: that is the error reported
        return fail(file, atomic_step::sync, error);
    }
    if (close(fd) != 0) return fail(file, atomic_step::sync, errno);
    file.committed = true;
    return true;
}

} // namespace

const char* atomic_step_text(atomic_step step) {
    switch (step) {
    case atomic_step::create:
        return "cannot create a temporary file beside it";
    case atomic_step::open:
        return "cannot open for writing";
    case atomic_step::set_mode:
        return "cannot set the mode of the temporary file";
    case atomic_step::rename:
        return "cannot rename the temporary file into place";
    case atomic_step::none:
    case atomic_step::write:
    case atomic_step::sync:
        break;
    }
    return "write error";
}

void atomic_discard(atomic_file& file) {
    if (file.fd >= 0) {
        (void)close(file.fd); // the contents are abandoned: a close error no longer matters
        file.fd = -1;
    }
    if (file.temp_exists) {
        signals_blocked blocked;
        (void)unlink(file.temp_path.c_str()); // best effort: nothing more can be done
        unregister_temporary(file.temp_path);
        file.temp_exists = false;
    }
}

atomic_file::~atomic_file() {
    atomic_discard(*this);
}

namespace {

// Creates the temporary beside file.path with the permission bits mode.
bool open_temporary(atomic_file& file, mode_t mode) {
    std::string temp = temporary_template(file.path);
    {
        signals_blocked blocked;
        // mkostemp adds O_CREAT | O_EXCL and fills in the name in place, so
        // once the file exists nothing is left to allocate.
        const int fd = mkostemp(temp.data(), O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return fail(file, atomic_step::create, errno);
        file.fd = fd;
        file.temp_path = std::move(temp);
        file.temp_exists = true;
        (void)register_temporary(file.temp_path); // a full table only loses the signal cleanup
    }
    if (fchmod(file.fd, mode) != 0) {
        const int error = errno;
        atomic_discard(file);
        return fail(file, atomic_step::set_mode, error);
    }
    return true;
}

} // namespace

bool atomic_open(atomic_file& file, const std::string& path) {
    file.path = path;
    install_handlers();
    if (written_directly(path)) {
        const direct_open opened = open_directly(file);
        if (opened != direct_open::use_temporary) return opened == direct_open::opened;
    }
    return open_temporary(file, new_file_mode(path));
}

bool atomic_open_private(atomic_file& file, const std::string& path) {
    file.path = path;
    install_handlers();
    return open_temporary(file, 0600);
}

bool atomic_write(atomic_file& file, const char* data, size_t size) {
    if (write_all(file.fd, data, size)) return true;
    return fail(file, atomic_step::write, errno);
}

bool atomic_commit(atomic_file& file, bool sync) {
    if (file.direct) return commit_directly(file, sync);
    if (sync && fsync(file.fd) != 0) {
        const int error = errno;
        atomic_discard(file);
        return fail(file, atomic_step::sync, error);
    }
    const int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) {
        const int error = errno;
        atomic_discard(file);
        return fail(file, atomic_step::sync, error);
    }
    signals_blocked blocked;
    if (rename(file.temp_path.c_str(), file.path.c_str()) != 0) {
        const int error = errno;
        atomic_discard(file);
        return fail(file, atomic_step::rename, error);
    }
    file.committed = true;
    file.temp_exists = false;
    unregister_temporary(file.temp_path);
    return true;
}
