// The lock of a file and its bounded wait on the monotonic clock.
#include "io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>

// The benchmarks build a copy of the library without locks, to measure what
// they cost.
#ifndef INIPLACE_LOCKS
#define INIPLACE_LOCKS 1
#endif

namespace iniplace {

namespace {

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
    const int error = io::last_error();
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
