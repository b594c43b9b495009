// The line rules and the two scanners: results, the stream position they
// leave and what the line buffer holds.
#include "helpers.h"
#include "iniplace.h"

#include <cstring>
#include <vector>

namespace {

struct TrimCase {
    const char *input;
    const char *trimmed;
    const char *buffer_after; // the whole buffer after trimming, to its first zero
};

TEST(TrimString, FollowsTheOneWhitespaceRule) {
    const TrimCase cases[] = {
        {"", "", ""},
        {"x", "x", "x"},
        {"\n", "\n", "\n"},   // a blank line keeps one byte
        {"\r\n", "\r", "\r"}, // a CRLF blank line keeps its carriage return
        {" ", "", " "},       // nothing overwritten, the empty rest returned
        {"\t", "", "\t"},
        {"\t a b \n", "a b", "\t a b"},
        {"  x  \r\n", "x", "  x"},
        {"[net]\t\r\n", "[net]", "[net]"},
    };
    for (const auto &c : cases) {
        char buffer[32];
        std::strcpy(buffer, c.input);
        EXPECT_STREQ(trim_string(buffer), c.trimmed) << "input: '" << c.input << "'";
        EXPECT_STREQ(buffer, c.buffer_after) << "input: '" << c.input << "'";
    }
    EXPECT_EQ(trim_string(nullptr), nullptr);
}

struct ParseCase {
    const char *content;
    const char *section;
    const char *key;
    int result;
    long offset;      // stream position after the call
    const char *line; // trimmed buffer for a found key
};

const char *const two_sections = "[a]\nx=1\n[b]\ny=2\n";

class Parse : public FileTest {};

TEST_F(Parse, LeavesTheStreamWhereTheCallerEdits) {
    const ParseCase cases[] = {
        {two_sections, "a", "y", 1, 8, nullptr}, // next header
        {two_sections, "b", "y", 2, 12, "y=2"},
        {two_sections, "c", "y", 0, 16, nullptr}, // section absent: at the end
        {two_sections, "b", "z", 1, 16, nullptr}, // section found, key absent
        {two_sections, "b", "", 1, 8, nullptr},   // empty key: the header itself
        {two_sections, "a", "*", 2, 4, "x=1"},
        {"x=0\n[a]\n", "*", "x", 2, 0, "x=0"}, // the preamble
        {"x=0\n[a]\n", "*", "q", 1, 4, nullptr},
        {"x=0\n", "*", "q", 0, 4, nullptr},            // no header at all
        {"[a]\nk=0\n", "*", "k", 1, 0, nullptr},       // named-section keys are not preamble
        {"[a]\n;c=1\nk=2\n", "a", "*", 2, 4, ";c=1"},  // wildcard key: any line with '='
        {"  [a]\n  x = 1\n", "a", "x", 2, 6, "x = 1"}, // indentation stays before the position
        {"[a]\r\nx=1\r\n", "a", "x", 2, 5, "x=1"},
        {"[a]\nports=1\nport\t=2\n", "a", "port", 2, 12, "port\t=2"},
        {"[a]\nPort=1\nport x=2\n", "a", "port", 2, 11, "port x=2"},
        {"[a]\nport\n", "a", "port", 1, 9, nullptr},       // no '=': not a key line
        {"[s]\na=1\n[s]\nb=2\n", "s", "b", 1, 8, nullptr}, // only the first [s] counts
        {"[ net ]\nk=1\n[Net]\nk=2\n[net] ; old\nk=3\n", "net", "k", 0, 38, nullptr},
        {"[net]  \r\nk=1\n", "net", "k", 2, 9, "k=1"},
        {"[a]\n=1\n", "a", "", 1, 0, nullptr}, // an empty key is never found
    };
    for (const auto &c : cases) {
        put(c.content);
        FILE *stream = std::fopen(path.c_str(), "rb");
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

TEST_F(Parse, RejectsWhatItCannotUse) {
    put(two_sections);
    FILE *stream = std::fopen(path.c_str(), "rb");
    char buffer[INI_LINE_SIZE];
    EXPECT_EQ(parse(nullptr, "a", "x", buffer, 10), 0);
    EXPECT_EQ(parse(stream, nullptr, "x", buffer, 10), 0);
    EXPECT_EQ(parse(stream, "a", "x", nullptr, 10), 0);
    EXPECT_EQ(parse(stream, "a", "x", buffer, 2), 0);
    EXPECT_EQ(parse_section(stream, "a", buffer, 2, 0), 0);
    EXPECT_EQ(std::ftell(stream), 0);
    std::fclose(stream);
}

struct Step {
    const char *section; // "*" steps on
    int rewind;
    int result;
    long offset;
    const char *entry;
};

struct WalkCase {
    const char *content;
    std::vector<Step> steps;
};

TEST_F(Parse, SectionWalkYieldsEachEntryThenTheBoundary) {
    const WalkCase cases[] = {
        {"[a]\n\np\n[b]\n", {{"a", 0, 2, 5, "\n"}, {"*", 0, 2, 7, "p"}, {"*", 0, 1, 11, nullptr}}},
        {"[a]\n\np\n[b]\n",
         {{"a", 1, 2, 4, "\n"},
          {"*", 0, 2, 5, "\n"},
          {"*", 1, 2, 5, "p"},
          {"*", 0, 2, 7, "p"},
          {"*", 1, 1, 7, nullptr}}},
        {"[x]\n[a]\n", {{"a", 1, 1, 8, nullptr}, {"a", 0, 0, 8, nullptr}}}, // header last
        {"[a]\n", {{"a", 0, 1, 4, nullptr}}},
        {"k=1\n[a]\n", {{"*", 1, 2, 0, "k=1"}, {"*", 0, 2, 4, "k=1"}, {"*", 0, 1, 8, nullptr}}},
        {"", {{"*", 1, 0, 0, nullptr}}},
        {"[a]\n", {{"b", 1, 0, 4, nullptr}}},
        {"[a]\r\n\r\nx=1\r\n", {{"a", 0, 2, 7, "\r"}, {"*", 0, 2, 12, "x=1"}}},
        {"[h]\nalpha\n[h]\nbeta\n", {{"h", 0, 2, 10, "alpha"}, {"*", 0, 1, 14, nullptr}}},
    };
    for (const auto &c : cases) {
        put(c.content);
        FILE *stream = std::fopen(path.c_str(), "rb");
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

TEST_F(Parse, LongLinesAreReadInPiecesOf998Bytes) {
    for (const std::size_t length : {997u, 998u, 2000u}) {
        const std::string body(length, 'v');
        put("[a]\n" + body + "\n[b]\n");
        FILE *stream = std::fopen(path.c_str(), "rb");
        char buffer[INI_LINE_SIZE];
        std::vector<std::size_t> pieces;
        for (int result = parse_section(stream, "a", buffer, sizeof buffer, 0); result == 2;
             result = parse_section(stream, "*", buffer, sizeof buffer, 0))
            pieces.push_back(std::strlen(buffer));
        std::fclose(stream);
        // A blank rest of a line is an entry of its own, a lone line feed.
        const std::vector<std::size_t> expected = length == 997 ? std::vector<std::size_t>{997}
                                                  : length == 998
                                                      ? std::vector<std::size_t>{998, 1}
                                                      : std::vector<std::size_t>{998, 998, 4};
        EXPECT_EQ(pieces, expected) << length;
    }
}

TEST_F(Parse, ALongLineKeyYieldsTheValueOfItsFirstPiece) {
    put("[a]\nk=" + std::string(1200, 'v') + "\n");
    char value[INI_LINE_SIZE];
    EXPECT_EQ(ini_getkey(path.c_str(), "a", "k", value, sizeof value), INI_OK);
    EXPECT_EQ(std::string(value), std::string(996, 'v'));
}

} // namespace
