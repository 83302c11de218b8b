#include "serve_options.h"

#include <gtest/gtest.h>

TEST(ListenAddress, NumericAddressesAndPortsOnly) {
    struct row {
        const char* text;
        bool ok;
        const char* address;
        uint16_t port;
    };
    const row rows[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"0.0.0.0:0", true, "0.0.0.0", 0},
        {"[::1]:65535", true, "::1", 65535},
        {"[::1]:65536", false, "", 0},
        {"::1:80", false, "", 0},
        {"localhost:80", false, "", 0},
        {"127.0.0.1", false, "", 0},
        {"127.0.0.1:", false, "", 0},
        {":80", false, "", 0},
        {"127.0.0.1:-1", false, "", 0},
        {"127.0.0.1:80x", false, "", 0},
        {"1.2.3.4.5:80", false, "", 0},
    };
    for (const row& r : rows) {
        serve_settings s;
        EXPECT_EQ(parse_listen_address(r.text, s), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(s.address, r.address) << r.text;
            EXPECT_EQ(s.port, r.port) << r.text;
        }
    }
}
