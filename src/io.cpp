#include "io.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

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
        return O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
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
    case Open::path:
        return O_PATH | O_NOFOLLOW | O_CLOEXEC;
    case Open::directory:
        return O_PATH | O_DIRECTORY | O_CLOEXEC;
    case Open::listing:
        return O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    }
    return O_RDONLY | common_flags;
}

// What a failed open means, by its error.
Status open_failure(Open how) {
    switch (io::last_error()) {
    case ENOENT:
        return io::failure(Outcome::missing, Op::open);
    case EEXIST:
        return io::failure(Outcome::exists, Op::open);
    case EISDIR:
        return io::failure(Outcome::not_regular, Op::open);
    case ELOOP:
        if (how != Open::read && how != Open::update)
            return io::failure(Outcome::linked, Op::open);
        break;
    case ENAMETOOLONG:
        // Nothing can stand at a name too long to be made.
        if (how == Open::found)
            return io::failure(Outcome::missing, Op::open);
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        return io::failure(Outcome::denied, Op::open);
    default:
        break;
    }
    return io::failure(Outcome::not_opened, Op::open);
}

void describe(const struct stat &st, FileInfo &info) {
    info.size = st.st_size;
    info.regular = S_ISREG(st.st_mode);
    info.directory = S_ISDIR(st.st_mode);
    info.link = S_ISLNK(st.st_mode);
    info.sparse = st.st_blocks * 512 < st.st_size;
    info.links = st.st_nlink;
    info.owner = st.st_uid;
    info.group = st.st_gid;
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

} // namespace

int Descriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    held_ = Held::none;
    return fd;
}

void Descriptor::reset() {
    if (fd_ >= 0) {
        let_go();
        ::close(fd_);
    }
    fd_ = -1;
}

namespace io {

int last_error() {
    return errno != 0 ? errno : EIO;
}

SystemCall on_fd(Op op, int fd, off_t at, std::size_t size, const char *data) {
    return {op, fd, nullptr, nullptr, at, size, data, nullptr, 0, nullptr, 0, nullptr};
}

SystemCall on_name(Op op, int directory, const char *path, const char *name) {
    return {op, directory, path, name, 0, 0, nullptr, nullptr, 0, nullptr, 0, nullptr};
}

Status failure(Outcome outcome, Op op) {
    return failed(outcome, op, last_error());
}

Status open(int directory, const char *name, Open how, Descriptor &fd) {
    SystemCall call = on_name(Op::open, directory, name);
    call.flags = flags_for(how);
    const long opened = perform(call, [how](const SystemCall &c) {
        return long(::openat(c.fd, c.path, c.flags, how == Open::fresh ? owner_only : 0666));
    });
    if (opened < 0)
        return open_failure(how);
    fd = Descriptor(static_cast<int>(opened));
    return {};
}

Status open_direct(const char *path, Open how, Descriptor &fd) {
    SystemCall call = on_name(Op::open, here, path);
    call.flags = flags_for(how);
    const long opened = perform(call, [](const SystemCall &c) {
#ifdef SYS_openat2
        open_how way{};
        way.flags = static_cast<unsigned>(c.flags);
        way.resolve = RESOLVE_NO_SYMLINKS;
        return ::syscall(SYS_openat2, c.fd, c.path, &way, sizeof way);
#else
        errno = ENOSYS;
        return -1L;
#endif
    });
    if (opened >= 0) {
        fd = Descriptor(static_cast<int>(opened));
        return {};
    }
    // A link on the way, or a kernel (or a filter) that does not know the
    // call: the caller resolves the name step by step.
    const int error = last_error();
    if (error == ELOOP || error == ENOSYS || error == EINVAL || error == EPERM || error == E2BIG)
        return failed(Outcome::linked, Op::open, error);
    return open_failure(how);
}

Status open_for_writing(int fd, Descriptor &writable) {
    char name[32];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    return open(here, name, Open::update, writable);
}

bool is_open(int fd) {
    SystemCall call = on_fd(Op::stat, fd);
    return perform(call, [](const SystemCall &c) { return long(::fcntl(c.fd, F_GETFD)); }) >= 0 ||
           last_error() != EBADF;
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

Status stat(int directory, const char *name, FileInfo &info) {
    struct stat st {};
    SystemCall call = on_name(Op::stat, directory, name);
    call.info = &info;
    if (perform(call, [&st, &info](const SystemCall &c) {
            const int done = ::fstatat(c.fd, c.path, &st, AT_SYMLINK_NOFOLLOW);
            describe(st, info);
            return long(done);
        }) != 0)
        return failure(last_error() == ENOENT ? Outcome::missing : Outcome::not_opened, Op::stat);
    return {};
}

Status still_names(int directory, const char *name, const FileInfo &info) {
    FileInfo named;
    const Status found = stat(directory, name, named);
    if (found.is(Outcome::missing) || (found.ok() && !same_file(named, info)))
        return failed(Outcome::replaced, Op::stat);
    return found;
}

Status read(int fd, char *to, std::size_t count, off_t at, std::size_t &got) {
    got = 0;
    while (got < count) {
        SystemCall call = on_fd(Op::read, fd, at + off_t(got), count - got);
        const long n = perform(call, [to, got](const SystemCall &c) {
            return long(::pread(c.fd, to + got, c.size, c.at));
        });
        if (n < 0 && errno == EINTR)
            continue;
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
        if (n < 0 && errno == EINTR)
            continue;
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
        long n = 0;
        do {
            n = perform(call, [](const SystemCall &c) {
                iovec parts[] = {{const_cast<char *>(c.data), c.size},
                                 {const_cast<char *>(c.more), c.more_size}};
                return long(::pwritev(c.fd, parts, c.more_size > 0 ? 2 : 1, c.at));
            });
        } while (n < 0 && errno == EINTR);
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

Status sync_directory(int directory) {
    Descriptor listing;
    if (const Status opened = open(directory, ".", Open::listing, listing); !opened.ok())
        return opened;
    return sync(listing.get());
}

Status link(int directory, const char *existing, const char *name) {
    SystemCall call = on_name(Op::link, directory, existing, name);
    if (perform(call, [](const SystemCall &c) {
            return long(::linkat(c.fd, c.path, c.fd, c.name, 0));
        }) == 0)
        return {};
    return failure(last_error() == EEXIST ? Outcome::exists : Outcome::not_written, Op::link);
}

Status rename_new(int directory, const char *existing, const char *name) {
    SystemCall call = on_name(Op::rename, directory, existing, name);
    if (perform(call, [](const SystemCall &c) {
            return long(::renameat2(c.fd, c.path, c.fd, c.name, RENAME_NOREPLACE));
        }) == 0)
        return {};
    const int error = last_error();
    if (error != EINVAL && error != ENOSYS)
        return failure(error == EEXIST ? Outcome::exists : Outcome::not_written, Op::rename);
    if (const Status linked = link(directory, existing, name); !linked.ok())
        return linked;
    // The file has its new name; an old name left behind is the caller's to
    // clear.
    (void)unlink(directory, existing);
    return {};
}

Status unlink(int directory, const char *name) {
    SystemCall call = on_name(Op::unlink, directory, name);
    if (perform(call, [](const SystemCall &c) { return long(::unlinkat(c.fd, c.path, 0)); }) == 0)
        return {};
    return failure(last_error() == ENOENT ? Outcome::missing : Outcome::not_written, Op::unlink);
}

Status within_size_limit(off_t size) {
    // getrlimit cannot fail for RLIMIT_FSIZE; where a test's hook fails it,
    // the limit is unknown and the write itself meets it (as EFBIG).
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
    // umask cannot fail; a test's hook can fail it, and then no mode is
    // made up.
    if (perform(call, [&mask](const SystemCall &) {
            mask = ::umask(077);
            ::umask(mask);
            return 0L;
        }) != 0)
        return failure(Outcome::not_written, Op::mode);
    mode = 0666 & ~mask;
    return {};
}

Status read_link(int fd, char *target, std::size_t size) {
    SystemCall call = on_fd(Op::name, fd);
    const long length = perform(call, [target, size](const SystemCall &c) {
        return long(::readlinkat(c.fd, "", target, size));
    });
    if (length < 0)
        return failure(Outcome::not_opened, Op::name);
    if (static_cast<std::size_t>(length) >= size)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    target[length] = '\0';
    return {};
}

Status mounted_with(int fd, int directory) {
    std::uint64_t mounts[2] = {};
    for (const int each : {fd, directory}) {
        struct statx info {};
        SystemCall call = on_fd(Op::stat, each);
        const long done = perform(call, [&info](const SystemCall &c) {
            return long(::statx(c.fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &info));
        });
        if (done != 0 || (info.stx_mask & STATX_MNT_ID) == 0)
            return {};
        mounts[each == fd ? 0 : 1] = info.stx_mnt_id;
    }
    return mounts[0] == mounts[1] ? Status() : failed(Outcome::mounted, Op::stat, EXDEV);
}

uid_t user() {
    return ::geteuid();
}

} // namespace io
} // namespace iniplace
