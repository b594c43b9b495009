// The reader that cuts a file (or a caller's stream, or a whole file held
// in memory) into the pieces of lines the scanner classifies, in blocks.
#pragma once

#include "io_stream.h"

#include <cstddef>
#include <string_view>

// The durable build keeps its stack small by reading in 8 KB: its edits
// cost a few synced writes, which a smaller block does not change.
#ifndef INIPLACE_READ_BLOCK
#define INIPLACE_READ_BLOCK (INIPLACE_DURABLE ? 8192 : 16384)
#endif

namespace iniplace {

// Bytes the reader takes from a file at once. Once a scan is over, the
// library's own edits move the file's tail through the same block.
constexpr std::size_t read_block = INIPLACE_READ_BLOCK;
static_assert(read_block >= 16, "the read block holds at least a few bytes");
// A caller's stream is read through its own buffer in smaller steps, so a
// walk that calls parse_section() once per line reads each line once.
constexpr std::size_t stream_block = read_block < 1024 ? read_block : 1024;

// Reads a file in the pieces that repeated line reads would give (at most
// `max` bytes, through the first line feed), keeping exact offsets. Bytes
// come in blocks; a position inside the current block is reached again
// without I/O.
class LineReader {
  public:
    // Reads from `start`; `size` is the file's size when known (the read
    // that finds the end is then saved), -1 otherwise.
    LineReader(const Io &io, off_t start, off_t size, Buffer block);
    // Reads the `size` bytes of a whole file held in `image`, in place.
    LineReader(Buffer image, std::size_t size);
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The next piece: a view into the block, or into `spill` (max + 1
    // bytes) when it spans two blocks. Empty at the end of the file, and
    // when a read fails (the piece it cut short is not given): the reader
    // then stands at the start of that piece.
    std::string_view next(char *spill, std::size_t max);
    // Passes over the rest of the physical line.
    void skip_line();
    // The bytes the block holds, and the offset of the first.
    std::string_view block() const { return {block_.data, filled_}; }
    off_t block_start() const { return block_start_; }
    // The unread bytes of the block, and a step over some of them.
    std::string_view window() const { return {block_.data + cursor_, filled_ - cursor_}; }
    void consume(std::size_t count) { cursor_ += count; }
    // Reads the next block once the window is empty; false at the end.
    bool refill();

    off_t offset() const { return block_start_ + static_cast<off_t>(cursor_); }
    void move_to(off_t offset);
    // Whether the byte before offset() is a line feed, or offset() is the
    // start of the file. A read that fails is recorded in status() and
    // counts as a line feed.
    bool after_line_feed();
    // The first read that failed, if one did: then what was read is not
    // the whole file.
    const Status &status() const { return status_; }

  private:
    Io io_;
    Buffer block_;
    off_t size_;
    off_t block_start_;
    std::size_t cursor_ = 0;
    std::size_t filled_ = 0;
    bool at_end_ = false; // the block reaches the end of the file
    Status status_;
};

} // namespace iniplace
