// Typed values: how the numeric getters read a value at the width of long
// (32 bits on the target, 64 on x86-64), what the setters write and read
// back, and the copy-and-default contract of the two string getters.
#include "helpers.h"

#include <climits>

namespace {

using std::to_string;
constexpr bool narrow = sizeof(long) == 4;

template <typename Number>
using Getter = int (*)(const char *, const char *, const char *, Number *, Number);

// The getter's status and what it stored, as text; the default is 7.
template <typename Number, Getter<Number> getter> std::string read(const char *path) {
    Number out = 0;
    const int status = getter(path, "s", "k", &out, 7);
    return (status == INI_OK ? "" : "status " + to_string(status) + ": ") + to_string(out);
}
const auto read_long = read<long, ini_getkey_long>;
const auto read_ulong = read<unsigned long, ini_getkey_ulong>;
const auto read_bin = read<unsigned long, ini_getkey_bin>;

class Typed : public FileTest {};

TEST_F(Typed, NumericGettersReadTheWholeText) {
    const std::string failed = "status " + to_string(INI_EINVAL) + ": 7";
    const struct {
        std::string text;
        std::string (*read)(const char *);
        std::string on32, on64;
    } cases[] = {
        {"42", read_long, "42", "42"},
        {"010", read_long, "10", "10"}, // never octal
        {"0x1F", read_long, "31", "31"},
        {"ff", read_long, "255", "255"},
        {"1e3", read_long, "483", "483"}, // not decimal, so hexadecimal
        {"-5", read_long, "-5", "-5"},
        {"\v5", read_long, "5", "5"}, // strtol skips white space of its own
        {"xyz", read_long, failed, failed},
        {"", read_long, failed, failed},
        {"4 2", read_long, failed, failed},
        {"0x", read_long, failed, failed},
        {"2147483648", read_long, failed, "2147483648"},
        {"0xFFFFFFFF", read_long, failed, "4294967295"},
        {"9223372036854775807", read_long, failed, "9223372036854775807"},
        {"9223372036854775808", read_long, failed, failed},
        {"-5", read_ulong, "4294967291", "18446744073709551611"}, // a minus sign wraps
        {"0xFFFFFFFF", read_ulong, "4294967295", "4294967295"},
        {"4294967296", read_ulong, failed, "4294967296"},
        {"18446744073709551616", read_ulong, failed, failed},
        {"101", read_bin, "5", "5"},
        {"102", read_bin, failed, failed},
        {"0b101", read_bin, failed, failed}, // no prefix in base 2
        {"ff", read_bin, failed, failed},    // and no hexadecimal
        {std::string(32, '1'), read_bin, "4294967295", "4294967295"},
        {std::string(33, '1'), read_bin, failed, "8589934591"},
    };
    for (const auto &c : cases) {
        put("[s]\nk=" + c.text + "\n");
        EXPECT_EQ(c.read(path.c_str()), narrow ? c.on32 : c.on64) << c.text;
    }
    put("[s]\n");
    EXPECT_EQ(read_long(path.c_str()), "status " + to_string(INI_NOT_FOUND) + ": 7");
    EXPECT_EQ(read_bin((dir + "/none").c_str()), "status " + to_string(INI_EOPEN) + ": 7");
}

TEST_F(Typed, SettersWriteTextTheGettersReadBack) {
    const auto setter = [](auto set, auto value) -> Call {
        return [=](const char *p) { return set(p, "s", "k", value); };
    };
    const auto read_string = [](const char *p) -> std::string {
        char text[64];
        return ini_getkey_string(p, "s", "k", text, sizeof text, nullptr) == INI_OK ? text : "";
    };
    const std::string max = to_string(ULONG_MAX),
                      hex_max = narrow ? "FFFFFFFF" : "FFFFFFFFFFFFFFFF";
    const struct {
        Call set;
        std::string written;
        std::string (*read)(const char *);
        std::string read_back;
    } cases[] = {
        {setter(ini_setkey_long, -5L), "-5", read_long, "-5"},
        {setter(ini_setkey_long, LONG_MIN), to_string(LONG_MIN), read_long, to_string(LONG_MIN)},
        {setter(ini_setkey_ulong, ULONG_MAX), max, read_ulong, max},
        {setter(ini_setkey_hex, 0UL), "0x0", read_ulong, "0"},
        {setter(ini_setkey_hex, 255UL), "0xFF", read_ulong, "255"},
        {setter(ini_setkey_hex, ULONG_MAX), "0x" + hex_max, read_ulong, max},
        {setter(ini_setkey_bin, 5L), std::string(29, '0') + "101", read_bin, "5"},
        {setter(ini_setkey_bin, -1L), std::string(32, '1'), read_bin, "4294967295"}, // bits 31-0
        {setter(ini_setkey_string, "  a \"b\" "), "\"  a \"b\" \"", read_string, "  a \"b\" "},
    };
    for (const auto &c : cases) {
        put("[s]\nk=old\n");
        EXPECT_EQ(c.set(path.c_str()), INI_OK) << c.written;
        EXPECT_EQ(contents(), "[s]\nk=" + c.written + "\n");
        EXPECT_EQ(c.read(path.c_str()), c.read_back) << c.written;
    }
}

// Both string getters copy as strncpy does: zero-filled when shorter than
// len, not terminated when not; the default likewise on any other status.
TEST_F(Typed, StringGettersCopyTheTextOrTheDefault) {
    using Get = std::function<int(const char *path, char *dst, int len, const char *def)>;
    const Get key = [](const char *p, char *dst, int len, const char *def) {
        return ini_getkey_string(p, "s", "k", dst, len, def);
    };
    const auto entry = [](const char *section, const char *ref, int mode) -> Get {
        return [=](const char *p, char *dst, int len, const char *def) {
            return ini_getsection_string(p, section, ref, mode, dst, len, def);
        };
    };
    const std::string hosts = "[s]\nalpha\nbeta\n";
    const struct {
        std::optional<std::string> file;
        Get get;
        int len;
        const char *def;
        int status;
        std::string dst; // all 8 bytes afterwards
    } cases[] = {
        {"[s]\nk=\"John\"\n", key, 8, "d", INI_OK, std::string("John\0\0\0\0", 8)},
        {"[s]\nk=\"\"\n", key, 8, "d", INI_OK, std::string(8, '\0')},
        {"[s]\nk=\"a\n", key, 8, "d", INI_OK, std::string("\"a\0\0\0\0\0\0", 8)},
        {"[s]\nk=\"\n", key, 8, "d", INI_OK, std::string("\"\0\0\0\0\0\0\0", 8)},
        {"[s]\nk=\" a \"\n", key, 8, "d", INI_OK, std::string(" a \0\0\0\0\0", 8)},
        {"[s]\nk=\n", key, 8, "d", INI_OK, std::string(8, '\0')}, // found: no default
        {"[s]\nk=abcdefgh\n", key, 4, "d", INI_OK, "abcd####"},   // not terminated
        {"[s]\n", key, 8, nullptr, INI_NOT_FOUND, "########"},
        {"[s]\n", key, 8, "dflt", INI_NOT_FOUND, std::string("dflt\0\0\0\0", 8)},
        {std::nullopt, key, 8, "dflt", INI_EOPEN, std::string("dflt\0\0\0\0", 8)},
        {hosts, entry("s", "alpha", INI_ENTRY_NEXT), 8, "d", INI_OK,
         std::string("beta\0\0\0\0", 8)},
        {hosts, entry("s", nullptr, INI_ENTRY_FIRST), 5, "d", INI_OK, "alpha###"},
        {hosts, entry("s", "beta", INI_ENTRY_NEXT), 8, "none", INI_NOT_FOUND,
         std::string("none\0\0\0\0", 8)},
        {hosts, entry("*", nullptr, INI_ENTRY_FIRST), 8, "bad", INI_ESECTION,
         std::string("bad\0\0\0\0\0", 8)},
        {hosts, entry("s", nullptr, INI_ENTRY_MATCH), 8, "ref", INI_EINVAL,
         std::string("ref\0\0\0\0\0", 8)},
        {std::nullopt, entry("s", nullptr, INI_ENTRY_FIRST), 8, nullptr, INI_EOPEN, "########"},
    };
    for (const auto &c : cases) {
        std::filesystem::remove(path);
        if (c.file)
            put(*c.file);
        Marked<8> dst;
        EXPECT_EQ(c.get(path.c_str(), dst.bytes, c.len, c.def), c.status)
            << c.file.value_or("none");
        EXPECT_EQ(dst.all(), c.dst) << c.file.value_or("none");
    }
}

} // namespace
