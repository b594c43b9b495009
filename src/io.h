// The system calls the library makes on files, each through `perform`,
// where a test build (INIPLACE_IO_HOOK) lets a hook fail, stop or record
// it. Every call reports a Status whose outcome says what happened; error
// numbers are compared here and nowhere else.
#pragma once

#include "status.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <ctime>
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

// Which lock a descriptor holds: its release comes before its close.
enum class Held : unsigned char { none, shared, exclusive, side };

// A descriptor, its lock let go and the descriptor closed on every path. A
// lock is let go explicitly: a child forked meanwhile shares the open file
// and would keep it.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.fd_), held_(other.held_) {
        other.fd_ = -1;
        other.held_ = Held::none;
    }
    Descriptor &operator=(Descriptor &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            held_ = other.held_;
            other.fd_ = -1;
            other.held_ = Held::none;
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    Held held() const { return held_; }
    void hold(Held lock) { held_ = lock; }
    // Lets the lock go, keeping the descriptor open.
    void let_go();
    int release();
    void reset();

  private:
    int fd_ = -1;
    Held held_ = Held::none;
};

// What stat tells of a file.
struct FileInfo {
    off_t size = 0;
    bool regular = false;
    bool directory = false;
    bool link = false;   // a symbolic link, where it was not followed
    bool sparse = false; // fewer blocks than its size needs: it has holes
    nlink_t links = 0;
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

// Whether two stats are of one file.
inline bool same_file(const FileInfo &a, const FileInfo &b) {
    return a.device == b.device && a.inode == b.inode;
}

// The mode of what the library makes for itself (a journal, a new file
// before it is in place): read and written by its owner alone. What stands
// at a side name with another mode is not the library's.
constexpr mode_t owner_only = 0600;
// The permission bits of a mode (set-id and sticky bits included).
constexpr mode_t permission_bits(mode_t mode) {
    return mode & 07777;
}

enum class Open {
    read,   // an existing file, by a name of the caller's (not judged)
    update, // an existing file, to write too, by a name of the caller's
    // Names in a directory the library resolved, never through a link there:
    read_here,   // an existing file, to read
    update_here, // an existing file, to write too
    stream,      // an existing file read from start to end, a FIFO waited on
    fresh,       // made by this call, owner-only, never an existing name: a
                 // journal, a new file before it is moved into place
    found,       // what stands at a name, for writing
    path,        // what stands at a name, a link included, only to look at
    directory,   // a directory, to look things up in
    listing,     // a directory, to sync what was made or removed in it
};

enum class Lock { shared, exclusive };

// How long a call waits for the locks other processes hold before it gives
// up (Outcome::busy), in milliseconds of the monotonic clock, however many
// locks it takes and however often it starts again. It tries again after
// pauses that grow from a tenth of a millisecond to ten; a signal may cut a
// pause short, never the wait.
constexpr long lock_wait_ms = 5000;

// What is left of a wait for locks (a call's: lock_wait_ms): the clock
// starts when a lock is first found taken.
class Patience {
  public:
    explicit Patience(long wait_ms = lock_wait_ms) : wait_ms_(wait_ms) {}
    // Microseconds left, at most the wait; 0 once the wait is over.
    long left_us();

  private:
    long wait_ms_;
    bool started_ = false;
    timespec deadline_{};
};

// One call as the test hook sees it.
struct SystemCall {
    Op op;
    int fd;           // the file, or for a call by name the directory it is
                      // looked up in (-100, AT_FDCWD: the working directory)
    const char *path; // open, stat, link, rename (the existing name), unlink
    const char *name; // link, rename: the new name
    off_t at;         // read, write, reserve, seek: the offset; truncate:
                      // the length; limit: the size asked for; pause: the
                      // microseconds; clock: the time a hook gives, in µs
    std::size_t size; // read, write, reserve: the byte count
    const char *data; // write: the bytes; of a write in two parts, the
    const char *more; // first part's, and the second part's
    std::size_t more_size;
    FileInfo *info;    // stat: what it tells, which a hook may change after
    int flags;         // open: the flags; lock, unlock: the operation
    std::FILE *stream; // a call on a caller's stream
};

#if INIPLACE_IO_HOOK
// Test builds only. `before` sees each call first and returns 0 to make it
// (a write of `size` bytes as the hook left it: it may shorten one), or an
// error number to fail it unmade (a clock read failed so gives the time in
// `at`); it may end the process. `after` sees the result of a call made.
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

// The working directory, for calls by a name the caller gave.
constexpr int here = -100;

SystemCall on_fd(Op op, int fd, off_t at = 0, std::size_t size = 0, const char *data = nullptr);
SystemCall on_name(Op op, int directory, const char *path, const char *name = nullptr);

// The Status of a call that failed with errno as it stands: `outcome`,
// unless the error says more (see the functions below).
Status failure(Outcome outcome, Op op);
// The error number of the call that just failed; EIO where it set none.
int last_error();

// Opens `name` in `directory` (here: by the caller's path). A FIFO is never
// waited on; the descriptor is not inherited by programs the caller starts.
// Outcome::missing, ::exists (Open::fresh), ::linked (a link at a name not
// followed), ::not_regular (a directory opened for writing) or
// ::not_opened.
Status open(int directory, const char *name, Open how, Descriptor &fd);
inline Status open(const char *path, Open how, Descriptor &fd) {
    return open(here, path, how, fd);
}
// Opens `path` in one step, by a chain of names without any symbolic link;
// Outcome::linked where a link stands on the way, or where the kernel
// cannot resolve a name so.
Status open_direct(const char *path, Open how, Descriptor &fd);
// The open file `fd` opened again for writing, by the descriptor and not
// by a name: the same file whatever its names now are.
Status open_for_writing(int fd, Descriptor &writable);
Status stat(int fd, FileInfo &info);
// Whether `fd` is an open descriptor (a closed one fails with EBADF).
bool is_open(int fd);
// What stands at `name` in `directory`, not followed if a link;
// Outcome::missing when nothing does.
Status stat(int directory, const char *name, FileInfo &info);
// Whether `name` in `directory` still names the file `info` (a call that
// waited for a lock may find it removed, or given to another file):
// Outcome::replaced when it names another file or none.
Status still_names(int directory, const char *name, const FileInfo &info);
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
// Syncs the directory `directory`, so that a name made or removed in it
// stays made or removed.
Status sync_directory(int directory);
// Takes the lock of a file the library reads (shared) or edits
// (exclusive), waiting while `patience` lasts: Outcome::busy when it stays
// taken. See io_lock.cpp for what the lock is made of.
Status lock(Descriptor &fd, Lock how, Patience &patience);
// Takes the lock of a file at a side name (a journal, a new file), which
// only its owner can open, waiting while `patience` lasts.
Status lock_side(Descriptor &fd, Patience &patience);
// Gives the file `existing` the name `name` too, in `directory`;
// Outcome::exists when a file of that name is there.
Status link(int directory, const char *existing, const char *name);
// Gives the file `existing` the name `name` instead, in `directory`,
// Outcome::exists when a file of that name is there: at once where the
// file system can (FAT too), else as a link and an unlink.
Status rename_new(int directory, const char *existing, const char *name);
// Outcome::missing when nothing stood at `name`.
Status unlink(int directory, const char *name);
// Whether a file may reach `size` bytes within the process's file-size
// limit. Past it the kernel stops a write half-way and sends SIGXFSZ,
// which ends a process that keeps the default disposition, so writes that
// would pass it are refused up front.
Status within_size_limit(off_t size);
Status set_mode(int fd, mode_t mode);
// The permission bits a file made by this process gets: 0666 less the
// process's mask.
Status new_file_mode(mode_t &mode);
// The target of the symbolic link open as `fd` (Open::path), terminated.
Status read_link(int fd, char *target, std::size_t size);
// Whether the file `fd` is mounted on its own (a bind mount of one file):
// Outcome::mounted when the mount it is on is not that of `directory`,
// the directory its name is in. Done where the kernel does not tell.
Status mounted_with(int fd, int directory);
// The user the process acts as.
uid_t user();
// The monotonic clock (a hook may give the time instead).
timespec now();
// Pauses for `microseconds`, or less when a signal comes.
void pause(long microseconds);

} // namespace io
} // namespace iniplace
