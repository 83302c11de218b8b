#include "command_words.h"

#include <cstring>

namespace {

bool option_with_value_attached(const char* word) {
    return strncmp(word, "--homedir=", 10) == 0 || strncmp(word, "--options=", 10) == 0;
}

bool option_taking_next_word(const char* word) {
    return strcmp(word, "--homedir") == 0 || strcmp(word, "--options") == 0;
}

} // namespace

command_words_status build_command_words(char* const* command, const char* option_name,
                                         const char* descriptor_text, const char** words) {
    int count = 0;
    // Words still to pass before the insertion may happen; the program name
    // is passed without a look. Below zero once the insertion is done.
    int countdown = 1;
    for (int index = 0; command[index] != nullptr; ++index) {
        const char* word = command[index];
        if (index >= COMMAND_WORDS_MAX) return WORDS_TOO_MANY;
        if (strcmp(word, option_name) == 0) return WORDS_OPTION_PRESENT;
        if (countdown == 0) {
            if (option_with_value_attached(word)) {
                countdown = 1;
            } else if (option_taking_next_word(word)) {
                countdown = 2;
            } else {
                words[count++] = option_name;
                words[count++] = descriptor_text;
            }
        }
        words[count++] = word;
        countdown -= 1;
    }
    if (countdown >= 0) {
        words[count++] = option_name;
        words[count++] = descriptor_text;
    }
    words[count] = nullptr;
    return WORDS_OK;
}
