// The handlers through route_request, without sockets: a small key list,
// names (one of them hostile) and a report directory with a link leaving it.
#include "router.h"

#include "served_data.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A signs B and D, B and D sign C; E stands alone; F signs A; 12345678
// shares E's low half.
const char* const KEYS = "pAAAAAAAA000000AA\nsFFFFFFFF000000FF\n"
                         "pBBBBBBBB000000BB\nsAAAAAAAA000000AA\n"
                         "pCCCCCCCC000000CC\nsBBBBBBBB000000BB\nsDDDDDDDD000000DD\n"
                         "pDDDDDDDD000000DD\nsAAAAAAAA000000AA\n"
                         "pEEEEEEEE000000EE\n"
                         "pFFFFFFFF000000FF\n"
                         "p12345678000000EE\n";
const char* const NAMES = "AAAAAAAA000000AA\tAlice Example <alice@example.org>\n"
                          "BBBBBBBB000000BB\tBob Example\n"
                          "CCCCCCCC000000CC\tCarol Sample\n"
                          "FFFFFFFF000000FF\t<script>alert(1)</script> \xE2\x80\xAE"
                          "evil\n";

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct serve_fixture : ::testing::Test {
    fs::path dir;
    std::shared_ptr<const served_data> data;

    void SetUp() override {
        char name[] = "/tmp/serve_test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        write(dir / "test.keys", KEYS);
        write(dir / "names", NAMES);
        write(dir / "out/msd.txt", "AAAAAAAA 000000AA   0.5000\nBBBBBBBB 000000BB   1.2500\n");
        write(dir / "out/00/000000AA", "KeyID AAAAAAAA 000000AA\n\nMean <b>0.5</b>\n");
        write(dir / "out/index.html", "<!DOCTYPE html><title>summary</title>\n");
        write(dir / "out/keys/AAAAAAAA000000AA.html", "<!DOCTYPE html><title>A</title>\n");
        write(dir / "out/search.js", "korvalindeSearch();\n");
        write(dir / "secret", "outside\n");
        fs::create_symlink(dir / "secret", dir / "out/link");
        fs::create_symlink(dir, dir / "out/up");
        data = load(true);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::shared_ptr<const served_data> load(bool with_reports) {
        serve_settings s;
        s.input = (dir / "test.keys").string();
        s.names_path = (dir / "names").string();
        if (with_reports) s.report_dir = (dir / "out").string();
        std::string error;
        auto d = load_served_data(s, error);
        EXPECT_NE(d, nullptr) << error;
        return d;
    }

    http_response get(const std::string& path,
                      std::vector<std::pair<std::string, std::string>> query = {},
                      const std::string& method = "GET", const std::string& tag = "") {
        http_request r{method, path, std::move(query), tag};
        http_response response = route_request(*data, r);
        if (response.file_fd >= 0) {
            response.body.resize(static_cast<size_t>(response.file_size));
            EXPECT_EQ(read(response.file_fd, response.body.data(), response.body.size()),
                      response.file_size);
            (void)close(response.file_fd);
        }
        return response;
    }
};

std::string header(const http_response& r, const std::string& name) {
    for (const auto& [key, value] : r.headers)
        if (key == name) return value;
    return "";
}

using Q = std::vector<std::pair<std::string, std::string>>;
const Q ac{{"from", "AAAAAAAA000000AA"}, {"to", "CCCCCCCC000000CC"}};

struct row {
    std::string path;
    Q query;
    int status;
    std::string type;
    std::string part; // the body holds it
};

// Each endpoint's answers: status, type and a part of the body.
const std::vector<row> ROWS = {
    {"/healthz", {}, 200, "text/plain", "ok\nkeys 7\n"},
    {"/api/path", ac, 200, "application/json",
     "\"hops\":2,\"paths_total\":2,\"paths_total_saturated\":false,"
     "\"paths\":[[\"AAAAAAAA000000AA\",\"BBBBBBBB000000BB\",\"CCCCCCCC000000CC\"],"
     "[\"AAAAAAAA000000AA\",\"DDDDDDDD000000DD\",\"CCCCCCCC000000CC\"]],\"disjoint\":2"},
    {"/api/path",
     {{"from", "000000AA"}, {"to", "0xEEEEEEEE000000EE"}},
     200,
     "application/json",
     "\"hops\":null"},
    {"/api/path", {{"from", "AAAAAAAA000000AA"}}, 400, "application/json", "\"error\""},
    {"/api/path",
     {{"from", "AAAAAAAA000000AA"}, {"to", "1234567812345678"}},
     404,
     "application/json",
     "unknown key 1234567812345678"},
    {"/api/path",
     {{"from", "zz\"\x01"}, {"to", "000000AA"}},
     400,
     "application/json",
     "malformed key name"},
    {"/api/path", {ac[0], ac[1], {"n", "1001"}}, 400, "application/json", "n must be"},
    {"/api/path", {ac[0], ac[1], {"k", "0"}}, 400, "application/json", "k must be"},
    {"/api/search",
     {{"q", "EXAMPLE"}},
     200,
     "application/json",
     "[{\"id\":\"AAAAAAAA000000AA\",\"name\":\"Alice Example <alice@example.org>\"},"
     "{\"id\":\"BBBBBBBB000000BB\",\"name\":\"Bob Example\"}]"},
    {"/api/search",
     {{"q", "0xddd"}},
     200,
     "application/json",
     "[{\"id\":\"DDDDDDDD000000DD\",\"name\":null}]"},
    {"/api/search",
     {{"q", "a"}, {"limit", "1"}},
     200,
     "application/json",
     "[{\"id\":\"AAAAAAAA000000AA\""},
    {"/api/search",
     {{"q", "LICE@"}},
     200,
     "application/json",
     "[{\"id\":\"AAAAAAAA000000AA\",\"name\":\"Alice Example <alice@example.org>\"}]"},
    {"/api/search", {{"q", "nobody"}}, 200, "application/json", "[]"},
    {"/api/search", {{"q", "a"}, {"limit", "101"}}, 400, "application/json", "limit"},
    {"/api/key/AAAAAAAA000000AA",
     {},
     200,
     "application/json",
     "\"signers\":[{\"id\":\"FFFFFFFF000000FF\",\"name\":\"<script>"},
    {"/api/key/000000AA",
     {},
     200,
     "application/json",
     "\"signed_total\":2,\"rank\":1,\"ranked\":2,\"mean_distance\":0.5000,\"report\":"
     "\"KeyID AAAAAAAA 000000AA\\u000A\\u000AMean <b>0.5</b>\\u000A\"}"},
    {"/api/key/nonsense", {}, 400, "application/json", "malformed"},
    {"/api/key/000000EE", {}, 400, "application/json", "ambiguous key 000000EE: 2 keys"},
    {"/key/000000ee", {}, 200, "text/html", "/key/12345678000000EE\">12345678 000000EE</a>"},
    {"/api/nothing", {}, 404, "application/json", "no such endpoint"},
    {"/", {{"q", "sample"}}, 200, "text/html", "/key/CCCCCCCC000000CC"},
    {"/path", {{"from", "alice"}, {"to", "carol"}}, 200, "text/html", "Path 2"},
    {"/path",
     {{"from", "example"}, {"to", "carol"}},
     400,
     "text/html",
     "several keys have a name containing"},
    {"/path",
     {{"from", "Alice"}, {"to", "EEEEEEEE000000EE"}},
     200,
     "text/html",
     "There is no path"},
    {"/key/FFFFFFFF000000FF",
     {},
     200,
     "text/html",
     // The right-to-left override shown, not obeyed.
     "<bdi>&lt;script&gt;alert(1)&lt;/script&gt; \\u202Eevil</bdi>"},
    {"/api/key/FFFFFFFF000000FF",
     {},
     200,
     "application/json",
     "\"name\":\"<script>alert(1)</script> \\u202Eevil\""},
    {"/key/AAAAAAAA000000AA", {}, 200, "text/html", "Mean &lt;b&gt;0.5&lt;/b&gt;"},
    {"/key/1234567812345678", {}, 404, "text/html", "unknown key"},
    {"/static/style.css", {}, 200, "text/css", "--ink"},
    {"/reports/", {}, 200, "text/html", "<title>summary</title>"},
    {"/reports/00/000000AA", {}, 200, "text/plain", "KeyID AAAAAAAA 000000AA"},
    {"/reports/keys/AAAAAAAA000000AA.html", {}, 200, "text/html", "<title>A</title>"},
    {"/reports/search.js", {}, 200, "text/javascript", "korvalindeSearch"},
    {"/reports/../secret", {}, 404, "text/html", "no such report file"},
    {"/reports/link", {}, 404, "text/html", "no such report file"},
    {"/reports/up/secret", {}, 404, "text/html", "no such report file"},
    {"/reports/keys/", {}, 404, "text/html", "no such report file"},
    {"/reports/00", {}, 404, "text/html", "no such report file"},
    {"/reports/./index.html", {}, 404, "text/html", "no such report file"},
    {"/elsewhere", {}, 404, "text/html", "no such page"},
};

TEST_F(serve_fixture, EndpointsAnswerWithStatusTypeAndBody) {
    for (const row& r : ROWS) {
        SCOPED_TRACE(r.path);
        http_response response = get(r.path, r.query);
        EXPECT_EQ(response.status, r.status);
        EXPECT_TRUE(response.content_type.starts_with(r.type)) << response.content_type;
        EXPECT_NE(response.body.find(r.part), std::string::npos) << response.body;
        EXPECT_EQ(header(response, "X-Content-Type-Options"), "nosniff");
        EXPECT_TRUE(header(response, "Content-Security-Policy").starts_with("default-src 'self'"));
        EXPECT_NE(header(response, "Cache-Control"), "");
    }
}

TEST_F(serve_fixture, OnlyGetAndHead) {
    EXPECT_EQ(get("/", {}, "HEAD").status, 200);
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
        http_response r = get("/", {}, method);
        EXPECT_EQ(r.status, 405) << method;
        EXPECT_EQ(header(r, "Allow"), "GET, HEAD");
    }
}

TEST_F(serve_fixture, TagsHoldUntilTheNextLoad) {
    http_response first = get("/key/AAAAAAAA000000AA");
    std::string tag = header(first, "ETag");
    ASSERT_FALSE(tag.empty());
    EXPECT_EQ(get("/key/AAAAAAAA000000AA", {}, "GET", tag).status, 304);
    EXPECT_EQ(get("/key/AAAAAAAA000000AA", {}, "GET", "\"x\", " + tag).status, 304);
    EXPECT_EQ(get("/key/AAAAAAAA000000AA", {}, "GET", "\"x\"").status, 200);
    std::string file_tag = header(get("/reports/index.html"), "ETag");
    EXPECT_EQ(get("/reports/index.html", {}, "GET", file_tag).status, 304);
    data = load(true);
    EXPECT_EQ(get("/key/AAAAAAAA000000AA", {}, "GET", tag).status, 200);
    EXPECT_EQ(get("/reports/index.html", {}, "GET", file_tag).status, 200);
    EXPECT_EQ(header(get("/api/path?from=x"), "ETag"), "");
}

TEST_F(serve_fixture, AQueryOutOfTimeIs503) {
    serve_settings s;
    s.input = (dir / "test.keys").string();
    s.query_ms = 0;
    std::string error;
    data = load_served_data(s, error);
    ASSERT_NE(data, nullptr) << error;
    std::vector<std::pair<std::string, std::string>> q{{"from", "AAAAAAAA000000AA"},
                                                       {"to", "CCCCCCCC000000CC"}};
    http_response api = get("/api/path", q);
    EXPECT_EQ(api.status, 503);
    EXPECT_NE(api.body.find("longer than 0 ms"), std::string::npos) << api.body;
    EXPECT_EQ(get("/path", q).status, 503);
    EXPECT_EQ(header(api, "ETag"), "");
}

TEST_F(serve_fixture, WithoutReportsTheKeyPageHasNoRanking) {
    data = load(false);
    EXPECT_EQ(get("/reports/index.html").status, 404);
    http_response r = get("/api/key/AAAAAAAA000000AA");
    EXPECT_EQ(r.body.find("rank"), std::string::npos);
}

TEST_F(serve_fixture, ABadFileIsNamedInTheError) {
    write(dir / "bad.keys", "p123\n");
    serve_settings s;
    std::string error;
    s.input = (dir / "missing.keys").string();
    EXPECT_EQ(load_served_data(s, error), nullptr);
    EXPECT_NE(error.find("missing.keys': No such file"), std::string::npos) << error;
    s.input = (dir / "test.keys").string();
    s.names_path = (dir / "test.keys").string();
    EXPECT_EQ(load_served_data(s, error), nullptr);
    EXPECT_NE(error.find("test.keys:1:"), std::string::npos) << error;
    s.names_path.clear();
    s.report_dir = (dir / "secret").string();
    EXPECT_EQ(load_served_data(s, error), nullptr);
    EXPECT_NE(error.find("secret': Not a directory"), std::string::npos) << error;
}

} // namespace
