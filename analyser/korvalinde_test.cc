// korvalinde run the way it is used: the built program in a scratch
// directory, with its real files, descriptors and exit statuses.
#include "graph_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string record(char type, uint32_t high, uint32_t low) {
    char line[20];
    std::snprintf(line, sizeof line, "%c%08X%08X\n", type, high, low);
    return line;
}

// The four keys W, X, Y, Z (ids 0/A to 0/D): X signs W, W signs X, X signs Y,
// Y signs Z.
std::string four_keys() {
    return record('p', 0, 0xA) + record('s', 0, 0xB) + record('p', 0, 0xB) + record('s', 0, 0xA) +
           record('p', 0, 0xC) + record('s', 0, 0xB) + record('p', 0, 0xD) + record('s', 0, 0xC);
}

class Korvalinde : public ::testing::Test {
  protected:
    fs::path dir;

    void SetUp() override {
        char name[] = "/tmp/korvalinde-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }

    // Runs a program with the scratch directory as working directory.
    // address_space limits the child's address space (bytes) when not 0.
    run_result run_program(const std::string& program, const std::vector<std::string>& args,
                           rlim_t address_space = 0) {
        run_result r;
        fs::path out = dir / ".stdout", err = dir / ".stderr";
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) _exit(127);
            struct rlimit limit = {address_space, address_space};
            if (address_space != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
            int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            r.status = WEXITSTATUS(status);
        r.out = read_file(out);
        r.err = read_file(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    run_result run(const std::vector<std::string>& args) {
        return run_program(KORVALINDE_PATH, args);
    }

    // Every file below a directory, by relative path, with its content.
    std::map<std::string, std::string> tree(const fs::path& top) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(top))
            if (entry.is_regular_file())
                files[fs::relative(entry.path(), top).string()] = read_file(entry.path());
        return files;
    }
};

// A device node like /dev/full at path (root only); false when it cannot be made.
bool make_full_device(const fs::path& path) {
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
}

} // namespace

TEST_F(Korvalinde, FourKeysWriteEveryFile) {
    write_file(dir / "preprocess.keys", four_keys());
    run_result r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::map<std::string, std::string> files = tree(dir / "output");
    ASSERT_EQ(files.size(), 8u);
    EXPECT_EQ(files["status.txt"], "Importing pass 1 (keys)...\ndone.\n4 keys imported\n"
                                   "Importing pass 2 (sigs)...\ndone.\n4 sigs imported\n"
                                   "reachable set is size 4\nstrongly connected set is size 2\n");
    EXPECT_EQ(files["othersets.txt"],
              "00000000 0000000B\n00000000 0000000A\n*** 2 keys in this strongly connected set\n\n"
              "00000000 0000000C\n*** 1 keys in this strongly connected set\n\n"
              "00000000 0000000D\n*** 1 keys in this strongly connected set\n\n");
    EXPECT_EQ(files["msd.txt"], "00000000 0000000A   0.5000\n00000000 0000000B   0.5000\n"
                                "00000000 0000000C   1.5000\n00000000 0000000D   2.5000\n");
    EXPECT_EQ(files["other.txt"], "Average mean is    1.2500\n");
    EXPECT_EQ(files["00/0000000A"],
              "KeyID 00000000 0000000A\n\n" + std::string(REPORT_PREAMBLE) +
                  "Signatures to this key:\n  00000000 0000000B\n"
                  "Total: 1 signatures to this id from this set\n\n"
                  "Signatures from this key:\n  00000000 0000000B\n"
                  "Total: 1 signatures from this id to this set\n\n"
                  "This key is in the strong set.\n"
                  "Mean distance to this key from strong set:   0.5000\n\n"
                  "Breakout by hop count (only from strong set):\n 0 hops:     1\n 1 hops:     1\n"
                  "\nFarthest keys (1 hops):\n  00000000 0000000B\n");
    EXPECT_NE(files["00/0000000D"].find(" 3 hops:     1\n\nFarthest keys (3 hops):\n"
                                        "  00000000 0000000A\n"),
              std::string::npos);

    // A second run into the same directory empties and rewrites everything;
    // -1 puts the reports directly into the output directory.
    r = run({"-1", "-j", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> flat = tree(dir / "output");
    for (const char* name : {"0000000A", "0000000B", "0000000C", "0000000D"})
        EXPECT_EQ(flat[name], files[std::string("00/") + name]);
    EXPECT_EQ(flat["msd.txt"], files["msd.txt"]);
}

TEST_F(Korvalinde, CommandLine) {
    write_file(dir / "a.keys", four_keys());
    write_file(dir / "b.keys", record('p', 1, 2));

    // -h prints the usage and ends before anything is opened; an unknown
    // option before it is diagnosed first.
    // The first line is fixed; the extensions follow on lines of their own.
    run_result r = run({"-x", "-h", "-i", "missing"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
              std::string("Usage: ") + KORVALINDE_PATH + " [-h1] [-i infile] [-o outdir]\n");
    EXPECT_NE(r.out.find("\n  -j N "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  --report-address URL\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("invalid option"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "output"));

    // The operand wins over -i; the last -o counts and gets its "/".
    r = run({"-i", "a.keys", "-o", "first", "-o", "second", "b.keys"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir / "first"));
    EXPECT_EQ(read_file(dir / "second/msd.txt"), "00000001 00000002   0.0000\n");

    // Parsing stops at the first operand: a second key list, or an option
    // after it, is a usage error before anything is opened.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"a.keys", "b.keys"}, {"a.keys", "-o", "third"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "korvalinde: unexpected operand '" + args[1] +
                             "'\nTry 'korvalinde -h' for help.\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "third") || fs::exists(dir / "output"));
    }
    r = run({"a.keys"});
    EXPECT_EQ(read_file(dir / "output/other.txt"), "Average mean is    1.2500\n");

    // An output directory far longer than 256 bytes.
    std::string parent(200, 'p');
    fs::create_directories(dir / parent);
    std::string longer = parent + "/" + std::string(150, 'q');
    r = run({"-o", longer, "a.keys"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / longer / "other.txt"), "Average mean is    1.2500\n");
    EXPECT_TRUE(fs::is_regular_file(dir / longer / "00/0000000D"));

    // Unusable values are refused.
    r = run({"-o", "", "a.keys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("-o is empty"), std::string::npos);
    for (const char* bad : {"0", "-2", "x", "3x", "100000"}) {
        r = run({"-j", bad, "a.keys"});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("-j needs a number"), std::string::npos);
    }
}

TEST_F(Korvalinde, ReportAddress) {
    run_result g = run_program(KEYGEN_PATH, {"-n", "300", "-s", "11", "-o", "gen.keys"});
    ASSERT_EQ(g.status, 0) << g.err;
    run_result r = run({"-o", "default", "gen.keys"});
    ASSERT_EQ(r.status, 0) << r.err;
    // An address far longer than a report line's format buffer.
    const std::string address = "https://reports.example.net/" + std::string(996, 'a');
    ASSERT_EQ(address.size(), 1024u);
    r = run({"--report-address", address, "-o", "given", "gen.keys"});
    ASSERT_EQ(r.status, 0) << r.err;

    // The address is the only difference: the summary files are the same,
    // and each report differs in its address line alone.
    std::map<std::string, std::string> before = tree(dir / "default");
    std::map<std::string, std::string> after = tree(dir / "given");
    const std::string old_line = "report at https://nimvara.example.org/korvalinde/.\n\n";
    const std::string new_line = "report at " + address + ".\n\n";
    size_t reports = 0;
    for (auto& [name, text] : before) {
        size_t at = text.find(old_line);
        if (at == std::string::npos) continue;
        text.replace(at, old_line.size(), new_line);
        ++reports;
    }
    EXPECT_GT(reports, 100u);
    EXPECT_EQ(reports + 4, before.size());
    EXPECT_TRUE(before == after);

    // Values that do not make one line of a URL are refused before anything
    // is opened.
    for (const std::string& bad : {std::string(), std::string("a b"), std::string("x\ny"),
                                   std::string("x\x7f"), std::string("\xc3\xa9"), address + "a"}) {
        r = run({"--report-address", bad, "-o", "refused", "gen.keys"});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("--report-address needs 1 to 1024 printable ASCII"), std::string::npos)
            << r.err;
        EXPECT_FALSE(fs::exists(dir / "refused"));
    }
}

TEST_F(Korvalinde, FilesThatCannotBeOpened) {
    // The fixed line, then the file and the system's reason.
    run_result r = run({"-o", "out", "missing.keys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error opening files.\nkorvalinde: 'missing.keys': No such file or directory\n");
    EXPECT_FALSE(fs::exists(dir / "out"));

    write_file(dir / "a.keys", four_keys());
    r = run({"-o", "no/such/parent", "a.keys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error opening files.\nkorvalinde: 'no/such/parent/': No such file or directory\n");

    // A directory in place of each summary file in turn.
    for (const char* name : {"status.txt", "msd.txt", "othersets.txt", "other.txt"}) {
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out" / name);
        r = run({"-o", "out", "a.keys"});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, std::string("Error opening files.\nkorvalinde: 'out/") + name +
                             "': Is a directory\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Korvalinde, EmptyKeyList) {
    write_file(dir / "empty.keys", "");
    run_result r = run({"empty.keys"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "output/status.txt"),
              "Importing pass 1 (keys)...\ndone.\n0 keys imported\n"
              "Importing pass 2 (sigs)...\ndone.\n0 sigs imported\n"
              "reachable set is size 0\nstrongly connected set is size 0\n");
    EXPECT_EQ(read_file(dir / "output/other.txt"), "Average mean is    0.0000\n");
    EXPECT_EQ(read_file(dir / "output/msd.txt"), "");
    EXPECT_EQ(read_file(dir / "output/othersets.txt"), "");
    EXPECT_EQ(r.err, "");
}

TEST_F(Korvalinde, InputThatIsNotAKeyList) {
    // Mostly malformed records: the import's rules still apply (the two
    // records that happen to be well formed are read), with a warning.
    std::string text = "# A README, not a key list\n\nSome prose going on, on..\n";
    ASSERT_EQ(text.size(), 3 * 18u);
    write_file(dir / "README", text + four_keys().substr(0, 36) + text + text);
    run_result r = run({"-o", "out", "README"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: 9 of the 11 records of README are malformed"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("is it a key list?"), std::string::npos);
    EXPECT_NE(read_file(dir / "out/status.txt").find("1 keys imported\n"), std::string::npos);
    // A key list with a few bad records gets no warning.
    write_file(dir / "a.keys", four_keys() + "junk\n");
    EXPECT_EQ(run({"-o", "out", "a.keys"}).err, "");

    // Records whose id is not hexadecimal are passed over, a key with its
    // signatures: the results are those of the list without them, and no
    // key 0000000000000000 is made up.
    write_file(dir / "b.keys", four_keys() + "pZZZZZZZZZZZZZZZZ\n" + record('s', 0, 0xA) +
                                   record('p', 0, 0xE) + "s    ----    xxxx\n" +
                                   record('s', 0, 0xD));
    write_file(dir / "c.keys", four_keys() + record('p', 0, 0xE) + record('s', 0, 0xD));
    ASSERT_EQ(run({"-o", "skipped", "b.keys"}).status, 0);
    ASSERT_EQ(run({"-o", "reference", "c.keys"}).status, 0);
    EXPECT_EQ(tree(dir / "skipped"), tree(dir / "reference"));
}

TEST_F(Korvalinde, KeysSharingAnIdLowShareOneFile) {
    // Keys 0 and 2 have the id_low 0000000A; both reports go into one file
    // in key-index order, whatever the number of threads.
    std::string list = record('p', 1, 0xA) + record('s', 2, 0xB) + record('p', 2, 0xB) +
                       record('s', 1, 0xA) + record('p', 3, 0xA) + record('s', 2, 0xB);
    write_file(dir / "a.keys", list);
    for (const char* threads : {"1", "4"}) {
        run_result r = run({"-j", threads, "a.keys"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::string text = read_file(dir / "output/00/0000000A");
        size_t first = text.find("KeyID 00000001 0000000A\n");
        size_t second = text.find("KeyID 00000003 0000000A\n");
        EXPECT_EQ(first, 0u);
        ASSERT_NE(second, std::string::npos);
        EXPECT_NE(text.find("This key is not in the strong set.", second), std::string::npos);
        EXPECT_EQ(text.find("KeyID", second + 1), std::string::npos);
    }
}

TEST_F(Korvalinde, ReportThatCannotBeWritten) {
    write_file(dir / "a.keys", four_keys());
    // A directory where the report of key B belongs.
    fs::create_directories(dir / "output/00/0000000B");
    run_result r = run({"a.keys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("output/00/0000000B"), std::string::npos) << r.err;
    for (const char* name : {"0000000A", "0000000C", "0000000D"})
        EXPECT_TRUE(fs::is_regular_file(dir / "output/00" / name)) << name;
    EXPECT_EQ(read_file(dir / "output/other.txt"), "Average mean is    1.2500\n");

    // A report on a full device (a link to /dev/full would not be followed).
    fs::remove_all(dir / "output");
    fs::create_directories(dir / "output/00");
    if (!make_full_device(dir / "output/00/0000000C")) GTEST_SKIP() << "no mknod here";
    r = run({"a.keys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error writing report output/00/0000000C: No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "output/00/0000000D"));
}

TEST_F(Korvalinde, WriteErrorsOnSummaryFiles) {
    // A key list large enough that the status lines fill a stdio buffer.
    std::string list;
    for (uint32_t k = 0; k < 300; ++k) {
        list += record('p', 0, k);
        for (uint32_t i = 1; i <= 20; ++i)
            list += record('s', 0, (k + i) % 300);
    }
    write_file(dir / "a.keys", list);
    for (const char* name : {"status.txt", "msd.txt", "othersets.txt", "other.txt"}) {
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        if (!make_full_device(dir / "out" / name)) GTEST_SKIP() << "no mknod here";
        run_result r = run({"-o", "out", "a.keys"});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.err.find(std::string("out/") + name), std::string::npos) << r.err;
    }
}

TEST_F(Korvalinde, ReadErrorOnTheKeyList) {
    // Reading a directory fails (EISDIR) instead of ending like an empty file.
    fs::create_directories(dir / "list.keys");
    run_result r = run({"list.keys"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error reading 'list.keys'"), std::string::npos) << r.err;
}

TEST_F(Korvalinde, ChainBeyondThirtyHops) {
    // Key k signs key k + 1: the strong set is key 0 alone, key k lies k hops away.
    constexpr uint32_t KEYS = 2000;
    std::string list;
    for (uint32_t k = 0; k < KEYS; ++k) {
        list += record('p', 0, 0x100000 + k);
        if (k > 0) list += record('s', 0, 0x100000 + k - 1);
    }
    write_file(dir / "chain.keys", list);
    run_result r = run({"-1", "chain.keys"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string msd = read_file(dir / "output/msd.txt");
    EXPECT_NE(msd.find("00000000 001007CF 1999.0000\n"), std::string::npos);
    EXPECT_EQ(read_file(dir / "output/other.txt"), "Average mean is  999.5000\n");
    std::string far = read_file(dir / "output/00100028");
    EXPECT_NE(far.find("29 hops:     0\n30 hops:     1\n\nFarthest keys (30 hops):\n"
                       "  00000000 00100000\n"),
              std::string::npos)
        << far;
    EXPECT_NE(far.find("Mean distance to this key from strong set:  40.0000\n"), std::string::npos);
}

TEST_F(Korvalinde, GeneratedListsGiveTheSameFilesOnAnyThreadCount) {
    run_result g = run_program(KEYGEN_PATH, {"-n",
                                             "3000",
                                             "-s",
                                             "7",
                                             "-o",
                                             "gen.keys",
                                             "--dup-keys",
                                             "0.01",
                                             "--dup-sigs",
                                             "0.02",
                                             "--self-sigs",
                                             "0.02",
                                             "--unknown-signers",
                                             "0.02",
                                             "--lower-case",
                                             "0.1",
                                             "--low-collisions",
                                             "0.01",
                                             "--bad-records",
                                             "0.01"});
    ASSERT_EQ(g.status, 0) << g.err;
    std::map<std::string, std::string> first;
    for (const char* threads : {"1", "2", "5"}) {
        fs::remove_all(dir / "output");
        run_result r = run({"-j", threads, "gen.keys"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> files = tree(dir / "output");
        if (first.empty()) {
            first = files;
            EXPECT_GT(files.size(), 100u);
        } else {
            EXPECT_TRUE(files == first) << "with " << threads << " threads";
        }
    }
}

TEST_F(Korvalinde, ThreadsThatCannotBeStarted) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizer runtimes need far more address space than the limit leaves";
#else
    run_result g = run_program(KEYGEN_PATH, {"-n", "400", "-s", "3", "-o", "gen.keys"});
    ASSERT_EQ(g.status, 0) << g.err;
    run_result r = run({"-j", "1", "-o", "one", "gen.keys"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Too little address space for 64 thread stacks: the threads that cannot
    // be started are reported and the others still analyse every key.
    r = run_program(KORVALINDE_PATH, {"-j", "64", "-o", "many", "gen.keys"}, 60u << 20);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Cannot create thread"), std::string::npos);
    EXPECT_TRUE(tree(dir / "one") == tree(dir / "many"));
#endif
}

TEST_F(Korvalinde, ShippedSample) {
    // The figures that the README quotes for the shipped sample.
    run_result r = run({"-o", "sample", SAMPLE_PATH});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string status = read_file(dir / "sample/status.txt");
    EXPECT_NE(status.find("reachable set is size 300\nstrongly connected set is size 140\n"),
              std::string::npos);
    EXPECT_EQ(read_file(dir / "sample/other.txt"), "Average mean is    3.8710\n");
}

// One chain of a million keys, in both directions, run end to end: the set
// search, the reachability pass and the distance analysis all go a million
// keys deep. The ids' low halves repeat every 1024 keys, so that the million
// reports go into 1024 files; they are written to memory-backed storage
// where there is some.
TEST_F(Korvalinde, MillionKeyChain) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Instrumented, the two million-key runs take minutes; the same deep
    // searches run instrumented in the set search's own million-key test.
    GTEST_SKIP() << "too large for an instrumented build";
#else
    if (fs::is_directory("/dev/shm")) {
        char name[] = "/dev/shm/korvalinde-test-XXXXXX";
        if (mkdtemp(name)) {
            fs::remove_all(dir);
            dir = name;
        }
    }
    constexpr uint32_t KEYS = 1000000;
    auto id_high = [](uint32_t k) { return k / 1024; };
    auto id_low = [](uint32_t k) { return k % 1024; };
    for (bool forward : {true, false}) {
        SCOPED_TRACE(forward ? "k signs k + 1" : "k + 1 signs k");
        std::string list;
        list.reserve(size_t{KEYS} * 2 * 18);
        for (uint32_t k = 0; k < KEYS; ++k) {
            list += record('p', id_high(k), id_low(k));
            uint32_t signer = forward ? k - 1 : k + 1;
            if (forward ? k > 0 : k + 1 < KEYS)
                list += record('s', id_high(signer), id_low(signer));
        }
        write_file(dir / "chain.keys", list);
        list = std::string();
        fs::remove_all(dir / "output");
        run_result r = run({"-1", "-j", "2", "chain.keys"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(read_file(dir / "output/status.txt")
                      .find("reachable set is size 1000000\nstrongly connected set is size 1\n"),
                  std::string::npos);
        // The strong set is the chain's source; key k lies k hops from it
        // (forward) or KEYS - 1 - k hops (backward).
        auto hops = [&](uint32_t k) { return forward ? k : KEYS - 1 - k; };
        std::string msd = read_file(dir / "output/msd.txt");
        float mean_sum = 0;
        size_t line = 0;
        for (uint32_t k = 0; k < KEYS; ++k) {
            float mean = static_cast<float>(hops(k));
            mean_sum += mean;
            char expected[64];
            int n = std::snprintf(expected, sizeof expected, "%08X %08X %8.4f\n", id_high(k),
                                  id_low(k), static_cast<double>(mean));
            ASSERT_EQ(msd.compare(line, static_cast<size_t>(n), expected), 0) << "key " << k;
            line += static_cast<size_t>(n);
        }
        EXPECT_EQ(line, msd.size());
        char average[64];
        std::snprintf(average, sizeof average, "Average mean is %9.4f\n",
                      static_cast<double>(mean_sum / static_cast<float>(KEYS)));
        EXPECT_EQ(read_file(dir / "output/other.txt"), average);
        // The key 40 hops away: the first report in its file (forward) or
        // the last (backward), with the 30-hop row and the source as the
        // farthest member.
        uint32_t key = forward ? 40 : KEYS - 1 - 40;
        char name[16];
        std::snprintf(name, sizeof name, "%08X", id_low(key));
        std::string reports = read_file(dir / "output" / name);
        char heading[64];
        std::snprintf(heading, sizeof heading, "KeyID %08X %08X\n", id_high(key), id_low(key));
        size_t at = reports.find(heading);
        ASSERT_NE(at, std::string::npos);
        uint32_t source = forward ? 0 : KEYS - 1;
        char farthest[96];
        std::snprintf(farthest, sizeof farthest,
                      "29 hops:     0\n30 hops:     1\n\nFarthest keys (30 hops):\n  %08X %08X\n",
                      id_high(source), id_low(source));
        size_t next = std::min(reports.find("KeyID", at + 1), reports.size());
        EXPECT_EQ(next, reports.find(farthest, at) + strlen(farthest));
        EXPECT_EQ(next == reports.size(), !forward);
        fs::remove_all(dir / "output");
    }
#endif
}

// Links planted in the output directory are never followed, and a directory
// in which someone else could plant them is refused before anything is
// written. Each case prepares "out", runs once and names what must hold.
TEST_F(Korvalinde, PlantedLinksAreNotFollowed) {
    write_file(dir / "a.keys", four_keys());
    struct planted_case {
        const char* what;
        std::vector<std::string> options;
        void (*plant)(const fs::path& out, const fs::path& victim);
        const char* message; // expected on standard error
        const char* written; // a file the run still writes, or nullptr
    };
    const planted_case cases[] = {
        {"another user's directory",
         {},
         [](const fs::path& out, const fs::path&) {
             ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
         },
         "belongs to another user (uid 65534)",
         nullptr},
        {"writable by all",
         {},
         [](const fs::path& out, const fs::path&) { fs::permissions(out, fs::perms::all); },
         "others may write to it and it lacks the sticky bit",
         nullptr},
        {"a link for other.txt",
         {},
         [](const fs::path& out, const fs::path& victim) {
             fs::create_symlink(victim / "file", out / "other.txt");
         },
         "out/other.txt: a symbolic link stands in its place",
         "othersets.txt"},
        {"a link for a report",
         {"-1"},
         [](const fs::path& out, const fs::path& victim) {
             fs::create_symlink(victim / "file", out / "0000000B");
         },
         "cannot open report out/0000000B: a symbolic link",
         "0000000C"},
        {"a link for a report directory",
         {},
         [](const fs::path& out, const fs::path& victim) {
             fs::create_symlink(victim, out / "00");
         },
         "cannot use report directory out/00: a symbolic link",
         "msd.txt"},
    };
    bool root = geteuid() == 0;
    for (const planted_case& c : cases) {
        if (!root && std::string(c.what) == "another user's directory") continue;
        fs::path out = dir / "out", victim = dir / "victim";
        fs::remove_all(out);
        fs::remove_all(victim);
        fs::create_directories(out);
        fs::create_directories(victim);
        write_file(victim / "file", "precious\n");
        c.plant(out, victim);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", "out", "a.keys"});
        run_result r = run(args);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(read_file(victim / "file"), "precious\n") << c.what;
        EXPECT_EQ(tree(victim).size(), 1u) << c.what;
        if (c.written)
            EXPECT_TRUE(fs::is_regular_file(out / c.written)) << c.what;
        else
            EXPECT_FALSE(fs::exists(out / "status.txt")) << c.what;
    }
    // A directory that all may write to is fine with the sticky bit.
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    fs::permissions(dir / "out", fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(run({"-o", "out", "a.keys"}).status, 0);
}
