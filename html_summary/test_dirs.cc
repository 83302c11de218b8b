#include "test_dirs.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

scratch_dir::scratch_dir() {
    char name[] = "/tmp/korvalinde-html-test-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    path = name;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored; // a leftover scratch directory harms nothing
    std::filesystem::remove_all(path, ignored);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

void write_file(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_small_output(const std::filesystem::path& dir) {
    write_file(dir / "status.txt", "Importing pass 1 (keys)...\ndone.\n3 keys imported\n"
                                   "Importing pass 2 (sigs)...\ndone.\n3 sigs imported\n"
                                   "reachable set is size 3\nstrongly connected set is size 2\n");
    write_file(dir / "other.txt", "Average mean is    0.8333\n");
    write_file(dir / "othersets.txt", "0000000B 000000BB\n0000000A 000000AA\n"
                                      "*** 2 keys in this strongly connected set\n\n"
                                      "0000000C 000000CC\n"
                                      "*** 1 keys in this strongly connected set\n\n");
    write_file(dir / "msd.txt", "0000000A 000000AA   0.5000\n0000000B 000000BB   0.5000\n"
                                "0000000C 000000CC   1.5000\n");
    for (const char* id : {"0000000A 000000AA", "0000000B 000000BB"}) {
        std::string low = std::string(id).substr(9);
        write_file(dir / low.substr(0, 2) / low,
                   std::string("KeyID ") + id +
                       "\n\nThis key is in the strong set.\n"
                       "Mean distance to this key from strong set:   0.5000\n\n"
                       "Breakout by hop count (only from strong set):\n"
                       " 0 hops:     1\n 1 hops:     1\n\nFarthest keys (1 hops):\n"
                       "  0000000B 000000BB\n");
    }
}
