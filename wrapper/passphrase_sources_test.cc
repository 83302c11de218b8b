#include "passphrase_sources.h"

#include "secret_memory.h"
#include "settings.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

struct scratch_file {
    char path[32] = "/tmp/nimvara-pass.XXXXXX";
    explicit scratch_file(const std::string& content) {
        int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        EXPECT_EQ(close(fd), 0);
    }
    ~scratch_file() { (void)unlink(path); }
};

class PassphraseSources : public testing::Test {
  protected:
    void SetUp() override { settings = wrapper_settings{}; }
    void TearDown() override {
        settings = wrapper_settings{};
        EXPECT_EQ(unsetenv(PASSPHRASE_VARIABLE), 0);
    }
    passphrase_buffer buffer;
};

TEST_F(PassphraseSources, VariableIsDecodedAndThenReadsEmpty) {
    ASSERT_EQ(setenv(PASSPHRASE_VARIABLE, "a\\000b\\012", 1), 0);
    int n = passphrase_from_env_or_tty(buffer.bytes, PASSPHRASE_MAX);
    EXPECT_EQ(std::string(buffer.bytes, static_cast<size_t>(n)), std::string("a\0b\n", 4));
    ASSERT_NE(getenv(PASSPHRASE_VARIABLE), nullptr);
    EXPECT_STREQ(getenv(PASSPHRASE_VARIABLE), "");

    ASSERT_EQ(setenv(PASSPHRASE_VARIABLE, "", 1), 0);
    EXPECT_EQ(get_passphrase(buffer.bytes, PASSPHRASE_MAX), 0);
}

TEST_F(PassphraseSources, VariableMayDecodeToTheWholeBufferButNoMore) {
    std::string value(PASSPHRASE_MAX, 'x');
    ASSERT_EQ(setenv(PASSPHRASE_VARIABLE, value.c_str(), 1), 0);
    EXPECT_EQ(passphrase_from_env_or_tty(buffer.bytes, PASSPHRASE_MAX), PASSPHRASE_MAX);
    ASSERT_EQ(setenv(PASSPHRASE_VARIABLE, (value + "x").c_str(), 1), 0);
    EXPECT_EXIT(passphrase_from_env_or_tty(buffer.bytes, PASSPHRASE_MAX),
                testing::ExitedWithCode(1), "^nimvara: passphrase too long\n$");
}

TEST_F(PassphraseSources, FileIsTakenByteForByteAndLeavesTheVariableAlone) {
    scratch_file file(std::string("pw\0\n", 4));
    ASSERT_EQ(setenv(PASSPHRASE_VARIABLE, "other", 1), 0);
    settings.passphrase_file = file.path;
    int n = get_passphrase(buffer.bytes, PASSPHRASE_MAX);
    EXPECT_EQ(std::string(buffer.bytes, static_cast<size_t>(n)), std::string("pw\0\n", 4));
    EXPECT_STREQ(getenv(PASSPHRASE_VARIABLE), "other");
}

TEST_F(PassphraseSources, FileLimit) {
    scratch_file longest(std::string(PASSPHRASE_MAX - 1, 'p'));
    settings.passphrase_file = longest.path;
    EXPECT_EQ(passphrase_from_file(buffer.bytes, PASSPHRASE_MAX), PASSPHRASE_MAX - 1);
    scratch_file too_long(std::string(PASSPHRASE_MAX, 'p'));
    settings.passphrase_file = too_long.path;
    EXPECT_EXIT(passphrase_from_file(buffer.bytes, PASSPHRASE_MAX), testing::ExitedWithCode(1),
                "^nimvara: passphrase too long\n$");
    settings.passphrase_file = "/nonexistent/pass";
    EXPECT_EXIT(passphrase_from_file(buffer.bytes, PASSPHRASE_MAX), testing::ExitedWithCode(1),
                "^nimvara: '/nonexistent/pass': No such file or directory\n$");
}

TEST(SecretMemory, WipeLeavesOnlyZeros) {
    passphrase_buffer secret;
    std::string text = "do not keep";
    text.copy(secret.bytes, text.size());
    secret.wipe();
    for (char c : secret.bytes)
        ASSERT_EQ(c, '\0');
}

} // namespace
