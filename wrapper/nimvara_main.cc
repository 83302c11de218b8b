// nimvara: hands a gpg command its passphrase through a descriptor.

#include "batch.h"
#include "command_line.h"
#include "diagnostics.h"
#include "mangle.h"
#include "passphrase_sources.h"
#include "process_protection.h"
#include "secret_memory.h"
#include "settings.h"
#include "wrap.h"

#include <cstdio>

namespace {

// Fixed storage for standard error, so that making it line-buffered needs no
// allocation.
char stderr_buffer[BUFSIZ];

// Locked when first used and wiped by their destructors when the process
// exits, on every path. Wrap mode uses neither (it has its own buffer), so it
// neither faults in nor locks them.
passphrase_buffer& passphrase() {
    static passphrase_buffer buffer;
    return buffer;
}

passphrase_buffer& mangled() {
    static passphrase_buffer buffer;
    return buffer;
}

} // namespace

int main(int, char** argv) {
    // Each diagnostic is several writes; line buffering makes it one line.
    // setvbuf fails only for an invalid mode, and nothing was written yet.
    (void)setvbuf(stderr, stderr_buffer, _IOLBF, sizeof stderr_buffer);
    // Before any passphrase is read: no core file, no debugger.
    protect_process();
    parse_command_line(argv);

    switch (settings.mode) {
    case MODE_VERSION:
        printf("%s\n", VERSION_BANNER);
        break;
    case MODE_FILE: {
        int len = get_passphrase(passphrase().bytes, PASSPHRASE_MAX);
        for (int i = 0; i < settings.file_count; ++i)
            process_command_file(settings.files[i], passphrase().bytes, len);
        passphrase().wipe();
        break;
    }
    case MODE_PRINT: {
        int len = get_passphrase(passphrase().bytes, PASSPHRASE_MAX);
        mangle_passphrase(passphrase().bytes, len, mangled().bytes, PASSPHRASE_MAX);
        passphrase().wipe();
        printf("%s\n", mangled().bytes);
        mangled().wipe();
        break;
    }
    default:
        wrap_command();
        break;
    }
    // Output that never arrived (a full disk, a closed pipe) is a failure.
    if (fflush(stdout) != 0) fatal_errno();
    return 0;
}
