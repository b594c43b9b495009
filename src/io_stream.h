// Where bytes come from and go to: a file's descriptor, or a caller's
// stream, read and written at given offsets; and the offsets of a caller's
// stream. Every call on a stream goes through io's hook.
#pragma once

#include "io.h"

#include <cstdio>

namespace iniplace {

class Io {
  public:
    explicit Io(int fd) : fd_(fd) {}
    // A caller's stream; `at`, where it stands when known, spares a seek.
    explicit Io(std::FILE *stream, off_t at = -1);

    // Reads up to `count` bytes at `at`, fewer only at the end of the file.
    Status read(char *to, std::size_t count, off_t at, std::size_t &got) const;
    Status write(const char *from, std::size_t count, off_t at) const;
    Status write(std::string_view first, std::string_view second, off_t at) const;
    Status truncate(off_t length) const;
    Status reserve(off_t at, off_t length) const;

  private:
    int fd_;
    std::FILE *stream_ = nullptr;
    // Where the stream stands after our last read, or -1: a seek comes
    // first (always before a write, and before a read that follows one).
    mutable off_t stream_at_ = -1;
};

namespace stream {

Status position(std::FILE *stream, off_t &at);
Status seek(std::FILE *stream, off_t at);
// Where an edit of the stream happens and how long its file is, the stream
// left at the end of the file; Outcome::refused for a stream that appends
// (every write of it lands at the end of the file, wherever it was
// sought), and the stream left where it was on any failure.
Status bounds(std::FILE *stream, off_t &at, off_t &end);
// Whether the stream appends; a stream whose flags cannot be had counts
// as one.
Status refuse_appending(std::FILE *stream);

} // namespace stream
} // namespace iniplace
