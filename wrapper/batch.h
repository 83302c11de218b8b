// Batch mode: gpg command lines from command files, each run through "sh -c"
// as a nested nimvara that takes the passphrase from NIMVARA_PASSPHRASE.
#pragma once

// Runs every line of the named file ("-" is standard input) in order.
void process_command_file(const char* name, const char* passphrase, int len);

// Runs one line (without its newline) in a child and waits for it.
void run_command_line(const char* line);

// word itself when the shell takes it literally, else word in single quotes
// (written into buffer). Ends the process when the quoted form does not fit.
const char* shell_word(const char* word, char* buffer, int size);

// The text the shell runs for a line: "exec <self> [-v ...] -o <option> -- <line>".
// Ends the process with "do_snprintf() size exceeded" when it does not fit.
void format_batch_command(char* text, int size, const char* line);
