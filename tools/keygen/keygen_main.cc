// keygen: writes a deterministic key list for the key-graph analyser, shaped
// like a real OpenPGP signature graph: a strong set of about a third of the
// keys with heavy-tailed degrees and many returned signatures, chains and
// trees of keys below it, and islands it cannot reach. signature_graph.cc
// says how the graph is built; key_list_writer.cc shuffles the keys, writes
// the records and adds the optional noise. The same seed and options give
// the same bytes on every machine.
#include "key_list_writer.h"
#include "keygen_settings.h"
#include "signature_graph.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

int main(int argc, char** argv) {
    keygen_settings settings;
    std::string error;
    if (!parse_keygen_options(argc, argv, settings, error)) {
        std::fprintf(stderr, "keygen: %s\nkeygen -h lists the options\n", error.c_str());
        return 1;
    }
    if (settings.help) {
        std::fputs(keygen_usage(), stdout);
        return 0;
    }

    std::FILE* out = stdout;
    const char* out_name = "standard output";
    if (!settings.output_path.empty()) {
        out_name = settings.output_path.c_str();
        out = std::fopen(out_name, "wb");
        if (out == nullptr) {
            std::fprintf(stderr, "keygen: %s: %s\n", out_name, std::strerror(errno));
            return 1;
        }
    }

    bool ok;
    try {
        const signature_graph graph = build_signature_graph(settings);
        ok = write_key_list(settings, graph, out);
    } catch (const std::bad_alloc&) {
        // Millions of keys fit easily; this is for sizes far beyond that.
        std::fprintf(stderr, "keygen: not enough memory for %llu keys\n",
                     static_cast<unsigned long long>(settings.key_count));
        return 1;
    }
    if (ok && std::fflush(out) != 0) ok = false;
    const int saved_errno = errno;
    // A failed close loses buffered data, so it counts as a write error.
    if (out != stdout && std::fclose(out) != 0 && ok) {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "keygen: writing %s: %s\n", out_name,
                     std::strerror(saved_errno != 0 ? saved_errno : errno));
        return 1;
    }
    return 0;
}
