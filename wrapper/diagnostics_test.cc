#include "diagnostics.h"

#include "settings.h"

#include <gtest/gtest.h>

namespace {

TEST(DoSnprintf, TextOneShorterThanTheBufferFits) {
    char buffer[8];
    EXPECT_EQ(do_snprintf(buffer, sizeof buffer, "%s", "1234567"), 7);
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_EXIT(do_snprintf(buffer, sizeof buffer, "%s", "12345678"), testing::ExitedWithCode(1),
                "^nimvara: do_snprintf\\(\\) size exceeded\n$");
}

TEST(Diagnostics, FatalFormsAndTraceLevels) {
    EXPECT_EXIT(fatal_too_long(), testing::ExitedWithCode(1), "^nimvara: passphrase too long\n$");
    EXPECT_EXIT(fatal_no_memory(), testing::ExitedWithCode(1),
                "^nimvara: could not allocate memory\n$");
    EXPECT_EXIT(
        {
            settings.verbosity = 1;
            verbose_message(2, "hidden");
            verbose_message(1, "shown %d", 7);
            warning_message("goes on");
            fatal_message("end");
        },
        testing::ExitedWithCode(1),
        "^nimvara\\[[0-9]+\\]: shown 7\nnimvara: goes on\nnimvara: end\n$");
    settings.verbosity = 0;
}

} // namespace
