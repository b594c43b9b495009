// Sections as entry lists: lookup by mode, adding and removing entries.
#include "helpers.h"

namespace {

const char *const hosts = "[hosts]\nalpha\nbeta\ngamma\n[other]\nx=1\n";

class Entries : public FileTest {};

TEST_F(Entries, LookupSelectsByMode) {
    const struct {
        const char *content, *section, *ref;
        int mode, len, status;
        const char *entry; // dst as a string afterwards
    } cases[] = {
        {hosts, "hosts", nullptr, INI_ENTRY_FIRST, 32, INI_OK, "alpha"},
        {hosts, "hosts", "beta", INI_ENTRY_MATCH, 32, INI_OK, "beta"},
        {hosts, "hosts", "delta", INI_ENTRY_MATCH, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", "alpha", INI_ENTRY_NEXT, 32, INI_OK, "beta"},
        {hosts, "hosts", "gamma", INI_ENTRY_NEXT, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", "beta", INI_ENTRY_PREV, 32, INI_OK, "alpha"},
        {hosts, "hosts", "alpha", INI_ENTRY_PREV, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", "delta", INI_ENTRY_PREV, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", " \tbeta  ", INI_ENTRY_MATCH, 32, INI_OK, "beta"},
        {hosts, "hosts", "Beta", INI_ENTRY_MATCH, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", "beta", 4, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", "beta", -1, 32, INI_NOT_FOUND, ""},
        {hosts, "hosts", "beta", INI_ENTRY_PREV, 1, INI_NOT_FOUND, ""}, // the candidate is empty
        {hosts, "hosts", "alpha", INI_ENTRY_NEXT, 1, INI_OK, ""},
        {hosts, "hosts", nullptr, INI_ENTRY_FIRST, 4, INI_OK, "alp"},
        {hosts, "other", nullptr, INI_ENTRY_FIRST, 32, INI_OK, "x=1"}, // key lines are entries
        {hosts, "misc", nullptr, INI_ENTRY_FIRST, 32, INI_NOT_FOUND, ""},
        {"[e]\n[f]\nz\n", "e", nullptr, INI_ENTRY_FIRST, 32, INI_NOT_FOUND, ""},
        {"[a]\ne1\n \t[b]\ne2\n", "a", "e1", INI_ENTRY_NEXT, 32, INI_NOT_FOUND, ""},
        {"[a]\n\nx\n", "a", nullptr, INI_ENTRY_FIRST, 32, INI_OK, "\n"}, // a blank line is one
        {"[a]\r\n\r\nx\r\n", "a", nullptr, INI_ENTRY_FIRST, 32, INI_OK, "\r"},
        {"[a]\r\nx\r\ny\r\n", "a", "x", INI_ENTRY_NEXT, 32, INI_OK, "y"},
        {"[a]\nx\ny\nx\nz\n", "a", "x", INI_ENTRY_NEXT, 32, INI_OK, "y"}, // after the first x
    };
    for (const auto &c : cases) {
        put(c.content);
        Marked<32> dst;
        const std::string where = std::string(c.section) + " " + (c.ref ? c.ref : "-");
        EXPECT_EQ(ini_getsection(path.c_str(), c.section, c.ref, c.mode, dst.bytes, c.len),
                  c.status)
            << where;
        EXPECT_EQ(dst.text(), c.entry) << where;
    }
}

TEST_F(Entries, AddAndRemoveEditWholeLines) {
    // A long line matches by its first piece and is removed whole.
    const std::string first_piece(998, 'e');
    const std::string with_long = "[a]\n" + first_piece + "eeee\nz\n";
    expect_edits({
        {"add at the end of the section", hosts, add("hosts", "gamma2"), 0,
         "[hosts]\nalpha\nbeta\ngamma\ngamma2\n[other]\nx=1\n"},
        {"present", hosts, add("hosts", "beta"), 0, hosts},
        {"present after trimming", hosts, add("hosts", "  beta"), 0, hosts},
        {"written as given", hosts, add("hosts", "  delta"), 0,
         "[hosts]\nalpha\nbeta\ngamma\n  delta\n[other]\nx=1\n"},
        {"last section", hosts, add("other", "y"), 0, std::string(hosts) + "y\n"},
        {"new section", hosts, add("misc", "z"), 0, std::string(hosts) + "[misc]\nz\n"},
        {"new file", std::nullopt, add("s", "e"), 0, "[s]\ne\n"},
        {"header as last line", "[a]\n", add("a", "e"), 0, "[a]\ne\n"},
        {"after trailing blank lines", "[a]\nx\n\n\t[b]\n", add("a", "y"), 0,
         "[a]\nx\n\ny\n\t[b]\n"},
        {"after unterminated line", "[a]\nx", add("a", "y"), 0, "[a]\nx\ny\n"},
        {"preamble", "p\n [a]\n", add("*", "q"), 0, "p\nq\n [a]\n"},
        {"preamble of empty file", "", add("*", "q"), 0, "q\n"},
        {"CRLF present", "[a]\r\nx\r\n", add("a", "x"), 0, "[a]\r\nx\r\n"},
        // A blank entry that is not empty reads back as its carriage return.
        {"lone carriage return", hosts, add("other", "\r"), 0, std::string(hosts) + "\r\n"},
        {"blanks and a carriage return", "[a]\nx\n[b]\n", add("a", " \r"), 0, "[a]\nx\n \r\n[b]\n"},
        {"found as a CRLF blank line", "[a]\r\n\r\n", add("a", " \r"), 0, "[a]\r\n\r\n"},
        {"empty: nothing created", std::nullopt, add("a", ""), INI_EINVAL, std::nullopt},
        {"remove", hosts, drop("hosts", "alpha"), 0, "[hosts]\nbeta\ngamma\n[other]\nx=1\n"},
        {"remove absent", hosts, drop("hosts", "delta"), 0, hosts},
        {"remove behind an indented header", "[a]\nx\n \t[b]\ny\n", drop("a", "y"), 0,
         "[a]\nx\n \t[b]\ny\n"},
        {"remove from absent section", hosts, drop("misc", "alpha"), 0, hosts},
        {"remove key line", hosts, drop("other", "x=1"), 0,
         "[hosts]\nalpha\nbeta\ngamma\n[other]\n"},
        {"remove first of equals", "[a]\nx\ny\nx\n", drop("a", " x "), 0, "[a]\ny\nx\n"},
        {"remove CRLF line", "[a]\r\nx\r\ny\r\n", drop("a", "x"), 0, "[a]\r\ny\r\n"},
        {"remove CRLF blank line", "[a]\r\nx\r\n\r\ny\r\n", drop("a", "\r"), 0,
         "[a]\r\nx\r\ny\r\n"},
        {"remove long line whole", with_long, drop("a", first_piece.c_str()), 0, "[a]\nz\n"},
        {"remove from missing file", std::nullopt, drop("a", "x"), INI_EOPEN, std::nullopt},
    });
}

} // namespace
