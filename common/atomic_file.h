// Replacing a file so that it appears whole or not at all: the contents go
// into a new temporary file in the target's directory, which is flushed to
// disk, closed and only then renamed over the target. Readers see either the
// old file or the complete new one, and a crash never leaves a truncated file
// under the target's name.
//
// The temporary (".NAME.XXXXXX" beside NAME) is created with O_EXCL,
// O_NOFOLLOW and O_CLOEXEC, so it is never an existing file or a symbolic
// link planted there. It is removed on every failure (a write beyond the
// file-size limit fails with EFBIG when SIGXFSZ is ignored), when its holder
// is destroyed without commit, and when any signal whose default action ends
// the process arrives while it exists: SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE, SIGALRM, SIGUSR1, SIGXFSZ and the others (the signal is then
// raised again with its default action, so the process still ends by that
// signal). Signals that were ignored, or had a handler of the program's own,
// when the first temporary was created keep their action.
//
// The new file keeps the permission bits of the file it replaces; a new file
// gets 0666 less the umask. A symbolic link at the target is replaced by the
// file itself, never written through: rename replaces the name, not what the
// link points to.
//
// A target that exists and is neither a regular file nor a directory (after
// following a link: a device such as /dev/null or /dev/stdout, a FIFO, a
// socket) is opened and written directly instead, since renaming over it
// would replace the device node or FIFO itself; such a write cannot be
// atomic. A directory keeps the temporary path, whose rename then fails.
#pragma once

#include <cstddef>
#include <string>

// The step at which replacing the file failed, so that each program can
// word its own message.
enum class atomic_step {
    none,
    create,   // the temporary could not be created (error: the target's directory)
    open,     // the special file at the target could not be opened for writing
    set_mode, // its permission bits could not be set
    write,    // writing its contents failed
    sync,     // flushing it to disk or closing it failed (a late write error)
    rename,   // renaming it over the target failed
};

// What failed, for a message: "cannot create a temporary file beside it",
// ..., or "write error" for a failed write or flush.
const char* atomic_step_text(atomic_step step);

struct atomic_file {
    std::string path;      // the target
    std::string temp_path; // the temporary beside it (its name stays for messages)
    int fd = -1;           // the temporary (or the special file), open for writing
    bool direct = false;   // writing into a special file at the target: no temporary
    bool temp_exists = false;
    bool committed = false;
    atomic_step failed_step = atomic_step::none;
    int error = 0; // errno of the failure

    atomic_file() = default;
    atomic_file(const atomic_file&) = delete;
    atomic_file& operator=(const atomic_file&) = delete;
    // Closes and removes the temporary unless the file was committed.
    ~atomic_file();
};

// The file the contents go into, for messages: the temporary, or the target
// itself when it is written directly.
inline const std::string& written_path(const atomic_file& file) {
    return file.direct ? file.path : file.temp_path;
}

// Creates the temporary for path and gives it its permission bits. Returns
// false, with failed_step and error set and nothing left behind, on failure.
bool atomic_open(atomic_file& file, const std::string& path);

// As atomic_open, for a file only its owner may read or write (mode 0600)
// that is always replaced through the temporary: whatever is at path (a
// symbolic link, a FIFO, a device) is replaced by the new regular file when
// it is committed, never opened or written through.
bool atomic_open_private(atomic_file& file, const std::string& path);

// Writes all of data to the temporary. Returns false, with failed_step and
// error set, on failure; the temporary stays until commit or destruction.
bool atomic_write(atomic_file& file, const char* data, size_t size);

// Flushes the temporary to disk, closes it and renames it over the target.
// Returns false, with failed_step and error set and the temporary removed,
// on failure; the target is then as it was.
// With sync false the flush is left to the caller, who writes many files
// and flushes them all at once (syncfs) before anything depends on them.
bool atomic_commit(atomic_file& file, bool sync = true);

// Closes and removes the temporary now (as the destructor would).
void atomic_discard(atomic_file& file);
