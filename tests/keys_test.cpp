// Key lookup, writing and deletion on real files, compared byte for byte.
#include "helpers.h"

namespace {

using namespace std::string_literals;

class Keys : public FileTest {};

TEST_F(Keys, GetReturnsTheTrimmedValue) {
    const struct {
        std::string content;
        const char *section, *key;
        int len, status;
        const char *value; // null: dst left as it was
    } cases[] = {
        {"[s]\nhost = example value  \n", "s", "host", 64, INI_OK, "example value"},
        {"[s]\na=b=c\n", "s", "a", 64, INI_OK, "b=c"},
        {"[s]\nkey=\n", "s", "key", 64, INI_OK, ""},
        {"[s]\nk=abcdef\n", "s", "k", 4, INI_OK, "abc"},
        {"[s]\nport 5 ; a=b\n", "s", "port", 64, INI_OK, "b"},
        {"[s]\nq=\"x\"\r\n", "s", "q", 64, INI_OK, "\"x\""},
        {"[s]\nk=\v5 \t\r\n", "s", "k", 64, INI_OK, "\v5"},
        {"p=1\n[s]\nq=2\n", "*", "p", 64, INI_OK, "1"},
        {"p=1\n\t[s]\nq=2\n", "*", "q", 64, INI_NOT_FOUND, nullptr},
        {"[s]\nk=1\n", "t", "k", 64, INI_NOT_FOUND, nullptr},
        {"[a]\nx=1\n \t[b]\nk=2\n", "a", "k", 64, INI_NOT_FOUND, nullptr},
    };
    for (const auto &c : cases) {
        put(c.content);
        Marked<64> dst;
        EXPECT_EQ(ini_getkey(path.c_str(), c.section, c.key, dst.bytes, c.len), c.status)
            << c.content;
        // Untouched, or the value zero-filled to len and terminated.
        const std::string value = c.value != nullptr ? c.value : "";
        EXPECT_EQ(dst.all(), c.value == nullptr ? std::string(64, '#')
                                                : value + std::string(c.len - value.size(), '\0') +
                                                      std::string(64 - c.len, '#'))
            << c.content;
    }
}

TEST_F(Keys, SetReplacesInsertsOrAppends) {
    const std::string long_line = "k=" + std::string(1500, 'v') + "\n";
    const std::string longest_value(998 - 3, 'v'); // k=...\n is exactly 998 bytes
    expect_edits({
        {"grow", "[net]\nport = 8\n[misc]\n", set("net", "port", "8080"), 0,
         "[net]\nport=8080\n[misc]\n"},
        {"shrink", "[net]\nport = 80800\n[misc]\n", set("net", "port", "1"), 0,
         "[net]\nport=1\n[misc]\n"},
        {"same length", "[a]\nk=12\nz=0\n", set("a", "k", "34"), 0, "[a]\nk=34\nz=0\n"},
        {"new key before the next header", "[a]\nx=1\n\n \t[b]\n", set("a", "y", "2"), 0,
         "[a]\nx=1\n\ny=2\n \t[b]\n"},
        {"new key at the end", "[a]\nx=1\n", set("a", "y", "2"), 0, "[a]\nx=1\ny=2\n"},
        {"new section", "[a]\nx=1\n", set("b", "y", "2"), 0, "[a]\nx=1\n[b]\ny=2\n"},
        {"new file", std::nullopt, set("a", "k", "v"), 0, "[a]\nk=v\n"},
        {"empty file", "", set("a", "k", "v"), 0, "[a]\nk=v\n"},
        {"unterminated key line", "[a]\nk=1", set("a", "k", "22"), 0, "[a]\nk=22\n"},
        {"after unterminated line", "[a]\nx=1", set("a", "y", "2"), 0, "[a]\nx=1\ny=2\n"},
        {"section after unterminated", "[a]\nx=1", set("b", "y", "2"), 0, "[a]\nx=1\n[b]\ny=2\n"},
        {"CRLF line", "[a]\r\nk=1\r\nz=2\r\n", set("a", "k", "5"), 0, "[a]\r\nk=5\nz=2\r\n"},
        {"indented line", "  [a]\n  k = 1\n", set("a", "k", "2"), 0, "  [a]\nk=2\n"},
        {"first of duplicate sections", "[a]\n[b]\n[a]\nk=1\n", set("a", "k", "2"), 0,
         "[a]\nk=2\n[b]\n[a]\nk=1\n"},
        {"line holding a zero byte", "[a]\nk=1\0junk\nz=1\n"s, set("a", "k", "2"), 0,
         "[a]\nk=2\nz=1\n"},
        {"long line replaced whole", "[a]\n" + long_line + "z=1\n", set("a", "k", "1"), 0,
         "[a]\nk=1\nz=1\n"},
        {"longest line", "[a]\nk=1\n", set("a", "k", longest_value.c_str()), 0,
         "[a]\nk=" + longest_value + "\n"},
        {"preamble key replaced", "x=1\n[a]\n", set("*", "x", "9"), 0, "x=9\n[a]\n"},
        {"preamble key added", "x=1\n\t[a]\n", set("*", "y", "2"), 0, "x=1\ny=2\n\t[a]\n"},
        {"preamble of empty file", "", set("*", "y", "2"), 0, "y=2\n"},
        {"preamble without header", "x=1", set("*", "y", "2"), 0, "x=1\ny=2\n"},
    });
}

TEST_F(Keys, DeleteRemovesWholeLinesOrSections) {
    const std::string long_line = "k=" + std::string(1500, 'v') + "\n";
    expect_edits({
        {"only key", "[a]\nk=1\n[b]\n", del("a", "k"), 0, "[a]\n[b]\n"},
        {"wildcard key", "[a]\n;c\nx=1\ny=2\n", del("a", "*"), 0, "[a]\n;c\ny=2\n"},
        {"unterminated last line", "[a]\nk=1", del("a", "k"), 0, "[a]\n"},
        {"long line whole", "[a]\n" + long_line + "z=1\n", del("a", "k"), 0, "[a]\nz=1\n"},
        {"absent key", "[a]\nk=1\n", del("a", "q"), 0, "[a]\nk=1\n"},
        {"absent section", "[a]\nk=1\n", del("b", "k"), 0, "[a]\nk=1\n"},
        {"missing file", std::nullopt, del("a", "k"), INI_EOPEN, std::nullopt},
        {"section with trailing lines", "[a]\nx=1\n; c\n\n[b]\ny=2\n", del_section("a"), 0,
         "[b]\ny=2\n"},
        {"up to an indented header", "[a]\nx=1\n \t[b]\ny=2\n", del_section("a"), 0,
         " \t[b]\ny=2\n"},
        {"last section", "p=1\n[a]\nx=1\n[b]\ny=2\n", del_section("b"), 0, "p=1\n[a]\nx=1\n"},
        {"indented header", "p=1\n \t[a]\nx=1\n[b]\n", del_section("a"), 0, "p=1\n[b]\n"},
        {"wildcard section", "p=1\n\t[a]\nx=1\n[b]\n", del_section("*"), 0, "p=1\n[b]\n"},
        {"wildcard without sections", "p=1\n", del_section("*"), 0, "p=1\n"},
        {"first of duplicates", "[a]\nx=1\n[a]\ny=2\n", del_section("a"), 0, "[a]\ny=2\n"},
        {"absent section", "[a]\nx=1\n", del_section("b"), 0, "[a]\nx=1\n"},
        {"section of missing file", std::nullopt, del_section("a"), INI_EOPEN, std::nullopt},
    });
}

} // namespace
