// keygen: writes a deterministic, realistically shaped key list for the
// key-graph analyser (see signature_graph.cc for how the graph is built).
#include "key_list_writer.h"
#include "keygen_settings.h"
#include "signature_graph.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

    const signature_graph graph = build_signature_graph(settings);
    bool ok = write_key_list(settings, graph, out);
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
