#include "line_operators.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct line_case {
    const char* line;
    const char* dropped_after; // the operator reported, or null
};

TEST(LineOperators, CommandsAfterAListOperatorAreFound) {
    const line_case cases[] = {
        // A command after the operator would never run.
        {"gpg -d a.gpg && gpg -d b.gpg", "&&"},
        {"gpg -d a.gpg || echo failed", "||"},
        {"gpg -d a.gpg; gpg -d b.gpg", ";"},
        {"gpg -d a.gpg ;gpg -d b.gpg", ";"},
        {"gpg -d a.gpg & gpg -d b.gpg", "&"},
        {"gpg a;; gpg b", ";"},
        {"gpg a | tar x && rm a", "&&"},
        {"gpg a; >log", ";"}, // a redirection alone is a command too
        {"gpg a &>log", "&"}, // for sh, "&>" is "&" then ">log"
        {"gpg a; (gpg b)", ";"},
        {"gpg a;\\#b", ";"}, // an escaped "#" is no comment
        {"gpg 'a;b' && gpg b", "&&"},
        {"gpg a\\;b; c", ";"},
        {"gpg a#; b", ";"}, // "#" inside a word starts no comment
        {"gpg \"$(echo \")\")\"; c", ";"},
        // Nothing is dropped.
        {"gpg -d a.gpg", nullptr},
        {"", nullptr},
        {"gpg -d a.gpg ;", nullptr},
        {"gpg -d a.gpg ; ", nullptr},
        {"gpg -d a.gpg &", nullptr},
        {"gpg -d a.gpg && ", nullptr},
        {"gpg -d a.gpg ; # then more", nullptr},
        {"gpg -d a.gpg # ; rm -rf b", nullptr},
        {"gpg -d a.gpg;#x", nullptr},
        {"gpg -d a.gpg | tar x", nullptr},
        {"gpg -d a.gpg 2>&1 | tee log", nullptr},
        {"gpg -d a.gpg >&2 <&0 2>>log >|out", nullptr},
        {"gpg 'a;b&&c' \"x; y || z\" w\\;v", nullptr},
        {"gpg \"a\\\"; b\"", nullptr},
        {"gpg -r $(id -un; echo x) a", nullptr},
        {"gpg -r `id -un; echo x` a", nullptr},
        {"gpg -r ${USER:-a;b} $((1&2)) a", nullptr},
        {"gpg 'unclosed ; b", nullptr},
    };
    for (const line_case& c : cases) {
        const char* found = command_after_operator(c.line);
        EXPECT_EQ(std::string(found ? found : "none"),
                  std::string(c.dropped_after ? c.dropped_after : "none"))
            << c.line;
    }
}

} // namespace
