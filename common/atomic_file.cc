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

constexpr std::array<int, 3> CLEANUP_SIGNALS = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temporaries_and_reraise(int signal_number) {
    for (temp_slot& slot : temp_slots)
        if (slot.in_use.load()) (void)unlink(slot.name); // nothing else to do if it fails
    // SA_RESETHAND has restored the default action, and the signal is blocked
    // while this handler runs: raised again, it ends the process as soon as
    // the handler returns.
    (void)raise(signal_number); // cannot fail for a valid signal number
}

// Installs the handler once per process for the signals whose action is the
// default one: ignored signals stay ignored, and a program's own handler
// keeps the signal.
void install_handlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    for (int signal_number : CLEANUP_SIGNALS) {
        struct sigaction old_action {};
        if (sigaction(signal_number, nullptr, &old_action) != 0) continue;
        if ((old_action.sa_flags & SA_SIGINFO) != 0 || old_action.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = remove_temporaries_and_reraise;
        (void)sigemptyset(&action.sa_mask); // cannot fail on a valid set
        for (int other : CLEANUP_SIGNALS)
            (void)sigaddset(&action.sa_mask, other); // cannot fail on these signals
        action.sa_flags = SA_RESETHAND;
        // Without the handler a signal would leave the temporary behind, but
        // writing the file still works: not a reason to fail.
        (void)sigaction(signal_number, &action, nullptr);
    }
}

// Blocks the cleanup signals for the lifetime of the holder, so that a
// temporary is never created or renamed without being registered.
struct signals_blocked {
    sigset_t old_mask{};
    bool blocked = false;
    signals_blocked() {
        sigset_t mask;
        (void)sigemptyset(&mask); // cannot fail on a valid set
        for (int signal_number : CLEANUP_SIGNALS)
            (void)sigaddset(&mask, signal_number); // cannot fail on these signals
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

} // namespace

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

bool atomic_open(atomic_file& file, const std::string& path) {
    file.path = path;
    install_handlers();
    std::string temp = temporary_template(path);
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
    if (fchmod(file.fd, new_file_mode(path)) != 0) {
        const int error = errno;
        atomic_discard(file);
        return fail(file, atomic_step::set_mode, error);
    }
    return true;
}

bool atomic_write(atomic_file& file, const char* data, size_t size) {
    if (write_all(file.fd, data, size)) return true;
    return fail(file, atomic_step::write, errno);
}

bool atomic_commit(atomic_file& file, bool sync) {
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
