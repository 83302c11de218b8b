// The run-wide settings of nimvara and the constants every part of it shares.
#pragma once

#include <cstdint>

inline constexpr int32_t MODE_WRAP = 0;
inline constexpr int32_t MODE_VERSION = 1;
inline constexpr int32_t MODE_FILE = 2;
inline constexpr int32_t MODE_PRINT = 3;

inline constexpr int FILES_MAX = 1024;
inline constexpr int PASSPHRASE_MAX = 65536;

// The name shown in every diagnostic and in the usage text; never argument 0.
inline constexpr const char* PROGRAM_NAME = "nimvara";
inline constexpr const char* PASSPHRASE_VARIABLE = "NIMVARA_PASSPHRASE";
inline constexpr const char* VERSION_BANNER = "nimvara 0.04-20060904";
inline constexpr const char* DEFAULT_OPTION_NAME = "--passphrase-fd";

// Filled once by the command-line parser, read by everything else. Every
// string is borrowed from the process argument vector.
struct wrapper_settings {
    int32_t mode = MODE_WRAP;
    int32_t file_count = 0;
    const char* files[FILES_MAX] = {};
    const char* self_path = nullptr;
    char** command_argv = nullptr; // first word of the gpg command; runs to the vector's null
    int32_t verbosity = 0;
    int32_t interactive = 0;
    int32_t ask_twice = 0;
    const char* passphrase_file = nullptr; // "-" is standard input
    int32_t check_exit_code = 0;
    int32_t stdin_uses = 0;
    const char* option_name = DEFAULT_OPTION_NAME;
};

extern wrapper_settings settings;
