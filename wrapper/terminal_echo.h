// Terminal modes for the passphrase prompt: line input on and echo off while
// the answer is typed, the user's own modes back afterwards.
//
// While the prompt is up, every catchable signal whose default action ends
// the process first puts the terminal back and then ends the process by the
// same signal; SIGTSTP puts it back and stops the process, and SIGCONT sets
// the prompt's modes again and shows the prompt anew. The fatal diagnostics
// put the terminal back before exiting.
#pragma once

#include <termios.h>

// Saves the settings of the terminal on tty_fd and sets the prompt's modes
// (see prompt_modes; type-ahead is discarded). When the settings cannot be
// read, the terminal is left alone: there would be nothing sound to restore.
void terminal_echo_off(int tty_fd);

// The prompt text shown again after the process is continued. The text must
// outlive the prompt (a string literal).
void remember_prompt(const char* text);

// Puts the saved settings back and removes the signal handlers. Does nothing
// unless the prompt's modes are set by terminal_echo_off.
void restore_terminal_echo();

// For a process that ends while echo is off: ends the prompt line on the
// terminal and restores it. Does nothing unless echo is off.
void abandon_prompt();

// True while the prompt's modes are set by terminal_echo_off (for tests of
// the guard itself).
bool terminal_echo_is_off();

// The user's settings changed for the prompt: canonical line input (a read
// returns one whole line, whatever a crashed full-screen program left
// behind), a typed carriage return ending the line, and no echo.
struct termios prompt_modes(const struct termios& user_settings);

// True for a signal whose default action ends the process and that a handler
// can catch (not SIGKILL; not the stop, ignore or continue signals).
bool ends_process_by_default(int signal_number);
