// Sections as entry lists: lookup by mode, adding and removing entries.
#include "helpers.h"
#include "iniplace.h"

namespace {

const char *const hosts = "[hosts]\nalpha\nbeta\ngamma\n[other]\nx=1\n";

struct LookupCase {
    const char *content;
    const char *section;
    const char *ref;
    int mode;
    int len;
    int status;
    const char *entry; // dst as a string afterwards; null: untouched
};

class Entries : public FileTest {};

TEST_F(Entries, LookupSelectsByMode) {
    const LookupCase cases[] = {
        {hosts, "hosts", nullptr, 0, 32, 0, "alpha"},
        {hosts, "hosts", "beta", 1, 32, 0, "beta"},
        {hosts, "hosts", "delta", 1, 32, 1, ""},
        {hosts, "hosts", "alpha", 2, 32, 0, "beta"},
        {hosts, "hosts", "gamma", 2, 32, 1, ""},
        {hosts, "hosts", "beta", 3, 32, 0, "alpha"},
        {hosts, "hosts", "alpha", 3, 32, 1, ""},
        {hosts, "hosts", "delta", 3, 32, 1, ""},
        {hosts, "hosts", " \tbeta  ", 1, 32, 0, "beta"},
        {hosts, "hosts", "Beta", 1, 32, 1, ""},
        {hosts, "hosts", "beta", 4, 32, 1, ""},
        {hosts, "hosts", "beta", -1, 32, 1, ""},
        {hosts, "hosts", "beta", 3, 1, 1, ""}, // len 1: the candidate is always empty
        {hosts, "hosts", nullptr, 0, 1, 0, ""},
        {hosts, "hosts", "beta", 1, 1, 0, ""},
        {hosts, "hosts", "alpha", 2, 1, 0, ""},
        {hosts, "hosts", nullptr, 0, 4, 0, "alp"},
        {hosts, "other", nullptr, 0, 32, 0, "x=1"}, // key lines are entries
        {hosts, "misc", nullptr, 0, 32, 1, ""},
        {"[e]\n[f]\nz\n", "e", nullptr, 0, 32, 1, ""},
        {"[f]\nz\n[e]\n", "e", "z", 1, 32, 1, ""},
        {"[a]\n\nx\n", "a", nullptr, 0, 32, 0, "\n"}, // a blank line is an entry
        {"[a]\r\n\r\nx\r\n", "a", nullptr, 0, 32, 0, "\r"},
        {"[a]\r\nx\r\ny\r\n", "a", "x", 2, 32, 0, "y"},
        {hosts, "*", nullptr, 0, 32, INI_ESECTION, nullptr},
        {hosts, nullptr, nullptr, 0, 32, INI_ESECTION, nullptr},
        {hosts, "hosts", nullptr, 1, 32, INI_EINVAL, nullptr}, // null ref to compare with
    };
    for (const auto &c : cases) {
        put(c.content);
        Marked<32> dst;
        const std::string where = std::string(c.section ? c.section : "null") + " mode " +
                                  std::to_string(c.mode) + " ref " + (c.ref ? c.ref : "null");
        EXPECT_EQ(ini_getsection(path.c_str(), c.section, c.ref, c.mode, dst.bytes, c.len),
                  c.status)
            << where;
        if (c.entry == nullptr)
            EXPECT_TRUE(dst.untouched()) << where;
        else
            EXPECT_EQ(dst.text(), c.entry) << where;
    }
}

TEST_F(Entries, LookupChecksArgumentsBeforeTheFile) {
    const std::string missing = dir + "/missing";
    Marked<8> dst;
    EXPECT_EQ(ini_getsection(missing.c_str(), "*", nullptr, 0, dst.bytes, 8), INI_ESECTION);
    EXPECT_EQ(ini_getsection(missing.c_str(), "a", nullptr, 0, nullptr, 8), INI_EDEST);
    EXPECT_EQ(ini_getsection(missing.c_str(), "a", nullptr, 0, dst.bytes, 0), INI_EDEST);
    EXPECT_TRUE(dst.untouched());
    EXPECT_EQ(ini_getsection(missing.c_str(), "a", nullptr, 0, dst.bytes, 8), INI_EOPEN);
    EXPECT_EQ(dst.bytes[0], '\0');
}

TEST_F(Entries, StringLookupFallsBackToTheDefault) {
    put(hosts);
    Marked<8> dst;
    EXPECT_EQ(ini_getsection_string(path.c_str(), "hosts", "alpha", 2, dst.bytes, 8, "d"), 0);
    EXPECT_EQ(std::string(dst.bytes, 8), std::string("beta\0\0\0\0", 8));
    EXPECT_EQ(ini_getsection_string(path.c_str(), "hosts", "gamma", 2, dst.bytes, 8, "none"), 1);
    EXPECT_EQ(dst.text(), "none");
    EXPECT_EQ(ini_getsection_string(path.c_str(), "*", nullptr, 0, dst.bytes, 8, "bad"),
              INI_ESECTION);
    EXPECT_EQ(dst.text(), "bad");
    dst.fill();
    EXPECT_EQ(ini_getsection_string(path.c_str(), "hosts", nullptr, 0, dst.bytes, 5, nullptr), 0);
    EXPECT_EQ(std::string(dst.bytes, 6), "alpha#"); // not terminated when it fills len
    dst.fill();
    EXPECT_EQ(
        ini_getsection_string((dir + "/none").c_str(), "hosts", nullptr, 0, dst.bytes, 8, nullptr),
        INI_EOPEN);
    EXPECT_TRUE(dst.untouched());
    EXPECT_EQ(ini_getsection_string(path.c_str(), "hosts", nullptr, 0, nullptr, 8, "d"),
              INI_EINVAL);
}

Call add(const char *section, const char *entry) {
    return [=](const char *p) { return ini_setsection_string(p, section, entry); };
}
Call remove(const char *section, const char *entry) {
    return [=](const char *p) { return ini_delsection_string(p, section, entry); };
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
        {"after trailing blank lines", "[a]\nx\n\n[b]\n", add("a", "y"), 0, "[a]\nx\n\ny\n[b]\n"},
        {"after unterminated line", "[a]\nx", add("a", "y"), 0, "[a]\nx\ny\n"},
        {"preamble", "p\n[a]\n", add("*", "q"), 0, "p\nq\n[a]\n"},
        {"preamble of empty file", "", add("*", "q"), 0, "q\n"},
        {"CRLF present", "[a]\r\nx\r\n", add("a", "x"), 0, "[a]\r\nx\r\n"},
        {"remove", hosts, remove("hosts", "alpha"), 0, "[hosts]\nbeta\ngamma\n[other]\nx=1\n"},
        {"remove absent", hosts, remove("hosts", "delta"), 0, hosts},
        {"remove from absent section", hosts, remove("misc", "alpha"), 0, hosts},
        {"remove key line", hosts, remove("other", "x=1"), 0,
         "[hosts]\nalpha\nbeta\ngamma\n[other]\n"},
        {"remove first of equals", "[a]\nx\ny\nx\n", remove("a", " x "), 0, "[a]\ny\nx\n"},
        {"remove CRLF line", "[a]\r\nx\r\ny\r\n", remove("a", "x"), 0, "[a]\r\ny\r\n"},
        {"remove long line whole", with_long, remove("a", first_piece.c_str()), 0, "[a]\nz\n"},
        {"remove from missing file", std::nullopt, remove("a", "x"), INI_EOPEN, std::nullopt},
    });
}

TEST_F(Entries, RejectedEntriesTouchNothing) {
    const std::string too_long(998, 'e'); // with its line feed 999 bytes
    const std::pair<const char *, Call> rejected[] = {
        {"null entry", add("hosts", nullptr)},
        {"null section", add(nullptr, "e")},
        {"empty entry", add("hosts", "")},
        {"blank entry", add("hosts", " \t ")},
        {"header-like entry", add("hosts", "  [x]")},
        {"entry with line feed", add("hosts", "a\nb")},
        {"section with line feed", add("a\nb", "e")},
        {"entry too long", add("hosts", too_long.c_str())},
        {"remove null entry", remove("hosts", nullptr)},
        {"remove null section", remove(nullptr, "alpha")},
    };
    std::vector<EditCase> cases;
    for (const auto &[name, call] : rejected) {
        cases.push_back({name, hosts, call, INI_EINVAL, hosts});
        cases.push_back({name, std::nullopt, call, INI_EINVAL, std::nullopt});
    }
    expect_edits(cases);
}

} // namespace
