// The system calls the library makes on files, each through `perform`,
// where a test build (INIPLACE_IO_HOOK) lets a hook fail, stop or record
// it. Every call reports a Status whose outcome says what happened; error
// numbers are compared here and nowhere else.
#pragma once

#include "status.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string_view>
#include <sys/types.h>

#ifndef INIPLACE_IO_HOOK
#define INIPLACE_IO_HOOK 0
#endif

namespace iniplace {

// Working storage lent to a lower layer: a buffer and its size.
struct Buffer {
    char *data;
    std::size_t size;
};

// A descriptor, closed on every path.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
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

// What stat tells of a file.
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

// Whether two stats are of one file.
inline bool same_file(const FileInfo &a, const FileInfo &b) {
    return a.device == b.device && a.inode == b.inode;
}

enum class Open {
    read,      // an existing file
    stream,    // an existing file read from start to end, a FIFO waited on
    update,    // an existing file, for writing too
    read_here, // read and update, but not through a symbolic link at the name
    update_here,
    fresh,     // made by this call, owner-only, never an existing name or a
               // link: a journal, a new file before it is moved into place
    found,     // what stands at a name, for writing, not followed if a link
    directory, // a directory, to sync what was made or removed in it
};

enum class Lock { shared, exclusive };
enum class Follow { links, no };

// How long a call waits for the locks other processes hold before it gives
// up (Outcome::busy), in milliseconds, however many locks it takes and
// however often it starts again. The wait is a series of pauses that grow
// from a tenth of a millisecond to ten.
constexpr long lock_wait_ms = 5000;

// What is left of a call's wait for locks.
class Patience {
  public:
    long left_us() const { return left_us_; }
    void spend(long us) { left_us_ = us < left_us_ ? left_us_ - us : 0; }

  private:
    long left_us_ = lock_wait_ms * 1000;
};

// One call as the test hook sees it.
struct SystemCall {
    Op op;
    int fd;           // -1 for a call by name
    const char *path; // open, stat, link and rename (the existing name),
                      // unlink, a directory synced
    const char *name; // link, rename: the new name
    off_t at;         // read, write, reserve, seek: the offset; truncate:
                      // the length; limit: the size asked for; pause: the
                      // microseconds
    std::size_t size; // read, write, reserve: the byte count
    const char *data; // write: the bytes; of a write in two parts, the
    const char *more; // first part's, and the second part's
    std::size_t more_size;
    FileInfo *info;    // stat: what it tells, which a hook may change after
    int flags;         // open: the flags
    std::FILE *stream; // a call on a caller's stream
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
const IoHook *io_hook();
#endif

namespace io {

// Makes one call through the test hook, where there is one: `real` makes
// it as `call` then stands. Returns what the call returns, with errno set
// on failure.
template <typename Real> long perform(SystemCall &call, Real real) {
#if INIPLACE_IO_HOOK
    if (const IoHook *hook = io_hook(); hook != nullptr) {
        if (const int error = hook->before(call); error != 0) {
            errno = error;
            return -1;
        }
        const long result = real(call);
        const int error = errno;
        hook->after(call, result);
        errno = error;
        return result;
    }
#endif
    return real(call);
}

SystemCall on_fd(Op op, int fd, off_t at = 0, std::size_t size = 0, const char *data = nullptr);
SystemCall on_name(Op op, const char *path, const char *name = nullptr);

// The Status of a call that failed with errno as it stands: `outcome`,
// unless the error says more (see the functions below).
Status failure(Outcome outcome, Op op);

// Opens `path`. A FIFO is never waited on; the descriptor is not inherited
// by programs the caller starts. Outcome::missing, ::exists (Open::fresh),
// ::not_regular (a link where none is followed, a directory opened for
// writing) or ::not_opened.
Status open(const char *path, Open how, Descriptor &fd);
// The open file `fd` opened again for writing, by the descriptor and not
// by a name: the same file whatever its names now are.
Status open_for_writing(int fd, Descriptor &writable);
Status stat(int fd, FileInfo &info);
// What stands at `path`; Outcome::missing when nothing does.
Status stat(const char *path, Follow follow, FileInfo &info);
// Reads up to `count` bytes at `at` into `to`; `got` is less only at the
// end of the file.
Status read(int fd, char *to, std::size_t count, off_t at, std::size_t &got);
// Reads up to `count` bytes from where `fd` stands (a pipe, a terminal);
// `got` is 0 only at the end.
Status read_on(int fd, char *to, std::size_t count, std::size_t &got);
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
// there stays made or removed.
Status sync_directory(const char *path);
// Takes the lock, waiting for it while `patience` lasts: Outcome::busy when
// another open file of it (another process's, or this one's) holds it that
// long. `waited` tells whether it was not free at once.
Status lock(int fd, Lock how, Patience &patience, bool &waited);
Status lock(int fd, Lock how, Patience &patience);
// Gives the file `existing` the name `name` too; Outcome::exists when a
// file of that name is there.
Status link(const char *existing, const char *name);
// Gives the file `existing` the name `name` instead, Outcome::exists when a
// file of that name is there: at once where the file system can (FAT
// too), else as a link and an unlink.
Status rename_new(const char *existing, const char *name);
// Outcome::missing when nothing stood at `name`.
Status unlink(const char *name);
// Whether a file may reach `size` bytes within the process's file-size
// limit. Past it the kernel stops a write half-way and sends SIGXFSZ,
// which ends a process that keeps the default disposition, so writes that
// would pass it are refused up front.
Status within_size_limit(off_t size);
Status set_mode(int fd, mode_t mode);
// The permission bits a file made by this process gets: 0666 less the
// process's mask.
Status new_file_mode(mode_t &mode);
// The target of the symbolic link `path`, terminated; Outcome::not_regular
// when `path` is no link.
Status read_link(const char *path, char *target, std::size_t size);
// The name the kernel gives the open file `fd`, terminated;
// Outcome::missing where it has none to give (no /proc).
Status name_of(int fd, char *name, std::size_t size);
// The C library's resolution of `path`, one component at a time.
Status real_path(const char *path, char *name, std::size_t size);
// The user the process acts as.
uid_t user();

} // namespace io
} // namespace iniplace
