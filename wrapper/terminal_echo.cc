#include "terminal_echo.h"

#include <cerrno>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int GUARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int GUARDED_COUNT = sizeof GUARDED_SIGNALS / sizeof GUARDED_SIGNALS[0];

volatile sig_atomic_t echo_off = 0;
int saved_fd = -1;
struct termios saved_settings;
struct sigaction previous_actions[GUARDED_COUNT];
bool handler_installed[GUARDED_COUNT];

// tcsetattr that is made again when a signal interrupts it: TCSAFLUSH waits
// for the terminal's output to drain, and that wait can be interrupted, which
// would leave echo as it was. errno is kept for the signal handler's caller.
int set_terminal(int fd, int action, const struct termios* wanted) {
    int saved_errno = errno;
    int result;
    do {
        result = tcsetattr(fd, action, wanted);
    } while (result != 0 && errno == EINTR);
    errno = saved_errno;
    return result;
}

void put_settings_back(int action) {
    // Nothing more can be done if the terminal refuses; the caller is leaving
    // the prompt either way.
    (void)set_terminal(saved_fd, action, &saved_settings);
}

// Only async-signal-safe calls: write, tcsetattr, sigaction, sigprocmask, raise.
void restore_and_reraise(int signal_number) {
    if (echo_off) {
        (void)write(saved_fd, "\n", 1); // cosmetic: end the prompt line
        put_settings_back(TCSANOW);
        echo_off = 0;
    }
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    (void)sigaction(signal_number, &default_action, nullptr);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    (void)raise(signal_number);
    // The signal is blocked while its handler runs; unblocking delivers it
    // now, with the default action, which ends the process.
    (void)sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

void install_handlers() {
    for (int i = 0; i < GUARDED_COUNT; ++i) {
        handler_installed[i] = false;
        struct sigaction current;
        if (sigaction(GUARDED_SIGNALS[i], nullptr, &current) != 0) continue;
        // A signal the caller chose to ignore stays ignored.
        if (current.sa_handler == SIG_IGN) continue;
        struct sigaction guard = {};
        guard.sa_handler = restore_and_reraise;
        sigemptyset(&guard.sa_mask);
        for (int other : GUARDED_SIGNALS)
            sigaddset(&guard.sa_mask, other);
        if (sigaction(GUARDED_SIGNALS[i], &guard, &previous_actions[i]) == 0)
            handler_installed[i] = true;
    }
}

void remove_handlers() {
    for (int i = 0; i < GUARDED_COUNT; ++i) {
        if (!handler_installed[i]) continue;
        // Putting back an action that was read from the system cannot fail.
        (void)sigaction(GUARDED_SIGNALS[i], &previous_actions[i], nullptr);
        handler_installed[i] = false;
    }
}

} // namespace

void terminal_echo_off(int tty_fd) {
    if (tcgetattr(tty_fd, &saved_settings) != 0) return;
    saved_fd = tty_fd;
    struct termios quiet = saved_settings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    install_handlers();
    echo_off = 1;
    // A terminal that refuses the change keeps echoing; the prompt still works.
    (void)set_terminal(tty_fd, TCSAFLUSH, &quiet);
}

void restore_terminal_echo() {
    if (!echo_off) return;
    put_settings_back(TCSAFLUSH);
    echo_off = 0;
    remove_handlers();
}

void abandon_prompt() {
    if (!echo_off) return;
    (void)write(saved_fd, "\n", 1); // cosmetic: end the prompt line
    restore_terminal_echo();
}

bool terminal_echo_is_off() {
    return echo_off != 0;
}
