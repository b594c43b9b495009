// The one layer that calls the system for files: open, stat, read, write,
// truncate, reserve, sync, lock, link, unlink and the size limit, on a
// descriptor or on a caller's stream. Every call reports a Status. A test
// build (INIPLACE_IO_HOOK) lets a hook fail, stop or record each call.
#pragma once

#include "status.h"

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <sys/types.h>

#ifndef INIPLACE_IO_HOOK
#define INIPLACE_IO_HOOK 0
#endif

namespace iniplace {

// A descriptor, closed on every path.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    void reset();

  private:
    int fd_ = -1;
};

// What fstat tells of an open file.
struct FileInfo {
    off_t size = 0;
    bool regular = false;
    bool link = false;   // a symbolic link, where it was not followed
    bool sparse = false; // fewer blocks than its size needs: it has holes
    nlink_t links = 0;
    uid_t owner = 0;
    mode_t mode = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

enum class Open {
    read,       // an existing file
    update,     // an existing file, for writing too
    create,     // for writing, created when missing, never truncated
    create_new, // created by this call, never an existing name or a link
    fresh,      // the same, readable by its owner only: a journal
    found,      // what stands at a name, not followed if a link: for
                // writing where allowed, else for reading
    directory,  // a directory, to sync what was made or removed in it
};

enum class Lock { shared, exclusive };

namespace io {

// Opens `path`. A FIFO is never waited on; the descriptor is not inherited
// by programs the caller starts.
Status open(const char *path, Open how, Descriptor &fd);
Status stat(int fd, FileInfo &info);
// What stands at `path`: the file it names, or with `follow` false the
// name itself (a symbolic link is then not followed).
Status stat(const char *path, bool follow, FileInfo &info);
// Reads up to `count` bytes at `at` into `to`; `got` is less only at the
// end of the file.
Status read(int fd, char *to, std::size_t count, off_t at, std::size_t &got);
Status write(int fd, const char *from, std::size_t count, off_t at);
// Writes `first` and then `second` at `at`, in one call where it can.
Status write(int fd, std::string_view first, std::string_view second, off_t at);
Status truncate(int fd, off_t length);
// Allocates the blocks of [at, at + length) without changing the size, so
// a later write there cannot run out of space. Done where the file system
// cannot reserve: only a lack of space fails.
Status reserve(int fd, off_t at, off_t length);
Status sync(int fd);
// Syncs the directory that holds `path`, so that a name made or removed
// there stays made or removed. `path` is cut at its last slash while the
// directory is opened, and then put back.
Status sync_directory(char *path);
// Waits for the lock; interrupted waits are resumed.
Status lock(int fd, Lock how);
Status link(const char *existing, const char *name);
// Gives the file `existing` the name `name` instead, failing (EEXIST) when
// a file of that name is there: at once where the file system can (FAT
// too), else as a link and an unlink; once linked it succeeds, and an
// unlink that failed leaves the old name too.
Status rename_new(const char *existing, const char *name);
Status unlink(const char *name);
// Whether a file may reach `size` bytes within the process's file-size
// limit. Past it the kernel stops a write half-way and sends SIGXFSZ,
// which ends a process that keeps the default disposition, so writes that
// would pass it are refused up front.
Status within_size_limit(off_t size);
// The name of the open file `fd`, opened as `path`, with every symbolic
// link resolved: the same for every name that reaches the file but its
// hard links. Fails when it would not fit `size` bytes.
Status resolve(int fd, const char *path, char *name, std::size_t size);
// The name a missing file `path` would have: its directory resolved, then
// its last component.
Status resolve_missing(const char *path, char *name, std::size_t size);
// Sets the permission bits of an open file; failing is harmless.
void set_mode(int fd, mode_t mode);
// The user the process acts as.
uid_t user();

// A caller's stream: its position, and whether it appends (every write of
// it lands at the end of the file, wherever it was sought).
off_t position(std::FILE *stream);
bool seek(std::FILE *stream, off_t at);
bool appends(std::FILE *stream);
// Where an edit of the stream happens and how long its file is, the
// stream left at the end of the file; false, with the stream left where it
// was, when the offsets cannot be had or the stream appends.
bool bounds(std::FILE *stream, off_t &at, off_t &end);

} // namespace io

// Where bytes come from and go to: a file's descriptor, or a caller's
// stream, read and written at given offsets.
class Io {
  public:
    explicit Io(int fd) : fd_(fd) {}
    explicit Io(std::FILE *stream);

    // Reads up to `count` bytes at `at`, fewer only at the end of the file.
    Status read(char *to, std::size_t count, off_t at, std::size_t &got) const;
    Status write(const char *from, std::size_t count, off_t at) const;
    Status write(std::string_view first, std::string_view second, off_t at) const;
    Status truncate(off_t length) const;
    Status reserve(off_t at, off_t length) const;
    int fd() const { return fd_; }

  private:
    int fd_;
    std::FILE *stream_ = nullptr;
    // Where the stream stands after our last read, or -1: a seek comes
    // first (always before a write, and before a read that follows one).
    mutable off_t stream_at_ = -1;
};

// One call as the test hook sees it.
struct SystemCall {
    Op op;
    int fd;           // -1 for a call by name
    const char *path; // open, link (the existing name), unlink, a directory synced
    const char *name; // link: the new name
    off_t at;         // read, write, reserve: the offset; truncate: the length;
                      // limit: the size asked for
    std::size_t size; // read, write, reserve: the byte count
    const char *data; // write: the bytes; of a write in two parts, the first
    const char *more; // and the second part's bytes, after them
    std::size_t more_size;
    FileInfo *info; // stat: what it tells, which a hook may change after
    int flags;      // open: the flags
};

#if INIPLACE_IO_HOOK
// Test builds only. `before` sees each call first and returns 0 to make it
// (a write of `size` bytes as the hook left it: it may shorten one), or an
// error number to fail it unmade; it may end the process. `after` sees
// the result of a call made.
struct IoHook {
    int (*before)(SystemCall &call);
    void (*after)(const SystemCall &call, long result);
};
void set_io_hook(const IoHook *hook);
#endif

} // namespace iniplace
