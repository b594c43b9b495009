#include "io.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

int last_error() {
    return errno != 0 ? errno : EIO;
}

// What a failed open means, by its error.
Status open_failure(Open how) {
    switch (last_error()) {
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

// The lock of a file the library reads or edits is made of open file
// description locks (fcntl's F_OFD_SETLK, which belong to the open file,
// not the process) on bytes that stand for it, whether or not the file
// reaches them, and of flock(2):
// - a get takes one of `stripes` bytes shared, another from call to call;
//   an edit takes all of them exclusively: a waiting edit gets them one by
//   one as gets let them go, and a get that comes meanwhile finds its byte
//   taken and waits, so gets that keep coming cannot keep an edit out. An
//   edit that has not got them all within a slice lets them go and starts
//   again, so that a byte held for good holds up the gets that meet its
//   bytes no longer than a slice;
// - byte 0 is the gets' queue: a get that waits for an edit holds it
//   shared, and an edit takes the stripes only once nobody holds it, so an
//   edit that comes right after another lets the gets that waited for the
//   first go before it;
// - an edit takes flock(2) on the file exclusively first, so that edits
//   and scripts wrapped in flock(1) take turns; byte 1 is the edits' queue:
//   an edit that found the flock taken holds it shared until it gets the
//   flock, and an edit that did not wait lets those that wait go first.
// Gets take no flock: taking a flock, or a shared byte lock, needs only
// read access, while the locks a get waits for need write access, so a user
// who can only read the file cannot make gets fail (she can make edits
// fail, and the gets that meet an edit wait a slice at most).
constexpr off_t gets_queue = 0;
constexpr off_t edits_queue = 1;
constexpr off_t first_stripe = 2;
constexpr off_t stripes = 16;
constexpr long slice_ms = 50;
// How a lock call appears to the test hook, in SystemCall::flags: a flock
// operation as it is, a byte lock as one of these plus its fcntl type.
constexpr int byte_lock = 0x100;
constexpr int byte_test = 0x200;

// One flock(2) call; `operation` LOCK_UN lets go.
long flock_call(Op op, int fd, int operation) {
    SystemCall call = io::on_fd(op, fd);
    call.flags = operation;
    return io::perform(call, [](const SystemCall &c) {
        return long(::flock(c.fd, c.flags == LOCK_UN ? LOCK_UN : c.flags | LOCK_NB));
    });
}

// One byte-range lock call on [start, start + length), to the end of the
// file for length 0; a test fills `found` with what conflicts.
long byte_call(Op op, int fd, short type, off_t start, off_t length, bool test = false,
               struct flock *found = nullptr) {
    SystemCall call = io::on_fd(op, fd, start, static_cast<std::size_t>(length));
    call.flags = (test ? byte_test : byte_lock) + type;
    struct flock range {};
    return io::perform(call, [&range, found](const SystemCall &c) {
        range.l_type = static_cast<short>(c.flags & 0xFF);
        range.l_whence = SEEK_SET;
        range.l_start = c.at;
        range.l_len = static_cast<off_t>(c.size);
        const bool tests = (c.flags & byte_test) != 0;
        const long done = ::fcntl(c.fd, tests ? F_OFD_GETLK : F_OFD_SETLK, &range);
        if (found != nullptr)
            *found = range;
        return done;
    });
}

// What a lock call that failed means: taken by someone else (busy), cut
// short by a signal (to be tried again), or an error.
Status lock_failure() {
    const int error = last_error();
    if (error == EWOULDBLOCK || error == EAGAIN || error == EACCES)
        return failed(Outcome::busy, Op::lock, error);
    return io::failure(Outcome::not_opened, Op::lock);
}

template <typename Call> Status try_once(Call call) {
    for (;;) {
        if (call() == 0)
            return {};
        if (errno != EINTR)
            return lock_failure();
    }
}

Status try_flock(int fd) {
    return try_once([fd] { return flock_call(Op::lock, fd, LOCK_EX); });
}

Status try_bytes(int fd, short type, off_t start, off_t length) {
    return try_once([=] { return byte_call(Op::lock, fd, type, start, length); });
}

// Whether no other open file holds [start, start + length) shared or
// exclusively.
Status nobody_holds(int fd, off_t start, off_t length) {
    struct flock found {};
    const Status tested =
        try_once([&] { return byte_call(Op::lock, fd, F_WRLCK, start, length, true, &found); });
    if (!tested.ok())
        return tested;
    return found.l_type == F_UNLCK ? Status() : failed(Outcome::busy, Op::lock, EAGAIN);
}

// The flock of an edit, taken in turn: an edit that found it taken queues
// (`queued`) until it gets it; one that did not lets the queued go first.
Status take_turn(int fd, bool &queued) {
    Status taken = try_flock(fd);
    if (taken.ok() && !queued) {
        taken = nobody_holds(fd, edits_queue, 1);
        if (!taken.ok())
            (void)flock_call(Op::unlock, fd, LOCK_UN); // and tried again
    }
    if (taken.is(Outcome::busy) && !queued)
        queued = try_bytes(fd, F_RDLCK, edits_queue, 1).ok();
    return taken;
}

// Takes the stripes not yet in `taken` (a bit each), all at once when none
// is.
Status take_stripes(int fd, unsigned &taken) {
    constexpr unsigned all = (1u << stripes) - 1;
    if (taken == 0 && try_bytes(fd, F_WRLCK, first_stripe, stripes).ok())
        taken = all;
    for (off_t stripe = 0; stripe < stripes && taken != all; ++stripe) {
        const unsigned bit = 1u << stripe;
        if ((taken & bit) != 0)
            continue;
        const Status got = try_bytes(fd, F_WRLCK, first_stripe + stripe, 1);
        if (got.ok())
            taken |= bit;
        else if (!got.is(Outcome::busy))
            return got;
    }
    return taken == all ? Status() : failed(Outcome::busy, Op::lock, EAGAIN);
}

// The stripe of this call: which one matters only in that calls that run
// at once mostly take different ones.
off_t stripe_of_call() {
    timespec time{};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    const int local = 0;
    auto mix = reinterpret_cast<std::uintptr_t>(&local) ^ static_cast<std::uintptr_t>(time.tv_nsec);
    mix ^= mix >> 13;
    mix ^= mix >> 7;
    return first_stripe + static_cast<off_t>(mix % static_cast<std::uintptr_t>(stripes));
}

// Tries `attempt` until it is no longer busy, pausing in between, while
// `patience` lasts (and `slice`, when given).
template <typename Attempt>
Status wait_for(Patience &patience, Attempt attempt, Patience *slice = nullptr) {
    constexpr long first_pause_us = 100, longest_pause_us = 10000;
    for (long pause_us = first_pause_us;; pause_us = std::min(pause_us * 2, longest_pause_us)) {
        const Status taken = attempt();
        if (!taken.is(Outcome::busy))
            return taken;
        long left = patience.left_us();
        if (slice != nullptr)
            left = std::min(left, slice->left_us());
        if (left == 0)
            return taken;
        io::pause(std::min(pause_us, left));
    }
}

Status lock_shared(Descriptor &fd, Patience &patience) {
    const off_t stripe = stripe_of_call();
    fd.hold(Held::shared);
    Status taken = try_bytes(fd.get(), F_RDLCK, stripe, 1);
    if (taken.is(Outcome::busy)) {
        // An edit holds it: queue, so that the next edit lets this get go
        // first, and wait for the byte.
        taken = wait_for(patience, [&] { return try_bytes(fd.get(), F_RDLCK, gets_queue, 1); });
        if (taken.ok())
            taken = wait_for(patience, [&] { return try_bytes(fd.get(), F_RDLCK, stripe, 1); });
        // Out of the queue once in: a long read holds up no edit's start
        // (a byte not let go here is let go with the rest).
        if (taken.ok())
            (void)byte_call(Op::unlock, fd.get(), F_UNLCK, gets_queue, 1);
    }
    if (!taken.ok())
        fd.let_go();
    return taken;
}

Status lock_exclusive(Descriptor &fd, Patience &patience) {
    fd.hold(Held::exclusive);
    bool queued = false;
    Status taken = wait_for(patience, [&] { return take_turn(fd.get(), queued); });
    // Out of the edits' queue once in (or with the rest, if that fails).
    if (taken.ok() && queued)
        (void)byte_call(Op::unlock, fd.get(), F_UNLCK, edits_queue, 1);
    while (taken.ok()) {
        taken = wait_for(patience, [&] { return nobody_holds(fd.get(), gets_queue, 1); });
        unsigned taken_stripes = 0;
        Patience slice(slice_ms);
        if (taken.ok())
            taken = wait_for(
                patience, [&] { return take_stripes(fd.get(), taken_stripes); }, &slice);
        if (!taken.is(Outcome::busy) || patience.left_us() == 0)
            break;
        // The slice is over: the stripes it got go back to the gets that
        // wait for them (or with the rest, if that fails).
        (void)byte_call(Op::unlock, fd.get(), F_UNLCK, first_stripe, stripes);
        taken = {};
    }
    if (!taken.ok())
        fd.let_go();
    return taken;
}

long microseconds_between(const timespec &from, const timespec &to) {
    return static_cast<long>(to.tv_sec - from.tv_sec) * 1000000 +
           (to.tv_nsec - from.tv_nsec) / 1000;
}

} // namespace

NoCancel::NoCancel() {
    (void)::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_state_); // cannot fail so
}

NoCancel::~NoCancel() {
    int ignored = 0;
    (void)::pthread_setcancelstate(old_state_, &ignored);
}

int Descriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    held_ = Held::none;
    return fd;
}

void Descriptor::let_go() {
    if (fd_ < 0 || held_ == Held::none)
        return;
    // Nothing can fail here that the call could act on: a lock that could
    // not be let go ends with the descriptor's close, unless a child forked
    // meanwhile keeps the open file.
    if (held_ == Held::shared || held_ == Held::exclusive)
        (void)byte_call(Op::unlock, fd_, F_UNLCK, gets_queue, 0);
    if (held_ == Held::exclusive || held_ == Held::side)
        (void)flock_call(Op::unlock, fd_, LOCK_UN);
    held_ = Held::none;
}

void Descriptor::reset() {
    if (fd_ >= 0) {
        let_go();
        ::close(fd_);
    }
    fd_ = -1;
}

long Patience::left_us() {
    const timespec now = io::now();
    if (!started_) {
        started_ = true;
        deadline_ = now;
        deadline_.tv_sec += wait_ms_ / 1000;
        deadline_.tv_nsec += wait_ms_ % 1000 * 1000000;
        if (deadline_.tv_nsec >= 1000000000) {
            deadline_.tv_nsec -= 1000000000;
            ++deadline_.tv_sec;
        }
    }
    const long left = microseconds_between(now, deadline_);
    return std::clamp(left, 0L, wait_ms_ * 1000);
}

namespace io {

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
        return long(::openat(c.fd, c.path, c.flags, how == Open::fresh ? 0600 : 0666));
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

Status lock(Descriptor &fd, Lock how, Patience &patience) {
    if constexpr (INIPLACE_LOCKS == 0)
        return {};
    return how == Lock::exclusive ? lock_exclusive(fd, patience) : lock_shared(fd, patience);
}

Status lock_side(Descriptor &fd, Patience &patience) {
    if constexpr (INIPLACE_LOCKS == 0)
        return {};
    fd.hold(Held::side);
    const Status taken = wait_for(patience, [&] { return try_flock(fd.get()); });
    if (!taken.ok())
        fd.let_go();
    return taken;
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

timespec now() {
    timespec time{};
    SystemCall call = on_fd(Op::clock, -1);
    if (perform(call, [&time](const SystemCall &) {
            return long(::clock_gettime(CLOCK_MONOTONIC, &time));
        }) != 0) {
        // The time a hook gives, in microseconds; a long holds it, and its
        // division needs no helper of the compiler's run time on a 32-bit
        // target.
        const long us = static_cast<long>(call.at);
        time = {static_cast<time_t>(us / 1000000), us % 1000000 * 1000};
    }
    return time;
}

void pause(long microseconds) {
    SystemCall call = on_fd(Op::pause, -1, microseconds);
    (void)perform(call, [](const SystemCall &c) {
        // A pause is at most 10 ms: a long holds it.
        const long us = static_cast<long>(c.at);
        const timespec span{static_cast<time_t>(us / 1000000), us % 1000000 * 1000};
        return long(::nanosleep(&span, nullptr));
    });
}

} // namespace io
} // namespace iniplace
