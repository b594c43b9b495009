// The line rules and the two scanners: results, the stream position they
// leave and what the line buffer holds; pieces of long lines.
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

class Parse : public FileTest {};

const char *const two_sections = "[a]\nx=1\n[b]\ny=2\n";

TEST_F(Parse, LeavesTheStreamWhereTheCallerEdits) {
    const struct {
        const char *content, *section, *key;
        int result;
        long offset;      // stream position after the call
        const char *line; // trimmed buffer for a found key
    } cases[] = {
        {two_sections, "a", "y", INI_SCAN_BOUNDARY, 8, nullptr}, // next header
        {two_sections, "b", "y", INI_SCAN_LINE, 12, "y=2"},
        {two_sections, "c", "y", INI_SCAN_NONE, 16, nullptr},     // section absent: at the end
        {two_sections, "b", "z", INI_SCAN_BOUNDARY, 16, nullptr}, // key absent
        {two_sections, "b", "", INI_SCAN_BOUNDARY, 8, nullptr},   // empty key: the header itself
        {two_sections, "a", "*", INI_SCAN_LINE, 4, "x=1"},
        {"x=0\n[a]\n", "*", "x", INI_SCAN_LINE, 0, "x=0"}, // the preamble
        {"x=0\n[a]\n", "*", "q", INI_SCAN_BOUNDARY, 4, nullptr},
        {"x=0\n", "*", "q", INI_SCAN_NONE, 4, nullptr}, // no header at all
        {"[a]\n;c=1\nk=2\n", "a", "*", INI_SCAN_LINE, 4, ";c=1"},
        {"  [a]\n  x = 1\n", "a", "x", INI_SCAN_LINE, 6, "x = 1"}, // before the indentation
        {"\t [a]\nx=1\n \t[b]\nx=2\n", "b", "x", INI_SCAN_LINE, 16, "x=2"},
        {"[a]\r\nx=1\r\n", "a", "x", INI_SCAN_LINE, 5, "x=1"},
        {"[a]\nports=1\nport\t=2\n", "a", "port", INI_SCAN_LINE, 12, "port\t=2"},
        {"[a]\nPort=1\nport x=2\n", "a", "port", INI_SCAN_LINE, 11, "port x=2"},
        {"[a]\nport\n", "a", "port", INI_SCAN_BOUNDARY, 9, nullptr},       // no '=': no key line
        {"[s]\na=1\n[s]\nb=2\n", "s", "b", INI_SCAN_BOUNDARY, 8, nullptr}, // the first [s] only
        {"[ net ]\nk=1\n[Net]\nk=2\n[net] ; old\nk=3\n", "net", "k", INI_SCAN_NONE, 38, nullptr},
        {"[net]  \r\nk=1\n", "net", "k", INI_SCAN_LINE, 9, "k=1"},
        {"\0[a]\nk=1\n[a]\nk=2\n", "a", "k", INI_SCAN_LINE, 13, "k=2"}, // a zero ends a line
    };
    for (const auto &c : cases) {
        put(std::string(c.content, c.content[0] == '\0' ? 17 : std::strlen(c.content)));
        FILE *stream = open_stream("rb");
        char buffer[INI_LINE_SIZE];
        const int result = parse(stream, c.section, c.key, buffer, sizeof buffer);
        const std::string where = std::string("[") + c.section + "] " + c.key + " in: " + c.content;
        EXPECT_EQ(result, c.result) << where;
        EXPECT_EQ(std::ftell(stream), c.offset) << where;
        EXPECT_FALSE(std::feof(stream) || std::ferror(stream)) << where;
        if (c.line != nullptr)
            EXPECT_STREQ(trim_string(buffer), c.line) << where;
        std::fclose(stream);
    }
}

struct Step {
    const char *section; // "*" steps on
    int rewind;
    int result;
    long offset;
    const char *entry;
};

TEST_F(Parse, SectionWalkYieldsEachEntryThenTheBoundary) {
    const struct {
        const char *content;
        std::vector<Step> steps;
    } cases[] = {
        {"[a]\n\np\n[b]\n",
         {{"a", 1, INI_SCAN_LINE, 4, "\n"},
          {"*", 0, INI_SCAN_LINE, 5, "\n"},
          {"*", 1, INI_SCAN_LINE, 5, "p"},
          {"*", 0, INI_SCAN_LINE, 7, "p"},
          {"*", 1, INI_SCAN_BOUNDARY, 7, nullptr}}},
        {"[x]\n[a]\n", {{"a", 1, INI_SCAN_BOUNDARY, 8, nullptr}, {"a", 0, INI_SCAN_NONE, 8}}},
        {"k=1\n\t[a]\n",
         {{"*", 1, INI_SCAN_LINE, 0, "k=1"},
          {"*", 0, INI_SCAN_LINE, 4, "k=1"},
          {"*", 0, INI_SCAN_BOUNDARY, 9, "[a]"}}},
        {"", {{"*", 1, INI_SCAN_NONE, 0, nullptr}}},
        {"[a]\r\n\r\nx=1\r\n",
         {{"a", 0, INI_SCAN_LINE, 7, "\r"}, {"*", 0, INI_SCAN_LINE, 12, "x=1"}}},
    };
    for (const auto &c : cases) {
        put(c.content);
        FILE *stream = open_stream("rb");
        for (const auto &step : c.steps) {
            char buffer[INI_LINE_SIZE];
            const int result =
                parse_section(stream, step.section, buffer, sizeof buffer, step.rewind);
            const std::string where = std::string(c.content) + " step " + step.section;
            EXPECT_EQ(result, step.result) << where;
            EXPECT_EQ(std::ftell(stream), step.offset) << where;
            if (step.entry != nullptr)
                EXPECT_STREQ(trim_string(buffer), step.entry) << where;
        }
        std::fclose(stream);
    }
}

// A physical line is read in pieces of 998 bytes, each a line of its own;
// an edit replaces or removes the whole physical line.
TEST_F(Parse, LongLinesAreReadInPiecesAndEditedWhole) {
    const struct {
        std::size_t length; // of the key line `k=vvv...` before its line end
        const char *end;
        std::vector<std::size_t> pieces; // trimmed lengths seen by a walk
    } cases[] = {
        {997, "\n", {997}},          {997, "\r\n", {997, 1}},       {998, "\n", {998, 1}},
        {998, "\r\n", {998, 1}},     {999, "\n", {998, 1}},         {999, "\r\n", {998, 1}},
        {1996, "\n", {998, 998, 1}}, {1996, "\r\n", {998, 998, 1}}, {1997, "\n", {998, 998, 1}},
    };
    for (const auto &c : cases) {
        const std::string line = "k=" + std::string(c.length - 2, 'v') + c.end;
        put("[a]\n" + line + "z=1\n");
        FILE *stream = open_stream("rb");
        char buffer[INI_LINE_SIZE];
        std::vector<std::size_t> pieces;
        for (int result = parse_section(stream, "a", buffer, sizeof buffer, 0);
             result == INI_SCAN_LINE; result = parse_section(stream, "*", buffer, sizeof buffer, 0))
            pieces.push_back(std::strlen(trim_string(buffer)));
        std::fclose(stream);
        pieces.pop_back(); // z=1
        EXPECT_EQ(pieces, c.pieces) << c.length << " " << c.end;

        EXPECT_EQ(ini_getkey(path.c_str(), "a", "k", buffer, sizeof buffer), INI_OK);
        EXPECT_EQ(std::strlen(buffer), std::min<std::size_t>(c.length, 998) - 2) << c.length;
        EXPECT_EQ(ini_setkey(path.c_str(), "a", "k", "1"), INI_OK);
        EXPECT_EQ(contents(), "[a]\nk=1\nz=1\n") << c.length << " " << c.end;
    }
}

// A later piece of a long line starts a line: it can be a header or a key
// line, but only exactly at the piece boundary.
TEST_F(Parse, ALaterPieceIsALineOfItsOwn) {
    const std::string piece(998, 'x');
    const struct {
        std::string content;
        const char *section;
        int status;
        const char *value;
    } cases[] = {
        {"[a]\n" + piece + "[b]\nk=1\n", "b", INI_OK, "1"},
        {"[a]\n" + piece + " \t[b]\nk=1\n", "b", INI_OK, "1"},
        {"[a]\n" + piece + "k=2\n", "a", INI_OK, "2"},
        {"[a]\n" + piece.substr(1) + "[b]\nk=1\n", "b", INI_NOT_FOUND, nullptr},
        {"[a]\n" + piece + "[b]\nk=1\n", "a", INI_NOT_FOUND, nullptr},
    };
    for (const auto &c : cases) {
        put(c.content);
        Marked<8> value;
        EXPECT_EQ(ini_getkey(path.c_str(), c.section, "k", value.bytes, 8), c.status) << c.content;
        if (c.value != nullptr)
            EXPECT_EQ(value.text(), c.value) << c.content;
    }
}

} // namespace
