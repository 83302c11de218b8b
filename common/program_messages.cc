#include "program_messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <unistd.h>

namespace {

const char* name = "korvalinde";
std::terminate_handler previous_handler = nullptr;

// Writes text on descriptor 2 without allocating or locking anything: safe
// when memory has run out and inside the terminate handler.
void write_stderr(const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = write(STDERR_FILENO, text, left);
        if (n <= 0) return; // nowhere left to report to
        text += n;
        left -= static_cast<size_t>(n);
    }
}

[[noreturn]] void on_terminate() {
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::bad_alloc&) {
            write_stderr(name);
            write_stderr(": out of memory\n");
            // Other threads may still run: end at once, without running the
            // destructors of objects they use.
            _exit(1);
        } catch (...) { // NOLINT(bugprone-empty-catch): handled by the previous handler below
        }
    }
    if (previous_handler != nullptr) previous_handler();
    std::abort();
}

int flush_stdout() {
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

// The option as the user wrote it: a long option's word up to any "=", or
// "-" and the letter of a short one.
std::string offending_option(char** argv, int word_before) {
    const char* word = optind > word_before ? argv[optind - 1] : argv[optind];
    if (word != nullptr && std::strncmp(word, "--", 2) == 0) {
        const char* equals = std::strchr(word, '=');
        return equals == nullptr ? std::string(word) : std::string(word, equals);
    }
    return std::string("-") + static_cast<char>(optopt);
}

// True when the long option named (with its leading "--") is in the table,
// written in full or abbreviated.
bool known_long_option(const std::string& written, const option* long_options) {
    const std::string bare = written.substr(2);
    if (bare.empty()) return false;
    for (const option* o = long_options; o != nullptr && o->name != nullptr; ++o)
        if (std::strncmp(o->name, bare.c_str(), bare.size()) == 0) return true;
    return false;
}

} // namespace

void set_program_name(const char* program_name_text) {
    name = program_name_text;
}

const char* program_name() {
    return name;
}

int print_help(const char* text) {
    (void)std::fputs(text, stdout); // checked through the flush
    return flush_stdout();
}

int print_version() {
    (void)std::printf("%s %s\n", name, PROJECT_VERSION_TEXT); // checked through the flush
    return flush_stdout();
}

int usage_error(const std::string& text) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", name, text.c_str(), name);
    return 2;
}

std::string getopt_error_text(int returned, char** argv, int word_before,
                              const option* long_options) {
    const std::string written = offending_option(argv, word_before);
    if (returned == ':') return "option '" + written + "' needs a value";
    const bool long_form = written.size() > 2 && written[1] == '-';
    if (long_form && known_long_option(written, long_options) &&
        std::strchr(argv[optind - 1], '=') != nullptr)
        return "option '" + written + "' takes no value";
    return "unknown option '" + written + "'";
}

int getopt_error(int returned, char** argv, int word_before, const option* long_options) {
    return usage_error(getopt_error_text(returned, argv, word_before, long_options));
}

std::string option_as_written(char** argv, int word_before, int returned) {
    const std::string word = argv[word_before];
    if (word.compare(0, 2, "--") == 0) return word.substr(0, word.find('='));
    return std::string("-") + static_cast<char>(returned);
}

std::string invalid_value_text(const std::string& option_name, const char* value,
                               const std::string& expected) {
    return "invalid value '" + std::string(value) + "' for " + option_name + " (" + expected + ")";
}

int bad_value(const std::string& option_name, const char* value, const std::string& expected) {
    return usage_error(invalid_value_text(option_name, value, expected));
}

int report_out_of_memory() {
    write_stderr(name);
    write_stderr(": out of memory\n");
    return 1;
}

void end_on_out_of_memory() {
    previous_handler = std::set_terminate(on_terminate);
}
