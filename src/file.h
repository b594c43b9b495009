// Files and reading them: the regular file a call opens by path, and the
// reader that cuts a file into the pieces of lines the scanner classifies.
#pragma once

#include "io_names.h"
#include "journal.h"

#include <cstddef>
#include <string_view>
#include <type_traits>

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

enum class Access { read, update };

// What a File of the default build keeps of its name: nothing.
struct NoName {
    int directory() const { return -1; }
    const char *base() const { return ""; }
    const char *side() const { return ""; }
};

// A regular file opened by path and locked, and what fstat told of it.
// Unlocked and closed on every path.
class File {
  public:
    // Opens `path` (its name resolved without a race: see Name) for reading
    // or for update, refuses anything but a regular file, and locks it:
    // shared to read, exclusive to update, waiting while `patience` lasts
    // (Outcome::busy). An edit then checks that the path still reaches the
    // file it locked, and opens it again when someone replaced it meanwhile
    // (Outcome::replaced if that goes on). The durable build then puts back
    // an edit a crash interrupted.
    Status open(const char *path, Access access, Patience &patience);
    // Takes `fd`, locked, a file this call made for update: it is empty.
    void adopt(Descriptor fd, Patience &patience);

    Io io() const { return Io(fd_.get()); }
    int fd() const { return fd_.get(); }
    off_t size() const { return info_.size; }
    void resize(off_t size) { info_.size = size; }
    const FileInfo &info() const { return info_; }
    OpenFile open_file() const { return {fd_.get(), info_, writable_, *patience_}; }
    // The durable build's side name of the file, where its journal goes.
    Side side() const { return {name_.directory(), name_.side()}; }

  private:
    Status open_locked(const char *path, Access access);
    // Whether the name the journal goes beside still names the file (one
    // step of the path renamed meanwhile, the path reaching it another way).
    Status recover();

    Descriptor fd_;
    FileInfo info_;
    bool writable_ = false;
    Patience *patience_ = nullptr;
    // Only the durable build keeps journals, which need the file's name.
    std::conditional_t<durable, Name, NoName> name_;
};

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
    const Io &io() const { return io_; }
    // The file's size, where it is known; -1 else.
    off_t size() const { return size_; }

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
