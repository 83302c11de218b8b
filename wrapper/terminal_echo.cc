#include "terminal_echo.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// Set while the prompt's modes are in force (from terminal_echo_off until
// restore_terminal_echo); the handlers act only then.
volatile sig_atomic_t echo_off = 0;
int saved_fd = -1;
struct termios saved_settings;
struct termios quiet_settings;
const char* volatile prompt_text = "";

// Indexed by signal number; real-time signals included.
struct sigaction previous_actions[NSIG];
bool handler_installed[NSIG];

// tcsetattr that is made again when a signal interrupts it: TCSAFLUSH waits
// for the terminal's output to drain, and that wait can be interrupted, which
// would leave the modes as they were. errno is kept for a handler's caller.
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

// Cosmetic writes to the terminal from a handler: a failure changes nothing
// that matters, and errno is kept for the interrupted code.
void show(const char* text) {
    int saved_errno = errno;
    (void)write(saved_fd, text, strlen(text));
    errno = saved_errno;
}

// The handlers use only async-signal-safe calls: write, tcgetattr,
// tcsetattr, sigaction, sigprocmask, raise, strlen.

void restore_and_reraise(int signal_number) {
    if (echo_off) {
        show("\n"); // end the prompt line
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
    // now, with the default action, which ends the process. A fault (SIGSEGV
    // and the like) that returns here is raised again by the faulting
    // instruction, now with the default action.
    (void)sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

// After a stop: the shell that continued the process may have set its own
// modes meanwhile. If the prompt's are gone, set them again (discarding what
// was typed while echo was on) and show the prompt anew.
void resume_prompt(int) {
    if (!echo_off) return;
    int saved_errno = errno;
    struct termios now;
    bool still_quiet =
        tcgetattr(saved_fd, &now) == 0 &&
        (now.c_lflag & (ECHO | ICANON)) == (quiet_settings.c_lflag & (ECHO | ICANON));
    errno = saved_errno;
    if (still_quiet) return;
    (void)set_terminal(saved_fd, TCSAFLUSH, &quiet_settings);
    show(prompt_text);
}

// Ctrl-Z: the user gets the terminal back as it was, and the process stops.
// SIGSTOP rather than SIGTSTP, because the system discards a SIGTSTP with the
// default action in a process group that no shell controls, and the process
// would then go on prompting as if nothing had happened.
void stop_with_terminal_back(int) {
    if (echo_off) {
        show("\n");
        put_settings_back(TCSANOW);
    }
    (void)raise(SIGSTOP);
    // Continued: SIGCONT's handler has normally set the modes again already.
    resume_prompt(SIGCONT);
}

bool install(int signal_number, void (*handler)(int), bool block_all) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0) return false;
    // A signal the caller chose to ignore stays ignored.
    if (current.sa_handler == SIG_IGN) return false;
    struct sigaction guard = {};
    guard.sa_handler = handler;
    if (block_all)
        sigfillset(&guard.sa_mask);
    else
        sigemptyset(&guard.sa_mask);
    return sigaction(signal_number, &guard, &previous_actions[signal_number]) == 0;
}

void install_handlers() {
    for (int s = 1; s < NSIG; ++s) {
        handler_installed[s] = false;
        // The signal numbers the C library keeps for itself refuse a handler.
        if (ends_process_by_default(s))
            handler_installed[s] = install(s, restore_and_reraise, true);
    }
    // SIGCONT must reach its handler while the stop handler is still running.
    handler_installed[SIGTSTP] = install(SIGTSTP, stop_with_terminal_back, false);
    handler_installed[SIGCONT] = install(SIGCONT, resume_prompt, false);
}

void remove_handlers() {
    for (int s = 1; s < NSIG; ++s) {
        if (!handler_installed[s]) continue;
        // Putting back an action that was read from the system cannot fail.
        (void)sigaction(s, &previous_actions[s], nullptr);
        handler_installed[s] = false;
    }
}

} // namespace

bool ends_process_by_default(int signal_number) {
    switch (signal_number) {
    case SIGKILL: // cannot be caught
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU: // stop
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH: // ignored or continue
        return false;
    default:
        return signal_number > 0 && signal_number < NSIG;
    }
}

struct termios prompt_modes(const struct termios& user_settings) {
    struct termios quiet = user_settings;
    quiet.c_lflag |= ICANON;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_iflag |= ICRNL;
    quiet.c_iflag &= ~static_cast<tcflag_t>(IGNCR | INLCR);
    return quiet;
}

void remember_prompt(const char* text) {
    prompt_text = text;
}

void terminal_echo_off(int tty_fd) {
    if (tcgetattr(tty_fd, &saved_settings) != 0) return;
    saved_fd = tty_fd;
    quiet_settings = prompt_modes(saved_settings);
    install_handlers();
    echo_off = 1;
    // A terminal that refuses the change keeps echoing; the prompt still works.
    (void)set_terminal(tty_fd, TCSAFLUSH, &quiet_settings);
}

void restore_terminal_echo() {
    if (!echo_off) return;
    // With every signal held back meanwhile, a signal can neither find the
    // modes half restored nor set the prompt's modes again afterwards; one
    // that arrived is delivered at the end with the caller's own action.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    bool blocked = sigprocmask(SIG_SETMASK, &all, &before) == 0;
    put_settings_back(TCSAFLUSH);
    echo_off = 0;
    remove_handlers();
    // Putting back a mask read from the system cannot fail.
    if (blocked) (void)sigprocmask(SIG_SETMASK, &before, nullptr);
}

void abandon_prompt() {
    if (!echo_off) return;
    (void)write(saved_fd, "\n", 1); // cosmetic: end the prompt line
    restore_terminal_echo();
}

bool terminal_echo_is_off() {
    return echo_off != 0;
}
