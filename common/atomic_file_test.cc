#include "atomic_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
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

TEST(AtomicFile, TerminatingSignalsRemoveTheTemporary) {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        scratch_dir dir;
        const std::string target = dir / "out";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            atomic_file file;
            if (!atomic_open(file, target) || !atomic_write(file, "half", 4)) _exit(3);
            // The signal ends the process; should it return, the exit below
            // fails the test.
            (void)kill(getpid(), signal_number); // checked by the parent: the child must die of it
            _exit(4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_EQ(dir.entries(), 0U) << strsignal(signal_number);
    }
}
