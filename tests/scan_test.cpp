// The one whitespace rule (the scanners are checked against the model in
// model_test.cpp).
#include "helpers.h"

#include <cstring>

namespace {

TEST(TrimString, FollowsTheOneWhitespaceRule) {
    const struct {
        const char *input, *trimmed, *buffer_after; // the buffer to its first zero
    } cases[] = {
        {"", "", ""},
        {"\n", "\n", "\n"},   // a blank line keeps one byte
        {"\r\n", "\r", "\r"}, // a CRLF blank line keeps its carriage return
        {" ", "", " "},       // nothing overwritten, the empty rest returned
        {"\t a b \n", "a b", "\t a b"},
        {"  x  \r\n", "x", "  x"},
    };
    for (const auto &c : cases) {
        char buffer[32];
        std::strcpy(buffer, c.input);
        EXPECT_STREQ(trim_string(buffer), c.trimmed) << "input: '" << c.input << "'";
        EXPECT_STREQ(buffer, c.buffer_after) << "input: '" << c.input << "'";
    }
    EXPECT_EQ(trim_string(nullptr), nullptr);
}

} // namespace
