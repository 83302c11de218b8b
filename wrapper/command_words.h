// The gpg argument vector with the passphrase option put in where gpg takes
// it: after the program and any leading --homedir/--options words (with their
// values), before the first other word, or at the end.
#pragma once

inline constexpr int COMMAND_WORDS_MAX = 1020;
inline constexpr int COMMAND_WORD_SLOTS = 1024;

enum command_words_status {
    WORDS_OK,
    WORDS_TOO_MANY,       // more than COMMAND_WORDS_MAX words
    WORDS_OPTION_PRESENT, // a word equals option_name
};

// Fills words (COMMAND_WORD_SLOTS entries) from the null-terminated command,
// inserting option_name and descriptor_text; ends the list with nullptr.
command_words_status build_command_words(char* const* command, const char* option_name,
                                         const char* descriptor_text, const char** words);
