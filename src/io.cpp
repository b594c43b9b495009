#include "io.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace iniplace {

namespace {

#if INIPLACE_IO_HOOK
const IoHook *io_hook = nullptr;
#endif

// Makes one call through the test hook, where there is one: `real` makes
// it as `call` then stands. Returns what the call returns, with errno set
// on failure.
template <typename Real> long perform(SystemCall &call, Real real) {
#if INIPLACE_IO_HOOK
    if (io_hook != nullptr) {
        if (const int error = io_hook->before(call); error != 0) {
            errno = error;
            return -1;
        }
        const long result = real(call);
        const int error = errno;
        io_hook->after(call, result);
        errno = error;
        return result;
    }
#endif
    return real(call);
}

SystemCall on_fd(Op op, int fd, off_t at = 0, std::size_t size = 0, const char *data = nullptr) {
    return {op, fd, nullptr, nullptr, at, size, data, nullptr, 0, nullptr, 0};
}

SystemCall on_name(Op op, const char *path, const char *name = nullptr) {
    return {op, -1, path, name, 0, 0, nullptr, nullptr, 0, nullptr, 0};
}

// O_NONBLOCK keeps open() from waiting for the writer of a FIFO; a regular
// file ignores the flag.
constexpr int common_flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

int flags_for(Open how) {
    switch (how) {
    case Open::read:
        return O_RDONLY | common_flags;
    case Open::update:
        return O_RDWR | common_flags;
    case Open::create:
        return O_RDWR | O_CREAT | common_flags;
    case Open::create_new:
    case Open::fresh:
        return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | common_flags;
    case Open::found:
        return O_RDWR | O_NOFOLLOW | common_flags;
    case Open::directory:
        return O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    }
    return O_RDONLY | common_flags;
}

long open_once(const char *path, int flags, mode_t mode) {
    SystemCall call = on_name(Op::open, path);
    call.flags = flags;
    return perform(call, [flags, mode](const SystemCall &c) {
        return static_cast<long>(::open(c.path, flags, mode));
    });
}

Status failure(Outcome outcome, Op op) {
    return failed(outcome, op, errno != 0 ? errno : EIO);
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

} // namespace

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

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

Status open(const char *path, Open how, Descriptor &fd) {
    const mode_t mode = how == Open::fresh ? 0600 : 0666;
    long opened = open_once(path, flags_for(how), mode);
    // What stands at a journal's name is read where it may not be written.
    if (opened < 0 && errno == EACCES && how == Open::found)
        opened = open_once(path, O_RDONLY | O_NOFOLLOW | common_flags, 0);
    if (opened < 0)
        return failure(Outcome::not_opened, Op::open);
    fd = Descriptor(static_cast<int>(opened));
    return {};
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

Status stat(const char *path, bool follow, FileInfo &info) {
    struct stat st {};
    SystemCall call = on_name(Op::stat, path);
    call.info = &info;
    if (perform(call, [&st, &info, follow](const SystemCall &c) {
            const int done = follow ? ::stat(c.path, &st) : ::lstat(c.path, &st);
            describe(st, info);
            return long(done);
        }) != 0)
        return failure(Outcome::not_opened, Op::stat);
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

Status write(int fd, const char *from, std::size_t count, off_t at) {
    while (count > 0) {
        SystemCall call = on_fd(Op::write, fd, at, count, from);
        const long n = perform(
            call, [](const SystemCall &c) { return long(::pwrite(c.fd, c.data, c.size, c.at)); });
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return failure(Outcome::not_written, Op::write);
        }
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
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return failure(Outcome::not_written, Op::write);
        }
        const auto done = static_cast<std::size_t>(n);
        const std::size_t of_first = std::min(done, first.size());
        first.remove_prefix(of_first);
        second.remove_prefix(std::min(done - of_first, second.size()));
        at += n;
    }
    const Status written = write(fd, first.data(), first.size(), at);
    return written.ok() ? write(fd, second.data(), second.size(), at + off_t(first.size()))
                        : written;
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
    if (errno != ENOSPC && errno != EDQUOT && errno != EFBIG)
        return {};
    return failure(Outcome::not_written, Op::reserve);
}

Status sync(int fd) {
    SystemCall call = on_fd(Op::sync, fd);
    if (perform(call, [](const SystemCall &c) { return long(::fsync(c.fd)); }) != 0)
        return failure(Outcome::not_written, Op::sync);
    return {};
}

Status sync_directory(char *path) {
    char *const slash = std::strrchr(path, '/');
    const char kept = slash != nullptr ? slash[1] : '\0';
    if (slash != nullptr)
        slash[1] = '\0';
    const char *const directory = slash != nullptr ? path : ".";
    Descriptor fd;
    Status synced = open(directory, Open::directory, fd);
    if (synced.ok()) {
        SystemCall call = on_fd(Op::sync, fd.get());
        call.path = directory;
        if (perform(call, [](const SystemCall &c) { return long(::fsync(c.fd)); }) != 0)
            synced = failure(Outcome::not_written, Op::sync);
    }
    if (slash != nullptr)
        slash[1] = kept;
    return synced.ok() ? synced : failed(Outcome::not_written, Op::sync, synced.error);
}

Status lock(int fd, Lock how) {
    const int operation = how == Lock::exclusive ? LOCK_EX : LOCK_SH;
    for (;;) {
        SystemCall call = on_fd(Op::lock, fd);
        if (perform(call, [operation](const SystemCall &c) {
                return long(::flock(c.fd, operation));
            }) == 0)
            return {};
        if (errno != EINTR)
            return failure(Outcome::not_opened, Op::lock);
    }
}

Status link(const char *existing, const char *name) {
    SystemCall call = on_name(Op::link, existing, name);
    if (perform(call, [](const SystemCall &c) { return long(::link(c.path, c.name)); }) != 0)
        return failure(Outcome::not_written, Op::link);
    return {};
}

Status rename_new(const char *existing, const char *name) {
    SystemCall call = on_name(Op::rename, existing, name);
    if (perform(call, [](const SystemCall &c) {
            return long(::renameat2(AT_FDCWD, c.path, AT_FDCWD, c.name, RENAME_NOREPLACE));
        }) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return failure(Outcome::not_written, Op::rename);
    if (const Status linked = link(existing, name); !linked.ok())
        return linked;
    // The file has its new name; an old name left behind is the caller's to
    // clear.
    (void)unlink(existing);
    return {};
}

Status unlink(const char *name) {
    SystemCall call = on_name(Op::unlink, name);
    if (perform(call, [](const SystemCall &c) { return long(::unlink(c.path)); }) != 0)
        return failure(Outcome::not_written, Op::unlink);
    return {};
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

namespace {

// The C library's resolution, one component at a time, where the kernel's
// name of an open file cannot be had (no /proc).
[[gnu::noinline]] Status resolve_again(const char *path, char *name, std::size_t size) {
    char resolved[PATH_MAX];
    SystemCall call = on_name(Op::name, path);
    if (perform(call, [&resolved](const SystemCall &c) {
            return ::realpath(c.path, resolved) != nullptr ? 0L : -1L;
        }) != 0)
        return failure(Outcome::not_opened, Op::name);
    if (std::strlen(resolved) >= size)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    std::strcpy(name, resolved);
    return {};
}

} // namespace

Status resolve(int fd, const char *path, char *name, std::size_t size) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    SystemCall call = on_name(Op::name, link);
    const long length = perform(
        call, [name, size](const SystemCall &c) { return long(::readlink(c.path, name, size)); });
    if (length > 0 && static_cast<std::size_t>(length) < size && name[0] == '/') {
        name[length] = '\0';
        return {};
    }
    return path != nullptr ? resolve_again(path, name, size)
                           : failed(Outcome::not_opened, Op::name, ENOENT);
}

namespace {

// Resolves the directory whose name is the first `length` bytes of `path`
// (none: the working directory) into `name`, through a descriptor of it.
Status resolve_directory(const char *path, std::size_t length, char *name, std::size_t size) {
    const auto directory_name = [&] {
        std::memcpy(name, length > 0 ? path : ".", length > 0 ? length : 1);
        name[length > 0 ? length : 1] = '\0';
    };
    directory_name();
    Descriptor directory;
    if (const Status opened = open(name, Open::directory, directory); !opened.ok())
        return opened;
    if (resolve(directory.get(), nullptr, name, size).ok())
        return {};
    directory_name();
    return resolve_again(name, name, size);
}

} // namespace

Status resolve_missing(const char *path, char *name, std::size_t size) {
    const char *const slash = std::strrchr(path, '/');
    const char *const base = slash != nullptr ? slash + 1 : path;
    const std::size_t length = slash != nullptr ? static_cast<std::size_t>(slash - path) + 1 : 0;
    if (*base == '\0' || length + 2 > size)
        return failed(Outcome::not_opened, Op::name, *base == '\0' ? EISDIR : ENAMETOOLONG);
    if (const Status resolved = resolve_directory(path, length, name, size); !resolved.ok())
        return resolved;
    const std::size_t resolved = std::strcmp(name, "/") == 0 ? 0 : std::strlen(name);
    if (resolved + 1 + std::strlen(base) >= size)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    name[resolved] = '/';
    std::strcpy(name + resolved + 1, base);
    return {};
}

void set_mode(int fd, mode_t mode) {
    (void)::fchmod(fd, mode);
}

uid_t user() {
    return ::geteuid();
}

off_t position(std::FILE *stream) {
    return ::ftello(stream);
}

bool seek(std::FILE *stream, off_t at) {
    return ::fseeko(stream, at, SEEK_SET) == 0;
}

bool appends(std::FILE *stream) {
    const int flags = ::fcntl(::fileno(stream), F_GETFL);
    return flags < 0 || (flags & O_APPEND) != 0;
}

bool bounds(std::FILE *stream, off_t &at, off_t &end) {
    if (appends(stream) || (at = position(stream)) < 0)
        return false;
    if (::fseeko(stream, 0, SEEK_END) == 0 && (end = position(stream)) >= 0)
        return true;
    (void)seek(stream, at);
    return false;
}

} // namespace io

Io::Io(std::FILE *stream) : fd_(::fileno(stream)), stream_(stream) {}

Status Io::read(char *to, std::size_t count, off_t at, std::size_t &got) const {
    if (stream_ == nullptr)
        return io::read(fd_, to, count, at, got);
    got = 0;
    SystemCall call = on_fd(Op::read, fd_, at, count);
    const long n = perform(call, [this, to](const SystemCall &c) {
        if (stream_at_ != c.at && ::fseeko(stream_, c.at, SEEK_SET) != 0)
            return -1L;
        const std::size_t read = std::fread(to, 1, c.size, stream_);
        return std::ferror(stream_) ? -1L : static_cast<long>(read);
    });
    if (n < 0) {
        stream_at_ = -1;
        return failure(Outcome::not_read, Op::read);
    }
    got = static_cast<std::size_t>(n);
    stream_at_ = at + static_cast<off_t>(got);
    return {};
}

Status Io::write(const char *from, std::size_t count, off_t at) const {
    if (stream_ == nullptr)
        return io::write(fd_, from, count, at);
    if (count == 0)
        return {};
    // Flushed at once, so a failed write shows here and not later.
    stream_at_ = -1;
    SystemCall call = on_fd(Op::write, fd_, at, count, from);
    const long n = perform(call, [this](const SystemCall &c) {
        return ::fseeko(stream_, c.at, SEEK_SET) == 0 &&
                       std::fwrite(c.data, 1, c.size, stream_) == c.size &&
                       std::fflush(stream_) == 0
                   ? static_cast<long>(c.size)
                   : -1L;
    });
    if (n != static_cast<long>(count)) {
        if (n >= 0)
            errno = ENOSPC;
        return failure(Outcome::not_written, Op::write);
    }
    return {};
}

Status Io::write(std::string_view first, std::string_view second, off_t at) const {
    if (stream_ == nullptr)
        return io::write(fd_, first, second, at);
    const Status written = write(first.data(), first.size(), at);
    return written.ok() ? write(second.data(), second.size(), at + off_t(first.size())) : written;
}

Status Io::truncate(off_t length) const {
    if (stream_ != nullptr && std::fflush(stream_) != 0)
        return failure(Outcome::not_written, Op::write);
    return io::truncate(fd_, length);
}

Status Io::reserve(off_t at, off_t length) const {
    return io::reserve(fd_, at, length);
}

#if INIPLACE_IO_HOOK
void set_io_hook(const IoHook *hook) {
    io_hook = hook;
}
#endif

} // namespace iniplace
