#include "atomic_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct scratch_dir {
    fs::path path;
    scratch_dir() {
        char name[] = "/tmp/atomic_file_test.XXXXXX";
        if (mkdtemp(name) != nullptr) path = name;
    }
    ~scratch_dir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string operator/(const char* name) const { return (path / name).string(); }
    size_t entries() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(path), {}));
    }
};

std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0);
    return st.st_mode;
}

bool replace(const std::string& path, const std::string& text) {
    atomic_file file;
    return atomic_open(file, path) && atomic_write(file, text.data(), text.size()) &&
           atomic_commit(file);
}

} // namespace

TEST(AtomicFile, ReplacesKeepingModeAndReplacingLinksNotTheirTargets) {
    scratch_dir dir;
    const std::string target = dir / "out", other = dir / "other", link = dir / "link";

    const mode_t old_mask = umask(022);
    ASSERT_TRUE(replace(target, "new\n"));
    EXPECT_EQ(contents(target), "new\n");
    EXPECT_EQ(mode_of(target) & 0777, 0644U); // a new file: 0666 less the umask

    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    ASSERT_TRUE(replace(target, "again\n"));
    EXPECT_EQ(contents(target), "again\n");
    EXPECT_EQ(mode_of(target) & 0777, 0600U); // an existing file's bits are kept
    (void)umask(old_mask);

    std::ofstream(other) << "untouched\n";
    ASSERT_EQ(symlink(other.c_str(), link.c_str()), 0);
    ASSERT_TRUE(replace(link, "through?\n"));
    EXPECT_TRUE(S_ISREG(mode_of(link)));
    EXPECT_EQ(contents(link), "through?\n");
    EXPECT_EQ(contents(other), "untouched\n");
    EXPECT_EQ(dir.entries(), 3U); // no temporary left
}

TEST(AtomicFile, FailuresAndAbandonedWritesLeaveNoTemporary) {
    scratch_dir dir;
    const std::string target = dir / "out";
    std::ofstream(target) << "old\n";
    {
        atomic_file file;
        ASSERT_TRUE(atomic_open(file, target));
        ASSERT_TRUE(atomic_write(file, "partial", 7));
        EXPECT_EQ(dir.entries(), 2U);
    } // abandoned: the destructor removes the temporary
    EXPECT_EQ(dir.entries(), 1U);
    EXPECT_EQ(contents(target), "old\n");

    // A directory in the target's place: the rename fails.
    const std::string taken = dir / "taken";
    ASSERT_EQ(mkdir(taken.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((taken + "/inside").c_str(), 0700), 0);
    atomic_file file;
    ASSERT_TRUE(atomic_open(file, taken));
    EXPECT_FALSE(atomic_commit(file));
    EXPECT_EQ(file.failed_step, atomic_step::rename);
    EXPECT_NE(file.error, 0);
    EXPECT_EQ(dir.entries(), 2U);

    atomic_file nowhere;
    EXPECT_FALSE(atomic_open(nowhere, dir / "missing/out"));
    EXPECT_EQ(nowhere.failed_step, atomic_step::create);
    EXPECT_EQ(nowhere.error, ENOENT);
}

// Every signal that ends the process removes the temporary, and the process
// still dies of that signal. The file-size limit raises SIGXFSZ from the
// write itself; ignored, the write fails with EFBIG and the holder cleans up.
TEST(AtomicFile, TerminatingSignalsRemoveTheTemporary) {
    const struct {
        int signal_number;
        bool from_size_limit;
    } cases[] = {{SIGINT, false},  {SIGTERM, false}, {SIGHUP, false},  {SIGQUIT, false},
                 {SIGUSR1, false}, {SIGALRM, false}, {SIGPIPE, false}, {SIGXFSZ, false},
                 {SIGXFSZ, true},  {0, true}};
    for (const auto& c : cases) {
        scratch_dir dir;
        const std::string target = dir / "out";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit no_core{0, 0};
            (void)setrlimit(RLIMIT_CORE, &no_core);                   // only spares a core file
            if (c.signal_number == 0) (void)signal(SIGXFSZ, SIG_IGN); // checked by the parent
            int code = 0;
            {
                atomic_file file;
                if (!atomic_open(file, target) || !atomic_write(file, "half", 4)) _exit(3);
                if (!c.from_size_limit) {
                    // The signal ends the process; should it return, the exit
                    // below fails the test.
                    (void)kill(getpid(), c.signal_number); // checked by the parent
                    _exit(4);
                }
                const rlimit small{4096, 4096};
                if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(5);
                const std::string block(8192, 'x');
                code = atomic_write(file, block.data(), block.size()) ? 6
                       : file.error == EFBIG                          ? 7
                                                                      : 8;
            } // the failed file is abandoned: its holder removes the temporary
            _exit(code);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.signal_number != 0) {
            ASSERT_TRUE(WIFSIGNALED(status)) << strsignal(c.signal_number) << " " << status;
            EXPECT_EQ(WTERMSIG(status), c.signal_number);
            EXPECT_EQ(dir.entries(), 0U) << strsignal(c.signal_number);
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
            EXPECT_EQ(dir.entries(), 0U) << "EFBIG";
        }
    }
}

// What a target that is not a regular file receives: the data written into
// it, while the node itself (FIFO, device, socket, descriptor link) stays.
TEST(AtomicFile, SpecialTargetsAreWrittenNeverReplaced) {
    scratch_dir dir;
    const std::string fifo = dir / "fifo", link = dir / "link", device = dir / "null";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
    // A reader on the other end, so that opening the FIFO for writing does not block.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // cppcheck-suppress resourceLeak ; closed below, or left to the test process on a failed ASSERT
    ASSERT_GE(reader, 0);
    for (const std::string& target : {fifo, link}) {
        ASSERT_TRUE(replace(target, "through the fifo\n")) << target;
        char got[64] = {};
        EXPECT_EQ(read(reader, got, sizeof got), 17) << target;
        EXPECT_STREQ(got, "through the fifo\n");
        EXPECT_TRUE(S_ISFIFO(mode_of(fifo)));
    }
    EXPECT_TRUE(S_ISLNK(mode_of(link)));
    ASSERT_EQ(close(reader), 0);

    // A null device of our own: needs the right to make device nodes.
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        const mode_t before = mode_of(device);
        ASSERT_TRUE(replace(device, "gone\n"));
        EXPECT_EQ(mode_of(device), before); // still the device, its bits untouched
    }

    // A pipe and a regular file named through /dev/fd: the descriptor gets
    // the data (the file appended to, as ">>" would), no link is replaced.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string appended = dir / "appended";
    std::ofstream(appended) << "first\n";
    const int file_fd = open(appended.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(file_fd, 0);
    ASSERT_TRUE(replace("/dev/fd/" + std::to_string(ends[1]), "piped\n"));
    ASSERT_TRUE(replace("/dev/fd/" + std::to_string(file_fd), "second\n"));
    char got[16] = {};
    EXPECT_EQ(read(ends[0], got, sizeof got), 6);
    EXPECT_STREQ(got, "piped\n");
    EXPECT_EQ(contents(appended), "first\nsecond\n");
    for (int fd : {ends[0], ends[1], file_fd})
        EXPECT_EQ(close(fd), 0);

    // A socket cannot be opened: the open step fails, the socket stays.
    const std::string socket_path = dir / "socket";
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    atomic_file file;
    EXPECT_FALSE(atomic_open(file, socket_path));
    EXPECT_EQ(file.failed_step, atomic_step::open);
    EXPECT_EQ(file.error, ENXIO);
    EXPECT_TRUE(S_ISSOCK(mode_of(socket_path)));
    EXPECT_EQ(close(listener), 0);

    EXPECT_EQ(dir.entries(), 5U) << "a temporary left behind";
    struct stat null_device {};
    EXPECT_EQ(stat("/dev/null", &null_device), 0);
    EXPECT_TRUE(S_ISCHR(null_device.st_mode)); // the system's own, as an extra check
}
