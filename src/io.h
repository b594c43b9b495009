// Where bytes come from and go to: a file's descriptor, or a caller's
// stream, read and written at given offsets.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

namespace iniplace {

// Reads and writes a file at given offsets.
class Io {
  public:
    explicit Io(int fd) : fd_(fd) {}
    explicit Io(std::FILE *stream);

    // Reads up to `count` bytes at `at`, fewer only at the end of the
    // file. -1 when the read failed.
    ssize_t read(char *to, std::size_t count, off_t at) const;
    // Writes all `count` bytes at `at`; false when that failed.
    bool write(const char *from, std::size_t count, off_t at) const;
    // Ends the file at `length`.
    bool truncate(off_t length) const;
    int fd() const { return fd_; }

  private:
    int fd_;
    std::FILE *stream_ = nullptr;
    // Where the stream stands after our last read, or -1: a seek comes
    // first (always before a write, and before a read that follows one).
    mutable off_t stream_at_ = -1;
};

// Whether a file may reach `size` bytes within the process's file-size
// limit. Past it the kernel stops a write half-way and sends SIGXFSZ, which
// ends a process that keeps the default disposition, so writes that would
// pass it are refused up front.
bool within_size_limit(off_t size);

} // namespace iniplace
