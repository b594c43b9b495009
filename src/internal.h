// Shared by the two translation units of the library: sizes, the stream
// holder, the line reader and the helpers the edits are built from.
#pragma once

#include "iniplace.h"

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <sys/types.h>

namespace iniplace {

// Working line buffer of every call; its last byte stays zero.
constexpr int line_size = INI_LINE_SIZE;
// Bytes taken by one line read with the line buffer: read size 999, less the
// terminating zero.
constexpr std::size_t piece_max = line_size - 2;
// Longest text written at one place (a line, or a header with its line).
constexpr std::size_t text_max = INI_MAX_TEXT;
// Block through which file_ins and file_cut move the tail of a file.
constexpr std::size_t move_block = 1000;
// Bytes the line reader takes from the stream at once.
constexpr std::size_t read_block = 8192;

inline bool is_wildcard(std::string_view name) { return name == "*"; }

inline bool holds_line_feed(std::string_view text) {
    return text.find('\n') != std::string_view::npos;
}

enum class Access { read, update, create };

// Owns a stream opened on a regular file; closes it on every path.
class Stream {
public:
    Stream() = default;
    // Opens `path` in binary mode ("rb", "r+b", or creating it for "w+b"
    // without truncating). Fails, with errno set, for anything but a
    // regular file; a FIFO is never waited on.
    Stream(const char *path, Access access);
    Stream(Stream &&other) noexcept : file_(other.file_) { other.file_ = nullptr; }
    Stream &operator=(Stream &&other) noexcept;
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;
    ~Stream();

    explicit operator bool() const { return file_ != nullptr; }
    FILE *get() const { return file_; }

private:
    FILE *file_ = nullptr;
};

// Opens `path` for an edit that may have to create the file. The file is
// created only when `fits_new_file` says the text for a new file may be
// written. Returns INI_OK, INI_EOPEN or INI_EINVAL.
int open_for_set(Stream &stream, const char *path, bool fits_new_file);

// Reads a stream line by line through a block of its own, the way repeated
// line reads would, while keeping exact offsets: a position inside the
// current block is reached again without a seek. The stream itself is
// moved only by sync().
class LineReader {
public:
    explicit LineReader(FILE *stream);
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // Reads up to `max` bytes, through the first line feed, into `dst` and
    // terminates them. Returns the bytes consumed; 0 at the end of the file
    // or on a read error, `dst` then untouched.
    std::size_t read_piece(char *dst, std::size_t max);
    // Reads to the end of the physical line. Returns the bytes consumed;
    // 0 when nothing could be read. `scratch` holds line_size bytes.
    off_t skip_line(char *scratch);
    // Offset of the next byte read_piece would return.
    off_t offset() const { return block_start_ + static_cast<off_t>(cursor_); }
    void move_to(off_t offset);
    // The byte before `offset`, or -1 when it cannot be read.
    int byte_before(off_t offset);
    // Positions the stream at offset() and clears its error and end state.
    void sync();

private:
    bool fill();

    FILE *stream_;
    off_t block_start_ = 0;   // file offset of block_[0]
    off_t stream_offset_ = 0; // where the stream stands
    std::size_t cursor_ = 0;
    std::size_t filled_ = 0;
    bool at_end_ = false; // the block reaches the end of the file
    bool usable_ = true;  // the stream could be positioned
    char block_[read_block];
};

// The scanners on a line reader; results and positions (as the reader's
// offset) are those of parse() and parse_section().
int scan_key(LineReader &in, const char *section, const char *key, char *buf,
             int size);
int scan_section(LineReader &in, const char *section, char *buf, int size,
                 bool rewind);

// Inserts `text` (`length` bytes) as new lines at `at`, preceded by a line
// feed when the byte before `at` is not one, so no line is joined.
// `text[-1]` must be writable.
void insert_lines(FILE *stream, LineReader &in, off_t at, char *text,
                  std::size_t length);
// Removes `length` bytes at `at`.
void cut_at(FILE *stream, off_t at, off_t length);

// Copies the first 999 bytes of `text` into `copy` (line_size bytes) and
// trims it.
const char *trimmed_copy(const char *text, char *copy);

} // namespace iniplace
