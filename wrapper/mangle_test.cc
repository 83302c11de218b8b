#include "mangle.h"

#include "settings.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

std::string mangled(const std::string& bytes) {
    std::string out(4 * bytes.size() + 1, '?');
    int n = mangle_into(bytes.data(), static_cast<int>(bytes.size()), out.data(),
                        static_cast<int>(out.size()));
    EXPECT_GE(n, 0);
    EXPECT_EQ(out[static_cast<size_t>(n)], '\0');
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string unmangled(std::string form) {
    int n = unmangle_in_place(form.data(), static_cast<int>(form.size()));
    if (n < 0) return "<error>";
    return form.substr(0, static_cast<size_t>(n));
}

TEST(Mangle, EveryByteValueRoundTripsAndIsPrintable) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    std::string form = mangled(all);
    for (char c : form)
        EXPECT_TRUE(c == '\\' || in_literal_set(static_cast<unsigned char>(c)));
    EXPECT_EQ(form.size(), 71u + 4u * (256u - 71u));
    EXPECT_EQ(unmangled(form), all);
}

TEST(Mangle, RandomStringsWithNulAndNewlineRoundTrip) {
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp): a fixed seed keeps the test repeatable
    std::mt19937 random(20060904);
    for (int round = 0; round < 500; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& c : bytes) {
            unsigned pick = random() % 4;
            c = pick == 0 ? '\0' : pick == 1 ? '\n' : static_cast<char>(random() % 256);
        }
        ASSERT_EQ(unmangled(mangled(bytes)), bytes);
    }
}

TEST(Mangle, LiteralSetEdges) {
    int count = 0;
    for (int b = 0; b < 256; ++b)
        count += in_literal_set(static_cast<unsigned char>(b));
    EXPECT_EQ(count, 71);
    EXPECT_EQ(mangled("+;AZ_az~09:,-./"), "+;AZ_az~09:,-./");
    EXPECT_EQ(mangled("*<@[^`{}\x7f"), "\\052\\074\\100\\133\\136\\140\\173\\175\\177");
    EXPECT_EQ(mangled(std::string(" \n=\\\0\xff", 6)), "\\040\\012\\075\\134\\000\\377");
    EXPECT_EQ(mangled(""), "");
    // A passphrase of only escaped bytes is exactly four times as long.
    EXPECT_EQ(mangled("\xd0\xb0\xd0\xb1").size(), 16u);
}

TEST(Mangle, FormMustLeaveRoomForItsNul) {
    char dest[8];
    EXPECT_EQ(mangle_into("abcdefg", 7, dest, 8), 7);
    EXPECT_EQ(mangle_into("abcdefgh", 8, dest, 8), -1);
    EXPECT_EQ(mangle_into("abc ", 4, dest, 8), 7);
    EXPECT_EQ(mangle_into("abcd ", 5, dest, 8), -1);
    EXPECT_EQ(mangle_into("", 0, dest, 1), 0);
    EXPECT_EQ(mangle_into("", 0, dest, 0), -1);
}

TEST(Unmangle, AcceptsAnyNonBackslashCharacterAsItself) {
    EXPECT_EQ(unmangled("\\101"), "A");
    EXPECT_EQ(unmangled("a b\xe9"), "a b\xe9");
    EXPECT_EQ(unmangled("\\377\\000x"), std::string("\xff\0x", 3));
    EXPECT_EQ(unmangled(""), "");
}

TEST(Unmangle, RefusesEveryBadEscape) {
    for (const char* bad : {"\\", "ab\\", "\\1", "\\12", "x\\12", "\\400", "\\080", "\\008",
                            "\\0x1", "\\09", "\\a00", "\\-01"})
        EXPECT_EQ(unmangled(bad), "<error>") << bad;
}

TEST(Unmangle, DiesWithItsMessage) {
    char bad[] = "\\9";
    EXPECT_EXIT(unmangle_passphrase(bad, 2), testing::ExitedWithCode(1),
                "^nimvara: could not unmangle passphrase\n$");
    char big[5];
    EXPECT_EXIT(mangle_passphrase(" ", 1, big, 4), testing::ExitedWithCode(1),
                "^nimvara: could not mangle passphrase\n$");
}

TEST(PassphraseEnvironment, InstallsMangledOrEmptyValueAndReplacesTheEntry) {
    set_passphrase_env("a b", 3);
    ASSERT_NE(getenv(PASSPHRASE_VARIABLE), nullptr);
    EXPECT_STREQ(getenv(PASSPHRASE_VARIABLE), "a\\040b");
    char* first = getenv(PASSPHRASE_VARIABLE);
    set_passphrase_env(nullptr, 0);
    EXPECT_STREQ(getenv(PASSPHRASE_VARIABLE), "");
    EXPECT_NE(getenv(PASSPHRASE_VARIABLE), first);
    set_passphrase_env("xyz", 0);
    EXPECT_STREQ(getenv(PASSPHRASE_VARIABLE), "");
    std::string all_escaped(1000, ' ');
    set_passphrase_env(all_escaped.data(), 1000);
    EXPECT_EQ(strlen(getenv(PASSPHRASE_VARIABLE)), 4000u);
}

} // namespace
