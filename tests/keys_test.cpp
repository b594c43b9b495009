// Key lookup, writing and deletion on real files, compared byte for byte.
#include "helpers.h"

#include <climits>

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
    const std::string block_end = "[s]\nk=" + std::string(58, 'v'),
                      big_end = block_end + std::string(16320, 'v');
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
        // A last line that ends where the tiny build's block or the default
        // one ends, without a line feed.
        {"unterminated at a block's end", block_end, set("s", "n", "1"), 0, block_end + "\nn=1\n"},
        {"unterminated at 16 KB", big_end, set("s", "n", "1"), 0, big_end + "\nn=1\n"},
        {"no = is no key line", "[a]\nport 80\n", set("a", "port", "1"), 0,
         "[a]\nport 80\nport=1\n"},
        {"section after unterminated", "[a]\nx=1", set("b", "y", "2"), 0, "[a]\nx=1\n[b]\ny=2\n"},
        {"CRLF line", "[a]\r\nk=1\r\nz=2\r\n", set("a", "k", "5"), 0, "[a]\r\nk=5\nz=2\r\n"},
        {"indented line", "  [a]\n  k = 1\n", set("a", "k", "2"), 0, "  [a]\nk=2\n"},
        {"first of duplicate sections", "[a]\n[b]\n[a]\nk=1\n", set("a", "k", "2"), 0,
         "[a]\nk=2\n[b]\n[a]\nk=1\n"},
        {"line holding a zero byte", "[a]\nk=1\0junk\nz=1\n"s, set("a", "k", "2"), 0,
         "[a]\nk=2\nz=1\n"},
        {"long line replaced whole", "[a]\n" + long_line + "z=1\n", set("a", "k", "1"), 0,
         "[a]\nk=1\nz=1\n"},
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

// Every writer at its longest text and one byte over: the longest is
// written; one byte more is refused, the file left as it was, and a
// missing file not made.
TEST_F(Keys, WritersAtTheirLimitAndOneByteOver) {
    using S = const std::string &;
    const std::string lowest = std::to_string(LONG_MIN);
    const struct {
        const char *name;
        std::size_t longest; // of the text that varies
        std::function<int(const char *, S)> call;
        std::function<std::string(S)> written;
    } cases[] = {
        {"value", 995, [](auto p, S t) { return ini_setkey(p, "s", "k", t.c_str()); },
         [](S t) { return "k=" + t + "\n"; }},
        {"quoted value", 993, [](auto p, S t) { return ini_setkey_string(p, "s", "k", t.c_str()); },
         [](S t) { return "k=\"" + t + "\"\n"; }},
        {"key of a number", 996 - lowest.size(),
         [](auto p, S t) { return ini_setkey_long(p, "s", t.c_str(), LONG_MIN); },
         [&](S t) { return t + "=" + lowest + "\n"; }},
        {"entry", 997, [](auto p, S t) { return ini_setsection_string(p, "s", t.c_str()); },
         [](S t) { return t + "\n"; }},
        {"new section of a key", 991,
         [](auto p, S t) { return ini_setkey(p, t.c_str(), "k", "v"); },
         [](S t) { return "[" + t + "]\nk=v\n"; }},
        {"new section of an entry", 993,
         [](auto p, S t) { return ini_setsection_string(p, t.c_str(), "e"); },
         [](S t) { return "[" + t + "]\ne\n"; }},
    };
    for (const auto &c : cases) {
        const std::string longest(c.longest, 'x'), over(c.longest + 1, 'x');
        put("[s]\n");
        EXPECT_EQ(c.call(path.c_str(), longest), INI_OK) << c.name;
        EXPECT_EQ(contents(), "[s]\n" + c.written(longest)) << c.name;
        put("[s]\n");
        EXPECT_EQ(c.call(path.c_str(), over), INI_EINVAL) << c.name;
        EXPECT_EQ(contents(), "[s]\n") << c.name;
        std::filesystem::remove(path);
        EXPECT_EQ(c.call(path.c_str(), over), INI_EINVAL) << c.name;
        EXPECT_FALSE(exists(path)) << c.name;
    }
}

} // namespace
