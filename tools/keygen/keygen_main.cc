// keygen: writes a deterministic key list for the key-graph analyser, shaped
// like a real OpenPGP signature graph: a strong set of about a third of the
// keys with heavy-tailed degrees and many returned signatures, chains and
// trees of keys below it, and islands it cannot reach. signature_graph.cc
// says how the graph is built; key_list_writer.cc shuffles the keys, writes
// the records and adds the optional noise. The same seed and options give
// the same bytes on every machine.
#include "key_list_writer.h"
#include "keygen_settings.h"
#include "program_messages.h"
#include "signature_graph.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

int run(int argc, char** argv) {
    keygen_settings settings;
    std::string error;
    if (!parse_keygen_options(argc, argv, settings, error)) return usage_error(error);
    if (settings.help) return print_help(keygen_usage());
    if (settings.version) return print_version();

    std::FILE* out = stdout;
    const char* out_name = "standard output";
    if (!settings.output_path.empty()) {
        out_name = settings.output_path.c_str();
        out = std::fopen(out_name, "wb");
        if (out == nullptr) {
            std::fprintf(stderr, "keygen: '%s': %s\n", out_name, std::strerror(errno));
            return 1;
        }
    }

    const signature_graph graph = build_signature_graph(settings);
    bool ok = write_key_list(settings, graph, out);
    if (ok && std::fflush(out) != 0) ok = false;
    const int saved_errno = errno;
    // A failed close loses buffered data, so it counts as a write error.
    if (out != stdout && std::fclose(out) != 0 && ok) {
        ok = false;
    }
    if (!ok) {
        const char* quote = settings.output_path.empty() ? "" : "'";
        std::fprintf(stderr, "keygen: %s%s%s: %s\n", quote, out_name, quote,
                     std::strerror(saved_errno != 0 ? saved_errno : errno));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("keygen");
    end_on_out_of_memory();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Millions of keys fit easily; this is for sizes far beyond that.
        return report_out_of_memory();
    }
}
