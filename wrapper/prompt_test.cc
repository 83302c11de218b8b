// The passphrase prompt through a real pseudo-terminal: nimvara runs with the
// terminal's slave side as its controlling terminal, its standard output and
// error on pipes, and the test types on the master side.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The whole of the terminal's settings, for comparing before and after.
std::string terminal_modes(int fd) {
    struct termios t;
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    std::ostringstream all;
    all << t.c_iflag << ' ' << t.c_oflag << ' ' << t.c_cflag << ' ' << t.c_lflag;
    for (cc_t c : t.c_cc)
        all << ' ' << static_cast<int>(c);
    return all.str();
}

struct prompt_run {
    pid_t pid = -1;
    int master = -1;
    int slave = -1; // kept open here so the terminal outlives the child
    int out = -1;
    int err = -1;
    std::string screen; // everything written to the terminal
    // The terminal's settings as the child was started with them; read
    // later, they could already be the prompt's own.
    std::string modes_before;
    bool echo_before = false;
    int status = 0;
    bool exited = false;

    ~prompt_run() {
        if (pid > 0 && !exited) {
            (void)kill(pid, SIGKILL);
            (void)waitpid(pid, nullptr, 0);
        }
        for (int fd : {master, slave, out, err})
            if (fd >= 0) (void)close(fd);
    }
};

using terminal_change = std::function<void(struct termios&)>;

void start(prompt_run& run, std::vector<std::string> arguments, const char* variable = nullptr,
           const char* record = nullptr, const terminal_change& change = {}) {
    run.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(run.master, 0);
    ASSERT_EQ(grantpt(run.master), 0);
    ASSERT_EQ(unlockpt(run.master), 0);
    std::string slave_name = ptsname(run.master);
    run.slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(run.slave, 0);
    if (change) {
        struct termios modes;
        ASSERT_EQ(tcgetattr(run.slave, &modes), 0);
        change(modes);
        ASSERT_EQ(tcsetattr(run.slave, TCSANOW, &modes), 0);
    }
    run.modes_before = terminal_modes(run.slave);
    struct termios started;
    ASSERT_EQ(tcgetattr(run.slave, &started), 0);
    run.echo_before = (started.c_lflag & ECHO) != 0;
    int out[2];
    int err[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    arguments.insert(arguments.begin(), NIMVARA_PATH);
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    run.pid = fork();
    ASSERT_GE(run.pid, 0);
    if (run.pid == 0) {
        // A new session whose controlling terminal is the slave.
        setsid();
        int tty = open(slave_name.c_str(), O_RDWR);
        if (tty < 0) _exit(120);
        if (dup2(tty, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(120);
        // Whatever the test runner ignored or blocked is not the wrapper's.
        for (int s = 1; s < NSIG; ++s)
            (void)signal(s, SIG_DFL); // refused only for numbers without an action
        sigset_t none;
        sigemptyset(&none);
        if (sigprocmask(SIG_SETMASK, &none, nullptr) != 0) _exit(120);
        if (variable ? setenv("NIMVARA_PASSPHRASE", variable, 1) != 0
                     : unsetenv("NIMVARA_PASSPHRASE") != 0)
            _exit(120);
        if (record && setenv("FAKE_GPG_RECORD", record, 1) != 0) _exit(120);
        // Whatever the test runner left open is not the wrapper's to pass on.
        close_range(3, ~0U, 0);
        execv(NIMVARA_PATH, argv.data());
        _exit(121);
    }
    (void)close(out[1]); // the child's ends: nothing to lose
    (void)close(err[1]);
    run.out = out[0];
    run.err = err[0];
}

// Moves what the terminal shows into run.screen; waits up to timeout_ms.
void pump(prompt_run& run, int timeout_ms) {
    struct pollfd p = {run.master, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return;
    char chunk[4096];
    ssize_t n = read(run.master, chunk, sizeof chunk);
    if (n > 0) run.screen.append(chunk, static_cast<size_t>(n));
}

bool wait_for_screen(prompt_run& run, const std::string& text) {
    for (int i = 0; i < 500 && run.screen.find(text) == std::string::npos; ++i)
        pump(run, 10);
    return run.screen.find(text) != std::string::npos;
}

bool echo_on(prompt_run& run) {
    struct termios t;
    EXPECT_EQ(tcgetattr(run.slave, &t), 0);
    return (t.c_lflag & ECHO) != 0;
}

bool wait_for_echo(prompt_run& run, bool want_on) {
    for (int i = 0; i < 500; ++i) {
        if (echo_on(run) == want_on) return true;
        pump(run, 10);
    }
    return false;
}

void type(prompt_run& run, const std::string& text) {
    ASSERT_EQ(write(run.master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::string drain(int fd) {
    std::string all;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        all.append(chunk, static_cast<size_t>(n));
    return all;
}

// Waits for the child, taking in what the terminal shows meanwhile.
void finish(prompt_run& run) {
    for (int i = 0; i < 1000; ++i) {
        pid_t done = waitpid(run.pid, &run.status, WNOHANG);
        if (done == run.pid) {
            run.exited = true;
            break;
        }
        pump(run, 10);
    }
    ASSERT_TRUE(run.exited) << "nimvara did not end";
    pump(run, 0);
}

TEST(Prompt, AnswerIsNotEchoedAndEchoComesBack) {
    prompt_run run;
    start(run, {"-P"});
    ASSERT_TRUE(run.echo_before);
    ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
    ASSERT_TRUE(wait_for_echo(run, false));
    type(run, "pw d\xc3\xa9\n");
    finish(run);
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(drain(run.out), "pw\\040d\\303\\251\n");
    EXPECT_EQ(drain(run.err), "");
    EXPECT_EQ(run.screen, "Passphrase: \r\n");
    EXPECT_TRUE(echo_on(run));
}

TEST(Prompt, AskTwiceWithEqualAnswers) {
    prompt_run run;
    start(run, {"-P", "-a"});
    ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
    ASSERT_TRUE(wait_for_echo(run, false));
    type(run, "same\n");
    ASSERT_TRUE(wait_for_screen(run, "Passphrase (again): "));
    EXPECT_FALSE(echo_on(run));
    type(run, "same\n");
    finish(run);
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(drain(run.out), "same\n");
    EXPECT_EQ(run.screen, "Passphrase: \r\nPassphrase (again): \r\n");
    EXPECT_TRUE(echo_on(run));
}

TEST(Prompt, AskTwiceWithDifferentAnswersFailsWithEchoBack) {
    for (const char* second : {"samf\n", "same!\n", "sam\n"}) {
        prompt_run run;
        start(run, {"-P", "--ask-twice"});
        ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
        ASSERT_TRUE(wait_for_echo(run, false));
        type(run, "same\n");
        ASSERT_TRUE(wait_for_screen(run, "Passphrase (again): "));
        type(run, second);
        finish(run);
        EXPECT_EQ(WEXITSTATUS(run.status), 1);
        EXPECT_EQ(drain(run.out), "");
        EXPECT_EQ(drain(run.err), "nimvara: passphrases are not the same\n");
        EXPECT_TRUE(echo_on(run));
    }
}

TEST(Prompt, EndOfFileAtThePromptIsAClearFailure) {
    prompt_run run;
    start(run, {"-P"});
    ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
    ASSERT_TRUE(wait_for_echo(run, false));
    type(run, "\x04"); // end of file at the start of a line: a read of no bytes
    finish(run);
    EXPECT_EQ(WEXITSTATUS(run.status), 1);
    EXPECT_EQ(drain(run.out), "");
    EXPECT_EQ(drain(run.err), "nimvara: no passphrase entered (end of file at the prompt)\n");
    EXPECT_TRUE(echo_on(run));
}

TEST(Prompt, LineEndedWithoutNewlineKeepsEveryByte) {
    prompt_run run;
    start(run, {"-P"});
    ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
    ASSERT_TRUE(wait_for_echo(run, false));
    type(run, "abc\x04"); // end of file after some bytes ends the line without a newline
    finish(run);
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(drain(run.out), "abc\n");
}

// A full-screen program that crashed leaves the terminal without line input
// (stty -icanon) or raw (no carriage-return translation either). The answer
// is still the whole line however it arrives, and the modes come back.
TEST(Prompt, WholeLineFromATerminalLeftWithoutLineInput) {
    struct variant {
        const char* name;
        tcflag_t lflag_off;
        tcflag_t iflag_off;
        const char* enter;
    };
    for (const variant& v : {variant{"-icanon", ICANON, 0, "\n"},
                             variant{"-icanon -icrnl", ICANON | ISIG, ICRNL, "\r"}}) {
        for (bool twice : {false, true}) {
            SCOPED_TRACE(std::string(v.name) + (twice ? " -a" : ""));
            prompt_run run;
            start(run,
                  twice ? std::vector<std::string>{"-P", "-a"} : std::vector<std::string>{"-P"},
                  nullptr, nullptr, [&](struct termios& t) {
                      t.c_lflag &= ~v.lflag_off;
                      t.c_iflag &= ~v.iflag_off;
                  });
            const std::string before = run.modes_before;
            ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
            ASSERT_TRUE(wait_for_echo(run, false));
            for (int answer = 0; answer < (twice ? 2 : 1); ++answer) {
                if (answer == 1) {
                    ASSERT_TRUE(wait_for_screen(run, "(again): "));
                }
                type(run, "hun");
                pump(run, 50);
                type(run, "ter2");
                pump(run, 50);
                type(run, v.enter);
            }
            finish(run);
            EXPECT_EQ(WEXITSTATUS(run.status), 0) << drain(run.err);
            EXPECT_EQ(drain(run.out), "hunter2\n");
            EXPECT_EQ(terminal_modes(run.slave), before);
        }
    }
}

TEST(Prompt, EveryTerminatingSignalRestoresTheTerminalAndEndsTheProcess) {
    const int signals[] = {SIGHUP,    SIGINT,   SIGQUIT,      SIGILL,    SIGTRAP, SIGABRT, SIGBUS,
                           SIGFPE,    SIGUSR1,  SIGSEGV,      SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM,
                           SIGSTKFLT, SIGXCPU,  SIGXFSZ,      SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,
                           SIGSYS,    SIGRTMIN, SIGRTMIN + 1, SIGRTMAX};
    for (int sig : signals) {
        SCOPED_TRACE(sig);
        prompt_run run;
        start(run, {"-P"});
        const std::string before = run.modes_before;
        ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
        ASSERT_TRUE(wait_for_echo(run, false));
        ASSERT_EQ(kill(run.pid, sig), 0);
        finish(run);
        ASSERT_TRUE(WIFSIGNALED(run.status));
        EXPECT_EQ(WTERMSIG(run.status), sig);
        EXPECT_EQ(terminal_modes(run.slave), before);
    }
}

// Ctrl-Z gives the terminal back and stops; after SIGCONT the prompt is
// shown again with echo off, and the answer typed then is taken.
TEST(Prompt, StoppedAndContinuedPromptsAgain) {
    prompt_run run;
    start(run, {"-P"});
    ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
    ASSERT_TRUE(wait_for_echo(run, false));
    type(run, "lost\x1a");
    int status = 0;
    ASSERT_EQ(waitpid(run.pid, &status, WUNTRACED), run.pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    EXPECT_TRUE(echo_on(run));
    run.screen.clear();
    ASSERT_EQ(kill(run.pid, SIGCONT), 0);
    ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
    ASSERT_TRUE(wait_for_echo(run, false));
    type(run, "kept\n");
    finish(run);
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(drain(run.out), "kept\n");
    EXPECT_TRUE(echo_on(run));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

TEST(Prompt, InteractiveWinsOverFileAndVariableAndFeedsThePipe) {
    char dir[] = "/tmp/nimvara-prompt.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string record = std::string(dir) + "/record";
    {
        prompt_run run;
        start(run, {"-i", "-p", "/nonexistent", FAKE_GPG_PATH, "-d"}, "from\\040env",
              record.c_str());
        ASSERT_TRUE(wait_for_screen(run, "Passphrase: "));
        ASSERT_TRUE(wait_for_echo(run, false));
        type(run, "typed\n");
        finish(run);
        EXPECT_EQ(WEXITSTATUS(run.status), 0);
        EXPECT_TRUE(echo_on(run));
    }
    std::string seen = read_file(record);
    EXPECT_NE(seen.find("\nargv[1] --passphrase-fd\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nargv[3] -d\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\npassphrase 5 7479706564\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nenv set ''\n"), std::string::npos) << seen;
    // The terminal and the pipe's write end stay behind.
    EXPECT_NE(seen.find("\nfds 0 1 2 3\n"), std::string::npos) << seen;
    (void)unlink(record.c_str());
    (void)rmdir(dir);
}

} // namespace
