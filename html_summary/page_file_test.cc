#include "page_file.h"

#include "test_dirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(PageFile, HrefPrefixFromThePageToTheOutput) {
    scratch_dir d;
    std::filesystem::create_directories(d.path / "out");
    std::filesystem::create_directories(d.path / "www" / "keys");
    std::string base = d.path.string();
    EXPECT_EQ(href_prefix(base + "/out/index.html", base + "/out/"), "");
    EXPECT_EQ(href_prefix(base + "/out/index.html", base + "/out"), "");
    EXPECT_EQ(href_prefix(base + "/out/../out/page.html", base + "/out/"), "");
    EXPECT_EQ(href_prefix(base + "/page.html", base + "/out/"), "out/");
    EXPECT_EQ(href_prefix(base + "/www/keys/page.html", base + "/out/"), "../../out/");
    EXPECT_EQ(href_prefix(base + "/out/sub/page.html", base + "/out/"), "../");
    // A page path without a directory lies in the current directory.
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(d.path / "www");
    EXPECT_EQ(href_prefix("page.html", "../out/"), "../out/");
    std::filesystem::current_path(cwd);
}

TEST(PageFile, CommittedPageReplacesTheOldOneWithUsualPermissions) {
    scratch_dir d;
    std::string path = (d.path / "index.html").string();
    write_file(path, "old page");
    mode_t old_mask = umask(022);
    {
        atomic_file file;
        open_page_file(file, path);
        EXPECT_EQ(read_file(path), "old page"); // untouched until committed
        ASSERT_EQ(write(file.fd, "new page", 8), 8);
        commit_page_file(file);
    }
    umask(old_mask);
    EXPECT_EQ(read_file(path), "new page");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(PageFile, AbandonedPageLeavesNoTraceAndTheOldPageStands) {
    scratch_dir d;
    std::string path = (d.path / "index.html").string();
    write_file(path, "old page");
    {
        atomic_file file;
        open_page_file(file, path);
        ASSERT_EQ(write(file.fd, "half", 4), 4);
    }
    EXPECT_EQ(read_file(path), "old page");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path),
                            std::filesystem::directory_iterator()),
              1);
    atomic_file nowhere;
    try {
        open_page_file(nowhere, (d.path / "missing" / "index.html").string());
        FAIL() << "no error for a missing directory";
    } catch (const page_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  (d.path / "missing" / "index.html").string() +
                      ": cannot create a temporary file beside it: No such file or directory");
    }
}

} // namespace
