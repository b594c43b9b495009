// Typed values: the conversion rules of the numeric getters at the host's
// width of long, the setters' exact text, and the round trips.
#include "helpers.h"
#include "iniplace.h"

#include <climits>

namespace {

using std::to_string;

class Typed : public FileTest {
  protected:
    void value(const std::string &text) { put("[s]\nk=" + text + "\n"); }
    const char *file() const { return path.c_str(); }
};

struct LongCase {
    std::string text;
    int status;
    long expected; // the default -7 on failure
};

// Decimal first, never octal; hexadecimal with or without prefix second.
const std::vector<LongCase> signed_cases = {
    {"42", 0, 42},
    {"010", 0, 10},
    {"0x1F", 0, 31},
    {"0X1f", 0, 31},
    {"ff", 0, 255},
    {"1e3", 0, 483},
    {"12abc", 0, 76476},
    {"-5", 0, -5},
    {"+7", 0, 7},
    {"  42  ", 0, 42},
    {"xyz", -2, -7},
    {"", -2, -7},
    {"4 2", -2, -7},
    {"0x", -2, -7},
    {"-", -2, -7},
    {"1.5", -2, -7},
    {to_string(LONG_MAX), 0, LONG_MAX},
    {to_string(LONG_MIN), 0, LONG_MIN},
    // One past the range fails in both bases.
    {to_string(static_cast<unsigned long>(LONG_MAX) + 1), -2, -7},
};

TEST_F(Typed, SignedGetterConvertsTheWholeText) {
    for (const auto &c : signed_cases) {
        value(c.text);
        long out = 0;
        EXPECT_EQ(ini_getkey_long(file(), "s", "k", &out, -7), c.status) << c.text;
        EXPECT_EQ(out, c.expected) << c.text;
    }
}

struct UnsignedCase {
    std::string text;
    int (*getter)(const char *, const char *, const char *, unsigned long *, unsigned long);
    int status;
    unsigned long expected; // the default 7 on failure
};

TEST_F(Typed, UnsignedAndBinaryGetters) {
    char hex_max[32];
    std::snprintf(hex_max, sizeof hex_max, "0x%lX", ULONG_MAX);
    const std::string past_max = to_string(ULONG_MAX) + "0";
    const UnsignedCase cases[] = {
        {"42", ini_getkey_ulong, 0, 42},
        {"ff", ini_getkey_ulong, 0, 255},
        {"-5", ini_getkey_ulong, 0, ULONG_MAX - 4}, // a minus sign wraps
        {hex_max, ini_getkey_ulong, 0, ULONG_MAX},
        {past_max, ini_getkey_ulong, -2, 7},
        {"101", ini_getkey_bin, 0, 5},
        {"102", ini_getkey_bin, -2, 7},
        {"0b101", ini_getkey_bin, -2, 7}, // no prefix in base 2
        {"ff", ini_getkey_bin, -2, 7},    // and no hexadecimal
        {"", ini_getkey_bin, -2, 7},
        {std::string(32, '1'), ini_getkey_bin, 0, 0xFFFFFFFFUL},
    };
    for (const auto &c : cases) {
        value(c.text);
        unsigned long out = 0;
        EXPECT_EQ(c.getter(file(), "s", "k", &out, 7), c.status) << c.text;
        EXPECT_EQ(out, c.expected) << c.text;
    }
}

// The target's long has 32 bits; a 64-bit host checks the same texts at its
// own width.
TEST_F(Typed, RangeLimitsFollowTheWidthOfLong) {
    constexpr bool narrow = sizeof(long) == 4;
    struct {
        const char *text;
        int status;
        long value;
    } const signed_cases[] = {
        {"4294967296", narrow ? -2 : 0, narrow ? -7 : static_cast<long>(4294967296ULL)},
        {"0xFFFFFFFF", narrow ? -2 : 0, narrow ? -7 : static_cast<long>(0xFFFFFFFFUL)},
        {"2147483647", 0, 2147483647L},
    };
    for (const auto &c : signed_cases) {
        value(c.text);
        long out = 0;
        EXPECT_EQ(ini_getkey_long(file(), "s", "k", &out, -7), c.status) << c.text;
        EXPECT_EQ(out, c.value) << c.text;
    }
    const std::pair<const char *, unsigned long> unsigned_cases[] = {
        {"0xFFFFFFFF", 4294967295UL},
        {"-5", narrow ? 4294967291UL : ULONG_MAX - 4},
    };
    for (const auto &[text, expected] : unsigned_cases) {
        value(text);
        unsigned long out = 0;
        EXPECT_EQ(ini_getkey_ulong(file(), "s", "k", &out, 7), 0) << text;
        EXPECT_EQ(out, expected) << text;
    }
}

TEST_F(Typed, GettersStoreTheDefaultOnEveryFailure) {
    value("1");
    long out = 0;
    EXPECT_EQ(ini_getkey_long(file(), "s", "missing", &out, -7), 1);
    EXPECT_EQ(out, -7);
    out = 0;
    EXPECT_EQ(ini_getkey_long((dir + "/none").c_str(), "s", "k", &out, -7), -1);
    EXPECT_EQ(out, -7);
    out = 0;
    EXPECT_EQ(ini_getkey_long(file(), "s", nullptr, &out, -7), -2);
    EXPECT_EQ(out, -7);
    EXPECT_EQ(ini_getkey_long(file(), "s", "k", nullptr, -7), -2);
}

TEST_F(Typed, SettersWriteTheirExactText) {
    const std::pair<Call, std::string> cases[] = {
        {[](const char *p) { return ini_setkey_string(p, "s", "k", "abc"); }, "\"abc\""},
        {[](const char *p) { return ini_setkey_long(p, "s", "k", -5); }, "-5"},
        {[](const char *p) { return ini_setkey_ulong(p, "s", "k", 4000000000UL); }, "4000000000"},
        {[](const char *p) { return ini_setkey_hex(p, "s", "k", 255); }, "0xFF"},
        {[](const char *p) { return ini_setkey_hex(p, "s", "k", 0); }, "0x0"},
        {[](const char *p) { return ini_setkey_bin(p, "s", "k", 5); },
         std::string(29, '0') + "101"},
        {[](const char *p) { return ini_setkey_bin(p, "s", "k", -1); }, std::string(32, '1')},
    };
    for (const auto &[call, text] : cases) {
        value("old");
        EXPECT_EQ(call(file()), 0) << text;
        EXPECT_EQ(contents(), "[s]\nk=" + text + "\n");
    }
}

TEST_F(Typed, PairsReadBackWhatWasWritten) {
    for (const long number : {0L, -1L, LONG_MIN, LONG_MAX}) {
        long out = 0;
        ASSERT_EQ(ini_setkey_long(file(), "s", "k", number), 0);
        EXPECT_EQ(ini_getkey_long(file(), "s", "k", &out, 7), 0);
        EXPECT_EQ(out, number);
    }
    for (const unsigned long number : {0UL, 4000000000UL, ULONG_MAX}) {
        unsigned long out = 0;
        ASSERT_EQ(ini_setkey_ulong(file(), "s", "k", number), 0);
        EXPECT_EQ(ini_getkey_ulong(file(), "s", "k", &out, 7), 0);
        EXPECT_EQ(out, number);
        ASSERT_EQ(ini_setkey_hex(file(), "s", "k", number), 0);
        EXPECT_EQ(ini_getkey_ulong(file(), "s", "k", &out, 7), 0);
        EXPECT_EQ(out, number);
    }
    unsigned long bits = 0;
    ASSERT_EQ(ini_setkey_bin(file(), "s", "k", -1), 0);
    EXPECT_EQ(ini_getkey_bin(file(), "s", "k", &bits, 7), 0);
    EXPECT_EQ(bits, 4294967295UL);
    char text[16];
    ASSERT_EQ(ini_setkey_string(file(), "s", "k", "  a b "), 0);
    EXPECT_EQ(ini_getkey_string(file(), "s", "k", text, sizeof text, nullptr), 0);
    EXPECT_STREQ(text, "  a b ");
}

struct StringCase {
    const char *stored;
    const char *read;
};

TEST_F(Typed, StringGetterDropsOnePairOfQuotes) {
    const StringCase cases[] = {
        {"\"John\"", "John"}, {"John", "John"},   {"\"\"", ""},           {"\"", "\""},
        {"\"a", "\"a"},       {"\" a \"", " a "}, {"\"\"x\"\"", "\"x\""},
    };
    for (const auto &c : cases) {
        value(c.stored);
        Marked<16> dst;
        EXPECT_EQ(ini_getkey_string(file(), "s", "k", dst.bytes, 16, "def"), 0) << c.stored;
        EXPECT_EQ(dst.text(), c.read) << c.stored;
    }
}

TEST_F(Typed, StringGetterCopiesWithStrncpyBounds) {
    value("");
    Marked<8> dst;
    EXPECT_EQ(ini_getkey_string(file(), "s", "k", dst.bytes, 8, "def"), 0);
    EXPECT_EQ(std::string(dst.bytes, 8), std::string(8, '\0')); // zero-filled, no default

    value("abcdefgh");
    dst.fill();
    EXPECT_EQ(ini_getkey_string(file(), "s", "k", dst.bytes, 4, nullptr), 0);
    EXPECT_EQ(std::string(dst.bytes, 5), "abcd#"); // not terminated

    dst.fill();
    EXPECT_EQ(ini_getkey_string(file(), "s", "missing", dst.bytes, 8, nullptr), 1);
    EXPECT_TRUE(dst.untouched());
    EXPECT_EQ(ini_getkey_string(file(), "s", "missing", dst.bytes, 8, "dflt"), 1);
    EXPECT_EQ(std::string(dst.bytes, 8), std::string("dflt\0\0\0\0", 8));
    EXPECT_EQ(ini_getkey_string(file(), "s", nullptr, dst.bytes, 8, "null"), -2);
    EXPECT_EQ(dst.text(), "null");
    EXPECT_EQ(ini_getkey_string(file(), "s", "k", nullptr, 8, "d"), -2);
}

TEST_F(Typed, AQuotedStringTooLongToWriteIsRejected) {
    value("1");
    const std::string longest(998 - 5, 'v'); // k="..."\n is 998 bytes
    EXPECT_EQ(ini_setkey_string(file(), "s", "k", (longest + "v").c_str()), -2);
    EXPECT_EQ(contents(), "[s]\nk=1\n");
    EXPECT_EQ(ini_setkey_string(file(), "s", "k", longest.c_str()), 0);
    EXPECT_EQ(contents().size(), 4 + 998u);
}

} // namespace
