#include "io.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

// The benchmarks build a copy of the library without locks, to measure what
// they cost.
#ifndef INIPLACE_LOCKS
#define INIPLACE_LOCKS 1
#endif

namespace iniplace {

#if INIPLACE_IO_HOOK
namespace {
const IoHook *current_hook = nullptr;
} // namespace

void set_io_hook(const IoHook *hook) {
    current_hook = hook;
}

const IoHook *io_hook() {
    return current_hook;
}
#endif

namespace {

// O_NONBLOCK keeps open() from waiting for the writer of a FIFO; a regular
// file ignores the flag.
constexpr int common_flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

int flags_for(Open how) {
    switch (how) {
    case Open::read:
        return O_RDONLY | common_flags;
    case Open::stream:
        return O_RDONLY | O_CLOEXEC | O_NOCTTY;
    case Open::update:
        return O_RDWR | common_flags;
    case Open::read_here:
        return O_RDONLY | O_NOFOLLOW | common_flags;
    case Open::update_here:
        return O_RDWR | O_NOFOLLOW | common_flags;
    case Open::fresh:
        return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | common_flags;
    case Open::found:
        return O_RDWR | O_NOFOLLOW | common_flags;
    case Open::directory:
        return O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    }
    return O_RDONLY | common_flags;
}

int last_error() {
    return errno != 0 ? errno : EIO;
}

void describe(const struct stat &st, FileInfo &info) {
    info.size = st.st_size;
    info.regular = S_ISREG(st.st_mode);
    info.link = S_ISLNK(st.st_mode);
    info.sparse = st.st_blocks * 512 < st.st_size;
    info.links = st.st_nlink;
    info.owner = st.st_uid;
    info.mode = st.st_mode;
    info.device = st.st_dev;
    info.inode = st.st_ino;
}

Status written(long result, Op op) {
    if (result > 0)
        return {};
    if (result == 0)
        errno = ENOSPC;
    return io::failure(Outcome::not_written, op);
}

// Sleeps `microseconds`; a hook may skip the sleep by failing the call,
// and a signal may cut it short: the wait counts it in full either way.
void pause_for(long microseconds) {
    SystemCall call = io::on_fd(Op::pause, -1, microseconds);
    (void)io::perform(call, [](const SystemCall &c) {
        // A pause is at most 10 ms: a long holds it, and its division needs
        // no helper of the compiler's run time on a 32-bit target.
        const long us = static_cast<long>(c.at);
        const timespec span{static_cast<time_t>(us / 1000000), us % 1000000 * 1000};
        return long(::nanosleep(&span, nullptr));
    });
}

Status try_lock(int fd, int operation) {
    for (;;) {
        SystemCall call = io::on_fd(Op::lock, fd);
        call.flags = operation;
        if (io::perform(call, [](const SystemCall &c) {
                return long(::flock(c.fd, c.flags | LOCK_NB));
            }) == 0)
            return {};
        if (errno == EWOULDBLOCK)
            return failed(Outcome::busy, Op::lock, EWOULDBLOCK);
        if (errno != EINTR)
            return io::failure(Outcome::not_opened, Op::lock);
    }
}

} // namespace

int Descriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Descriptor::reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

namespace io {

SystemCall on_fd(Op op, int fd, off_t at, std::size_t size, const char *data) {
    return {op, fd, nullptr, nullptr, at, size, data, nullptr, 0, nullptr, 0, nullptr};
}

SystemCall on_name(Op op, const char *path, const char *name) {
    return {op, -1, path, name, 0, 0, nullptr, nullptr, 0, nullptr, 0, nullptr};
}

Status failure(Outcome outcome, Op op) {
    return failed(outcome, op, last_error());
}

Status open(const char *path, Open how, Descriptor &fd) {
    SystemCall call = on_name(Op::open, path);
    call.flags = flags_for(how);
    const long opened = perform(call, [how](const SystemCall &c) {
        return long(::open(c.path, c.flags, how == Open::fresh ? 0600 : 0666));
    });
    if (opened >= 0) {
        fd = Descriptor(static_cast<int>(opened));
        return {};
    }
    switch (last_error()) {
    case ENOENT:
        return failure(Outcome::missing, Op::open);
    case EEXIST:
        return failure(Outcome::exists, Op::open);
    case EISDIR:
        return failure(Outcome::not_regular, Op::open);
    case ELOOP:
        if (how != Open::read && how != Open::update && how != Open::stream)
            return failure(Outcome::not_regular, Op::open);
        break;
    case ENAMETOOLONG:
        // Nothing can stand at a name too long to be made.
        if (how == Open::found)
            return failure(Outcome::missing, Op::open);
        break;
    default:
        break;
    }
    return failure(Outcome::not_opened, Op::open);
}

Status open_for_writing(int fd, Descriptor &writable) {
    char name[32];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    return open(name, Open::update, writable);
}

Status stat(int fd, FileInfo &info) {
    struct stat st {};
    SystemCall call = on_fd(Op::stat, fd);
    call.info = &info;
    if (perform(call, [&st, &info](const SystemCall &c) {
            const int done = ::fstat(c.fd, &st);
            describe(st, info);
            return long(done);
        }) != 0)
        return failure(Outcome::not_read, Op::stat);
    return {};
}

Status stat(const char *path, Follow follow, FileInfo &info) {
    struct stat st {};
    SystemCall call = on_name(Op::stat, path);
    call.info = &info;
    if (perform(call, [&st, &info, follow](const SystemCall &c) {
            const int done = follow == Follow::links ? ::stat(c.path, &st) : ::lstat(c.path, &st);
            describe(st, info);
            return long(done);
        }) != 0)
        return failure(last_error() == ENOENT ? Outcome::missing : Outcome::not_opened, Op::stat);
    return {};
}

Status read(int fd, char *to, std::size_t count, off_t at, std::size_t &got) {
    got = 0;
    while (got < count) {
        SystemCall call = on_fd(Op::read, fd, at + off_t(got), count - got);
        const long n = perform(call, [to, got](const SystemCall &c) {
            return long(::pread(c.fd, to + got, c.size, c.at));
        });
        if (n < 0)
            return failure(Outcome::not_read, Op::read);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return {};
}

Status read_on(int fd, char *to, std::size_t count, std::size_t &got) {
    for (;;) {
        SystemCall call = on_fd(Op::read, fd, -1, count);
        const long n =
            perform(call, [to](const SystemCall &c) { return long(::read(c.fd, to, c.size)); });
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return {};
        }
        if (errno != EINTR)
            return failure(Outcome::not_read, Op::read);
    }
}

Status write(int fd, const char *from, std::size_t count, off_t at) {
    while (count > 0) {
        SystemCall call = on_fd(Op::write, fd, at, count, from);
        const long n = perform(
            call, [](const SystemCall &c) { return long(::pwrite(c.fd, c.data, c.size, c.at)); });
        if (const Status done = written(n, Op::write); !done.ok())
            return done;
        from += n;
        count -= static_cast<std::size_t>(n);
        at += n;
    }
    return {};
}

Status write(int fd, std::string_view first, std::string_view second, off_t at) {
    // Both parts in one call; what a short write leaves goes on part by part.
    if (!first.empty() && !second.empty()) {
        SystemCall call = on_fd(Op::write, fd, at, first.size(), first.data());
        call.more = second.data();
        call.more_size = second.size();
        const long n = perform(call, [](const SystemCall &c) {
            iovec parts[] = {{const_cast<char *>(c.data), c.size},
                             {const_cast<char *>(c.more), c.more_size}};
            return long(::pwritev(c.fd, parts, c.more_size > 0 ? 2 : 1, c.at));
        });
        if (const Status done = written(n, Op::write); !done.ok())
            return done;
        const auto count = static_cast<std::size_t>(n);
        const std::size_t of_first = std::min(count, first.size());
        first.remove_prefix(of_first);
        second.remove_prefix(std::min(count - of_first, second.size()));
        at += n;
    }
    const Status done = write(fd, first.data(), first.size(), at);
    return done.ok() ? write(fd, second.data(), second.size(), at + off_t(first.size())) : done;
}

Status truncate(int fd, off_t length) {
    SystemCall call = on_fd(Op::truncate, fd, length);
    if (perform(call, [](const SystemCall &c) { return long(::ftruncate(c.fd, c.at)); }) != 0)
        return failure(Outcome::not_written, Op::truncate);
    return {};
}

Status reserve(int fd, off_t at, off_t length) {
    if (length <= 0)
        return {};
    SystemCall call = on_fd(Op::reserve, fd, at, static_cast<std::size_t>(length));
    if (perform(call, [length](const SystemCall &c) {
            return long(::fallocate(c.fd, FALLOC_FL_KEEP_SIZE, c.at, length));
        }) == 0)
        return {};
    const int error = last_error();
    if (error != ENOSPC && error != EDQUOT && error != EFBIG)
        return {};
    return failure(Outcome::not_written, Op::reserve);
}

Status sync(int fd) {
    SystemCall call = on_fd(Op::sync, fd);
    if (perform(call, [](const SystemCall &c) { return long(::fsync(c.fd)); }) != 0)
        return failure(Outcome::not_written, Op::sync);
    return {};
}

Status sync_directory(const char *path) {
    char directory[PATH_MAX];
    const char *const slash = std::strrchr(path, '/');
    const std::size_t length = slash != nullptr ? static_cast<std::size_t>(slash - path) + 1 : 0;
    if (length >= sizeof directory)
        return failed(Outcome::not_opened, Op::open, ENAMETOOLONG);
    std::memcpy(directory, length > 0 ? path : ".", length > 0 ? length : 1);
    directory[length > 0 ? length : 1] = '\0';
    Descriptor fd;
    if (const Status opened = open(directory, Open::directory, fd); !opened.ok())
        return opened;
    SystemCall call = on_fd(Op::sync, fd.get());
    call.path = directory;
    if (perform(call, [](const SystemCall &c) { return long(::fsync(c.fd)); }) != 0)
        return failure(Outcome::not_written, Op::sync);
    return {};
}

Status lock(int fd, Lock how, Patience &patience, bool &waited) {
    waited = false;
    if constexpr (INIPLACE_LOCKS == 0)
        return {};
    constexpr long longest_pause_us = 10000;
    const int operation = how == Lock::exclusive ? LOCK_EX : LOCK_SH;
    for (long pause_us = 100;; pause_us = std::min(pause_us * 2, longest_pause_us)) {
        const Status taken = try_lock(fd, operation);
        if (!taken.is(Outcome::busy) || patience.left_us() == 0)
            return taken;
        waited = true;
        const long pause = std::min(pause_us, patience.left_us());
        pause_for(pause);
        patience.spend(pause);
    }
}

Status lock(int fd, Lock how, Patience &patience) {
    bool waited = false;
    return lock(fd, how, patience, waited);
}

Status link(const char *existing, const char *name) {
    SystemCall call = on_name(Op::link, existing, name);
    if (perform(call, [](const SystemCall &c) { return long(::link(c.path, c.name)); }) == 0)
        return {};
    return failure(last_error() == EEXIST ? Outcome::exists : Outcome::not_written, Op::link);
}

Status rename_new(const char *existing, const char *name) {
    SystemCall call = on_name(Op::rename, existing, name);
    if (perform(call, [](const SystemCall &c) {
            return long(::renameat2(AT_FDCWD, c.path, AT_FDCWD, c.name, RENAME_NOREPLACE));
        }) == 0)
        return {};
    const int error = last_error();
    if (error != EINVAL && error != ENOSYS)
        return failure(error == EEXIST ? Outcome::exists : Outcome::not_written, Op::rename);
    if (const Status linked = link(existing, name); !linked.ok())
        return linked;
    // The file has its new name; an old name left behind is the caller's to
    // clear.
    (void)unlink(existing);
    return {};
}

Status unlink(const char *name) {
    SystemCall call = on_name(Op::unlink, name);
    if (perform(call, [](const SystemCall &c) { return long(::unlink(c.path)); }) == 0)
        return {};
    return failure(last_error() == ENOENT ? Outcome::missing : Outcome::not_written, Op::unlink);
}

Status within_size_limit(off_t size) {
    rlimit limit{};
    SystemCall call = on_fd(Op::limit, -1, size);
    if (perform(call,
                [&limit](const SystemCall &) { return long(::getrlimit(RLIMIT_FSIZE, &limit)); }) !=
            0 ||
        limit.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(size) <= limit.rlim_cur)
        return {};
    return failed(Outcome::not_written, Op::limit, EFBIG);
}

Status set_mode(int fd, mode_t mode) {
    SystemCall call = on_fd(Op::mode, fd);
    call.flags = static_cast<int>(mode);
    if (perform(call, [](const SystemCall &c) {
            return long(::fchmod(c.fd, static_cast<mode_t>(c.flags)));
        }) != 0)
        return failure(Outcome::not_written, Op::mode);
    return {};
}

Status new_file_mode(mode_t &mode) {
    // The mask is read where the kernel shows it; asking for it by setting
    // it would race with other threads, so that is only the fallback, and
    // it sets the strictest mask in between.
    char status[4096];
    Descriptor fd;
    std::size_t got = 0;
    if (open("/proc/self/status", Open::read, fd).ok() &&
        read(fd.get(), status, sizeof status - 1, 0, got).ok()) {
        status[got] = '\0';
        if (const char *line = std::strstr(status, "\nUmask:"); line != nullptr) {
            mode = 0666 & ~static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8));
            return {};
        }
    }
    SystemCall call = on_fd(Op::mode, -1);
    mode_t mask = 0;
    (void)perform(call, [&mask](const SystemCall &) {
        mask = ::umask(077);
        ::umask(mask);
        return 0L;
    });
    mode = 0666 & ~mask;
    return {};
}

Status read_link(const char *path, char *target, std::size_t size) {
    SystemCall call = on_name(Op::name, path);
    const long length = perform(call, [target, size](const SystemCall &c) {
        return long(::readlink(c.path, target, size));
    });
    if (length < 0)
        return failure(last_error() == EINVAL ? Outcome::not_regular : Outcome::not_opened,
                       Op::name);
    if (static_cast<std::size_t>(length) >= size)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    target[length] = '\0';
    return {};
}

Status name_of(int fd, char *name, std::size_t size) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const Status read = read_link(link, name, size);
    if (read.ok() && name[0] == '/')
        return read;
    return read.error == ENAMETOOLONG ? read : failed(Outcome::missing, Op::name, ENOENT);
}

Status real_path(const char *path, char *name, std::size_t size) {
    char resolved[PATH_MAX];
    SystemCall call = on_name(Op::name, path);
    if (perform(call, [&resolved](const SystemCall &c) {
            return ::realpath(c.path, resolved) != nullptr ? 0L : -1L;
        }) != 0)
        return failure(last_error() == ENOENT ? Outcome::missing : Outcome::not_opened, Op::name);
    if (std::strlen(resolved) >= size)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    std::strcpy(name, resolved);
    return {};
}

uid_t user() {
    return ::geteuid();
}

} // namespace io
} // namespace iniplace
