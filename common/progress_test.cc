// The progress display appears only on a terminal, only after a second, and
// leaves a cleared line behind.
#include "progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Runs one phase of about the given length with standard error pointing at
// fd, and returns nothing; the caller collects what fd's other end received.
void run_phase_on(int fd, std::chrono::milliseconds length) {
    int saved = dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(dup2(fd, STDERR_FILENO), STDERR_FILENO);
    progress_begin("analysis", 1000);
    auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end) {
        progress_advance(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    progress_end();
    ASSERT_EQ(dup2(saved, STDERR_FILENO), STDERR_FILENO);
    (void)close(saved); // nothing to do if closing the copy fails
}

std::string read_available(int fd) {
    std::string text;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return text;
        text.append(buf, static_cast<size_t>(n));
    }
}

struct pseudo_terminal {
    int master = -1;
    int slave = -1;
    pseudo_terminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        // Reads on the master must not block once the output is drained.
        EXPECT_NE(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK), -1);
    }
    ~pseudo_terminal() {
        if (slave >= 0) (void)close(slave);
        if (master >= 0) (void)close(master);
    }
};

TEST(Progress, DrawsAndClearsALineOnATerminal) {
    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    run_phase_on(pty.slave, std::chrono::milliseconds(1600));
    std::string shown = read_available(pty.master);
    EXPECT_NE(shown.find("\ranalysis: "), std::string::npos) << shown;
    EXPECT_NE(shown.find("/1000 keys, "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" left"), std::string::npos) << shown;
    // The line is blanked at the end and the cursor left at its start.
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), '\r');
    size_t last_line = shown.rfind('\r', shown.size() - 2);
    ASSERT_NE(last_line, std::string::npos);
    EXPECT_EQ(shown.substr(last_line + 1, shown.size() - last_line - 2).find_first_not_of(' '),
              std::string::npos);
}

TEST(Progress, SilentWhenNotATerminalOrShort) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_NE(fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK), -1);
    run_phase_on(pipe_ends[1], std::chrono::milliseconds(1300));
    EXPECT_EQ(read_available(pipe_ends[0]), "");
    (void)close(pipe_ends[0]);
    (void)close(pipe_ends[1]);

    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    run_phase_on(pty.slave, std::chrono::milliseconds(200));
    EXPECT_EQ(read_available(pty.master), "");
}

TEST(Progress, LineShowsRateAndTimeLeft) {
    char line[128];
    progress_format(line, sizeof line, "import", 250, 1000, 5.0);
    EXPECT_STREQ(line, "import: 250/1000 keys, 50/s, 15s left");
    progress_format(line, sizeof line, "sets", 10, 100000, 1.0);
    EXPECT_STREQ(line, "sets: 10/100000 keys, 10/s, 2h46m left");
    progress_format(line, sizeof line, "analysis", 0, 10, 2.0);
    EXPECT_STREQ(line, "analysis: 0/10 keys, 0/s, ? left");
    progress_format(line, sizeof line, "import", 36, 72, 2.0, "records");
    EXPECT_STREQ(line, "import: 36/72 records, 18/s, 2s left");
    // An unknown total (input from a pipe).
    progress_format(line, sizeof line, "reading", 12, 0, 4.0, "MiB");
    EXPECT_STREQ(line, "reading: 12 MiB, 3/s");
}

} // namespace
