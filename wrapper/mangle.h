// The mangled form: the one printable encoding of a passphrase. Bytes of the
// literal set stand for themselves; every other byte becomes a backslash and
// three octal digits. It is print mode's output and NIMVARA_PASSPHRASE's value.
#pragma once

// True for the 71 bytes that are copied unchanged: + to ;, A-Z, _, a-z, ~.
bool in_literal_set(unsigned char byte);

// Encodes len bytes into dest (size bytes, NUL included). Returns the length
// of the form, or -1 when the form and its NUL do not fit.
int mangle_into(const char* data, int len, char* dest, int size);

// Decodes len characters of buffer in place. Returns the decoded length, or -1
// for a backslash not followed by three octal digits (first one 0-3).
int unmangle_in_place(char* buffer, int len);

// As above, but ending the process with a diagnostic on failure.
int mangle_passphrase(const char* data, int len, char* dest, int size);
int unmangle_passphrase(char* buffer, int len);

// Installs NIMVARA_PASSPHRASE=<mangled data> (an empty value for no data or
// len 0) as a fresh heap entry handed to putenv; the entry it replaces is
// wiped and freed once the new one is in place. Any other copy of the
// variable in the environment is wiped and taken out, so that a program
// started afterwards finds exactly this one.
void set_passphrase_env(const char* data, int len);

// Overwrites the value of every copy of NIMVARA_PASSPHRASE in the
// environment with zero bytes: each then reads as empty.
void wipe_passphrase_variable();
