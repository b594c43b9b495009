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
// A key line that ends exactly at the end of the tiny build's 64-byte
// block, and one that ends where the default build's 16 KB block does.
const std::string to_block_end = "[s]\nk=" + std::string(57, 'v');
const std::string last_line = "z=" + std::string(57, 'v');
const std::string piece(998, 'x'); // a whole piece of a long line
std::string to_16k_end() {
    std::string text = "[s]\n";
    for (int line = 0; line < 255; ++line)
        text += "x=" + std::string(61, 'v') + "\n";
    return text + last_line;
}

// What a scan leaves in the line buffer: the last piece read, trimmed in
// place (leading blanks stay), as a string; `untouched` when it read none
// (the marker bytes up to the zero the scanner puts in the last byte).
constexpr unsigned char marker = 0xAA;
const std::string untouched = "(untouched)";
std::string held(const char *buffer) {
    const std::string text(buffer);
    return text == std::string(INI_LINE_SIZE - 1, static_cast<char>(marker)) ? untouched : text;
}

TEST_F(Parse, LeavesTheStreamAndTheBufferWhereTheCallerEdits) {
    const struct {
        std::string content;
        const char *section, *key;
        int result;
        long offset;     // stream position after the call
        std::string buf; // the buffer afterwards
    } cases[] = {
        {two_sections, "a", "y", INI_SCAN_BOUNDARY, 8, "[b]"}, // next header
        {two_sections, "b", "y", INI_SCAN_LINE, 12, "y=2"},
        {two_sections, "c", "y", INI_SCAN_NONE, 16, "y=2"},     // section absent: at the end
        {two_sections, "b", "z", INI_SCAN_BOUNDARY, 16, "y=2"}, // key absent
        {two_sections, "b", "", INI_SCAN_BOUNDARY, 8, "[b]"},   // empty key: the header itself
        {two_sections, "a", "*", INI_SCAN_LINE, 4, "x=1"},
        {"[b]\n", "b", "z", INI_SCAN_BOUNDARY, 4, "[b]"}, // the end right after the header
        {"[b]", "b", "z", INI_SCAN_BOUNDARY, 3, "[b]"},
        {"[s]\nx=1\n", "s", "q", INI_SCAN_BOUNDARY, 8, "x=1"},
        {"[s]\nx=1", "s", "q", INI_SCAN_BOUNDARY, 7, "x=1"},
        {to_block_end + "\n", "s", "q", INI_SCAN_BOUNDARY, 64, to_block_end.substr(4)},
        {to_block_end, "s", "q", INI_SCAN_BOUNDARY, 63, to_block_end.substr(4)},
        {to_16k_end() + "\n", "s", "q", INI_SCAN_BOUNDARY, 16384, last_line},
        {to_16k_end(), "s", "q", INI_SCAN_BOUNDARY, 16383, last_line},
        {"", "s", "q", INI_SCAN_NONE, 0, untouched},
        {"x=0\n[a]\n", "*", "x", INI_SCAN_LINE, 0, "x=0"}, // the preamble
        {"x=0\n[a]\n", "*", "q", INI_SCAN_BOUNDARY, 4, "[a]"},
        {"y=1\n", "*", "q", INI_SCAN_NONE, 4, "y=1"}, // no header at all
        {"y=1", "*", "q", INI_SCAN_NONE, 3, "y=1"},
        {"[a]\n;c=1\nk=2\n", "a", "*", INI_SCAN_LINE, 4, ";c=1"},
        {"  [a]\n  x = 1 \n", "a", "x", INI_SCAN_LINE, 6, "  x = 1"}, // before the indentation
        {"\t [a]\nx=1\n \t[b]\nx=2\n", "b", "x", INI_SCAN_LINE, 16, "x=2"},
        {"[a]\r\nx=1\r\n", "a", "x", INI_SCAN_LINE, 5, "x=1"},
        {"[a]\nports=1\nport\t=2\n", "a", "port", INI_SCAN_LINE, 12, "port\t=2"},
        {"[a]\nPort=1\nport x=2\n", "a", "port", INI_SCAN_LINE, 11, "port x=2"},
        {"[a]\nport\n", "a", "port", INI_SCAN_BOUNDARY, 9, "port"},      // no '=': no key line
        {"[s]\na=1\n[s]\nb=2\n", "s", "b", INI_SCAN_BOUNDARY, 8, "[s]"}, // the first [s] only
        {"[ net ]\nk=1\n[Net]\nk=2\n[net] ; old\nk=3\n", "net", "k", INI_SCAN_NONE, 38, "k=3"},
        {"[net]  \r\nk=1\n", "net", "k", INI_SCAN_LINE, 9, "k=1"},
        {std::string("\0[a]\nk=1\n[a]\nk=2\n", 17), "a", "k", INI_SCAN_LINE, 13, "k=2"},
        // A later piece of a long line is a line of its own, exactly at the
        // piece boundary: a header, or a key line.
        {"[a]\n" + piece + "[b]\nk=1\n", "b", "k", INI_SCAN_LINE, 1006, "k=1"},
        {"[a]\n" + piece + " \t[b]\nk=1\n", "b", "k", INI_SCAN_LINE, 1008, "k=1"},
        {"[a]\n" + piece + "k=2\n", "a", "k", INI_SCAN_LINE, 1002, "k=2"},
        {"[a]\n" + piece.substr(1) + "[b]\nk=1\n", "b", "k", INI_SCAN_NONE, 1009, "k=1"},
        {"[a]\n" + piece + "[b]\nk=1\n", "a", "k", INI_SCAN_BOUNDARY, 1002, "[b]"},
    };
    for (const auto &c : cases) {
        put(c.content);
        FILE *stream = open_stream("rb");
        Marked<INI_LINE_SIZE> buffer(marker);
        const int result = parse(stream, c.section, c.key, buffer.bytes, INI_LINE_SIZE);
        const std::string where = std::string("[") + c.section + "] " + c.key + " in: " + c.content;
        EXPECT_EQ(result, c.result) << where;
        EXPECT_EQ(std::ftell(stream), c.offset) << where;
        EXPECT_FALSE(std::feof(stream) || std::ferror(stream)) << where;
        EXPECT_EQ(held(buffer.bytes), c.buf) << where;
        std::fclose(stream);
    }
}

struct Step {
    const char *section; // "*" steps on
    int rewind;
    int result;
    long offset;
    std::string buf; // the buffer afterwards
};

TEST_F(Parse, SectionWalkYieldsEachEntryThenTheBoundary) {
    const struct {
        std::string content;
        std::vector<Step> steps;
    } cases[] = {
        {"[a]\n\np\n[b]\n",
         {{"a", 1, INI_SCAN_LINE, 4, "\n"},
          {"*", 0, INI_SCAN_LINE, 5, "\n"},
          {"*", 1, INI_SCAN_LINE, 5, "p"},
          {"*", 0, INI_SCAN_LINE, 7, "p"},
          {"*", 1, INI_SCAN_BOUNDARY, 7, "[b]"},
          {"*", 0, INI_SCAN_BOUNDARY, 11, "[b]"},
          {"*", 0, INI_SCAN_NONE, 11, untouched}}},
        {"[x]\n[a]\n",
         {{"a", 1, INI_SCAN_BOUNDARY, 8, "[a]"}, {"a", 0, INI_SCAN_NONE, 8, untouched}}},
        {"[a]\nx=1\n[b]\n", {{"b", 1, INI_SCAN_BOUNDARY, 12, "[b]"}}},
        {"[b]", {{"b", 1, INI_SCAN_BOUNDARY, 3, "[b]"}, {"b", 0, INI_SCAN_NONE, 3, untouched}}},
        {"k=1\n\t[a]\n",
         {{"*", 1, INI_SCAN_LINE, 0, "k=1"},
          {"*", 0, INI_SCAN_LINE, 4, "k=1"},
          {"*", 0, INI_SCAN_BOUNDARY, 9, "\t[a]"}}},
        {"", {{"*", 1, INI_SCAN_NONE, 0, untouched}}},
        {"[a]\r\n\r\nx=1\r\n",
         {{"a", 0, INI_SCAN_LINE, 7, "\r"},
          {"*", 0, INI_SCAN_LINE, 12, "x=1"},
          {"*", 1, INI_SCAN_NONE, 12, untouched}}},
        {to_block_end,
         {{"s", 0, INI_SCAN_LINE, 63, to_block_end.substr(4)},
          {"*", 1, INI_SCAN_NONE, 63, untouched}}},
        {"[c]\n" + to_block_end,
         {{"s", 1, INI_SCAN_LINE, 8, to_block_end.substr(4)},
          {"c", 1, INI_SCAN_NONE, 67, to_block_end.substr(4)}}},
    };
    for (const auto &c : cases) {
        put(c.content);
        FILE *stream = open_stream("rb");
        for (const auto &step : c.steps) {
            Marked<INI_LINE_SIZE> buffer(marker);
            const int result =
                parse_section(stream, step.section, buffer.bytes, INI_LINE_SIZE, step.rewind);
            const std::string where = c.content + " step " + step.section;
            EXPECT_EQ(result, step.result) << where;
            EXPECT_EQ(std::ftell(stream), step.offset) << where;
            EXPECT_FALSE(std::feof(stream) || std::ferror(stream)) << where;
            EXPECT_EQ(held(buffer.bytes), step.buf) << where;
        }
        std::fclose(stream);
    }
}

} // namespace
