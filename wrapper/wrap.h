// Running one gpg command with the passphrase on a descriptor, and the
// process operations batch mode shares.
#pragma once

// Wrap mode: becomes the gpg command (or ends), or returns in the feeding
// parent after the command ended with status 0.
void wrap_command();

// The descriptor gpg is to read when it reads the passphrase file itself; -1
// once the passphrase was fed through a pipe and the command ended.
int passphrase_descriptor();

// Starts the command with the read end of a pipe as its passphrase
// descriptor, writes the passphrase into the pipe, wipes it, closes the pipe
// and waits for the command. The command's process shares our memory until
// it executes gpg; no copy of the passphrase is ever made for it.
void feed_passphrase(char* data, int len);

// Makes a descriptor survive exec (gpg's passphrase descriptor, a batch
// command's standard input); ends the process on failure.
void keep_across_exec(int fd);

// Forks, ending the process on failure; remembers the child for wait_for_child.
int fork_child();

// Executes words[0] through the command path; with empty_variable, the
// program sees NIMVARA_PASSPHRASE set to the empty value. Never returns.
[[noreturn]] void exec_command(char* const* words, bool empty_variable);

// Waits for the child of fork_child. With check_exit_code, a non-zero exit
// status becomes the process's exit status, and death by a signal status 1.
void wait_for_child();
