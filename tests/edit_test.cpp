// Byte insertion and removal on an open stream: content, status and the
// position left, for tails shorter than, equal to and longer than a block.
#include "helpers.h"

#include <climits>

namespace {

// Bytes that differ from their neighbours, so a misplaced block shows.
std::string pattern(std::size_t length, char seed) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>('!' + (seed + i * 7) % 90);
    return bytes;
}

class Edit : public FileTest {
  protected:
    // Runs `edit` on the file holding `content`, opened with `mode` and
    // positioned at `at`.
    void run(const std::string &content, long at, const std::function<int(FILE *)> &edit,
             const char *mode = "r+b") {
        put(content);
        FILE *stream = open_stream(mode);
        ASSERT_EQ(std::fseek(stream, at, SEEK_SET), 0);
        status = edit(stream);
        position = std::ftell(stream);
        std::fclose(stream);
    }
    int status = 0;
    long position = 0;
};

// Inserting 1, 1000 or 2600 bytes (0 stands for cutting 10) in front of
// tails shorter than, as long as and longer than a block.
TEST_F(Edit, InsertOrCutMovesTheTailInBlocks) {
    for (const std::size_t tail_length : {0u, 1u, 999u, 1000u, 1001u, 2500u}) {
        for (const std::size_t length : {0u, 1u, 1000u, 2600u}) {
            const std::string head = pattern(10, 'h'), tail = pattern(tail_length, 't');
            const std::string data = length > 0 ? pattern(length, 'd') : "";
            run(head + (length > 0 ? "" : pattern(10, 'c')) + tail, 10, [&](FILE *stream) {
                return length > 0 ? file_ins(stream, static_cast<long>(length), data.data())
                                  : file_cut(stream, 10);
            });
            const std::string where = std::to_string(length) + ", " + std::to_string(tail_length);
            EXPECT_EQ(status, 0) << where;
            EXPECT_EQ(contents(), head + data + tail) << where;
            // After the insertion; after a cut, at the end (where the last
            // block moved ends, or the old end when nothing moved).
            const std::size_t cut_end = tail_length == 0 ? 20 : 10 + tail_length;
            EXPECT_EQ(position, static_cast<long>(length > 0 ? 10 + length : cut_end)) << where;
        }
    }
}

TEST_F(Edit, BoundariesAndRejections) {
    const struct {
        const char *name;
        std::function<int(FILE *)> edit;
        long at;
        int status;
        const char *after;
        long position;
        const char *mode;
    } cases[] = {
        {"cut beyond the end", [](FILE *s) { return file_cut(s, 100); }, 3, 0, "abc", 10},
        {"cut to LONG_MAX", [](FILE *s) { return file_cut(s, LONG_MAX); }, 4, 0, "abcd", 10},
        {"cut nothing", [](FILE *s) { return file_cut(s, 0); }, 3, 0, "abcdefghij", 3},
        {"cut one byte", [](FILE *s) { return file_cut(s, 1); }, 3, 0, "abcefghij", 9},
        {"cut at the end", [](FILE *s) { return file_cut(s, 5); }, 10, 0, "abcdefghij", 10},
        {"cut negative", [](FILE *s) { return file_cut(s, -1); }, 3, -1, "abcdefghij", 3},
        {"insert at the end", [](FILE *s) { return file_ins(s, 2, "XY"); }, 10, 0, "abcdefghijXY",
         12},
        {"insert at the start", [](FILE *s) { return file_ins(s, 2, "XY"); }, 0, 0, "XYabcdefghij",
         2},
        {"insert nothing", [](FILE *s) { return file_ins(s, 0, "XY"); }, 3, -1, "abcdefghij", 3},
        {"insert negative", [](FILE *s) { return file_ins(s, -2, "XY"); }, 3, -1, "abcdefghij", 3},
        {"insert null data", [](FILE *s) { return file_ins(s, 2, nullptr); }, 3, -1, "abcdefghij",
         3},
        // Every write of an appending stream lands at the end.
        {"insert appending", [](FILE *s) { return file_ins(s, 2, "XY"); }, 3, -1, "abcdefghij", 3,
         "a+b"},
        {"cut appending", [](FILE *s) { return file_cut(s, 2); }, 3, -1, "abcdefghij", 3, "a+b"},
        // Every write of a stream opened for reading fails.
        {"insert read-only", [](FILE *s) { return file_ins(s, 2, "XY"); }, 3, -1, "abcdefghij", 3,
         "rb"},
        {"cut read-only", [](FILE *s) { return file_cut(s, 2); }, 3, -1, "abcdefghij", 3, "rb"},
    };
    for (const auto &c : cases) {
        run("abcdefghij", c.at, c.edit, c.mode != nullptr ? c.mode : "r+b");
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(contents(), c.after) << c.name;
        EXPECT_EQ(position, c.position) << c.name;
    }
    FILE *full = std::fopen("/dev/full", "r+b");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(file_ins(full, 3, "abc"), -1);
    std::fclose(full);
}

} // namespace
