// Shared by the two translation units of the library: sizes, the file
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
// Block through which file_ins and file_cut move the tail of a stream.
constexpr std::size_t move_block = 1000;
// Bytes the line reader takes from the file at once; once a scan is over,
// the same block moves the tail of the file for the library's own edits.
constexpr std::size_t read_block = 16384;

inline bool is_wildcard(std::string_view name) {
    return name == "*";
}

inline bool text_fits(std::size_t length) {
    return length <= text_max;
}

inline bool holds_line_feed(std::string_view text) {
    return text.find('\n') != std::string_view::npos;
}

enum class Access { read, update, create };

// A regular file opened by path: its descriptor and its size when opened.
// Closed on every path.
class File {
  public:
    File() = default;
    // Opens `path` for reading, for update, or for update creating it when
    // missing (never truncating). Fails, with errno set, for anything but a
    // regular file; a FIFO is never waited on.
    File(const char *path, Access access);
    File(File &&other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    ~File();

    explicit operator bool() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    off_t size() const { return size_; }

  private:
    int fd_ = -1;
    off_t size_ = 0;
};

// Opens `path` for an edit that may have to create the file. The file is
// created only when `fits_new_file` says the text for a new file may be
// written. Returns INI_OK, INI_EOPEN or INI_EINVAL.
int open_for_set(File &file, const char *path, bool fits_new_file);

// Reads a file in pieces, the way repeated line reads would (at most `max`
// bytes, through the first line feed), while keeping exact offsets. It
// reads through a block of its own, so a position inside the block is
// reached again without any I/O.
class LineReader {
  public:
    // Reads a stream from its position; sync() moves the stream.
    explicit LineReader(FILE *stream);
    // Reads a file from its start, through its descriptor.
    explicit LineReader(const File &file);
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The next piece: a view into the block, or into `spill` (max + 1
    // bytes) when it spans two blocks. Empty at the end of the file or on a
    // read error.
    std::string_view next(char *spill, std::size_t max);
    // Passes over the pieces before the next header without copying them.
    // Returns true with the header next; false at the end of the file, with
    // the last piece passed over copied and trimmed into `buf`.
    bool skip_to_header(char *buf, std::size_t max);
    // Reads to the end of the physical line; returns the bytes consumed,
    // 0 when nothing could be read. `scratch` holds line_size bytes.
    off_t skip_line(char *scratch);
    // Offset of the first byte next() would return.
    off_t offset() const { return block_start_ + static_cast<off_t>(cursor_); }
    void move_to(off_t offset);
    // The byte before `offset`, or -1 when there is none.
    int byte_before(off_t offset);
    // Positions the stream at offset() and clears its error and end state.
    void sync();
    // The block, free for other use once the reader is no longer needed.
    char *block() { return block_; }

  private:
    bool fill();

    FILE *stream_ = nullptr;
    int fd_ = -1;
    off_t size_ = 0;          // of a file read through its descriptor
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
int scan_key(LineReader &in, const char *section, const char *key, char *buf, int size);
int scan_section(LineReader &in, const char *section, char *buf, int size, bool rewind);

// The edits of the library's own operations, on a file opened for update.
// Each uses the reader's block and ends the reader's use.
//
// Inserts `text` as new lines at `at`, after a line feed when the byte
// before `at` is not one, so no line is joined. `text[-1]` must be writable.
void insert_lines(const File &file, LineReader &in, off_t at, char *text, std::size_t length);
// Replaces the `old_length` bytes at `at` with `text`.
void replace_bytes(const File &file, LineReader &in, off_t at, off_t old_length, const char *text,
                   std::size_t length);
// Removes `length` bytes at `at`.
void cut_bytes(const File &file, LineReader &in, off_t at, off_t length);
// Removes the physical line at the reader's offset, whole. Returns INI_OK,
// or INI_EOPEN, changing nothing, when the line cannot be read again.
int cut_line(const File &file, LineReader &in, char *scratch);

// Copies the first 999 bytes of `text` into `copy` (line_size bytes) and
// trims it.
const char *trimmed_copy(const char *text, char *copy);

} // namespace iniplace
