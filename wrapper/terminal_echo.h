// Echo control for the passphrase prompt. While echo is off, SIGINT, SIGTERM,
// SIGHUP and SIGQUIT first put the terminal back and then end the process by
// the same signal, and the fatal diagnostics put it back before exiting.
#pragma once

// Saves the settings of the terminal on tty_fd and switches echo off (line
// input stays canonical; type-ahead is discarded). When the settings cannot
// be read, echo is left alone: there would be nothing sound to restore.
void terminal_echo_off(int tty_fd);

// Puts the saved settings back and removes the signal handlers. Does nothing
// unless echo is off by terminal_echo_off.
void restore_terminal_echo();

// For a process that ends while echo is off: ends the prompt line on the
// terminal and restores it. Does nothing unless echo is off.
void abandon_prompt();

// True while echo is off by terminal_echo_off (for tests of the guard itself).
bool terminal_echo_is_off();
