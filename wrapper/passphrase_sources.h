// Where the passphrase comes from: a file, standard input, NIMVARA_PASSPHRASE
// or a prompt on the controlling terminal. Each routine fills buffer (size
// bytes) and returns the passphrase length; failures end the process.
#pragma once

// The choice for print and batch modes: -i prompts; else -p names the source;
// else the variable if present; else the prompt.
int get_passphrase(char* buffer, int size);

// The variable (decoded, then wiped in the environment), or the prompt when it
// is absent or -i was given.
int passphrase_from_env_or_tty(char* buffer, int size);

// The whole content of the passphrase file, or of standard input for "-".
int passphrase_from_file(char* buffer, int size);

// "Passphrase: " on /dev/tty with echo off (and "Passphrase (again): " with
// -a); the newline that ends the typed line is not part of the passphrase.
int passphrase_from_tty(char* buffer, int size);
