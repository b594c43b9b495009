// The library's io hook, for tests linked with a hooked build: fails or
// ends a call named by its kind, its file and its number, or runs an
// action there, and records every call.
#pragma once

#include "io.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace hook {

using iniplace::Op;
using iniplace::SystemCall;

constexpr int stopped = 42; // the exit status of a process a hook ended

// A call: the `nth` (from 1) of the kinds in `ops` since arming, on a file
// whose name ends in `file` (any file when empty), of `size` bytes when not
// 0; with `every`, each of them from the nth on.
struct Point {
    std::vector<Op> ops;
    int nth = 1;
    std::string file;
    bool every = false;
    std::size_t size = 0;
};

enum class Act {
    fail,      // the call fails with `error`
    stop,      // the process ends, as in a crash
    fill_disk, // the call writes half its bytes, every later write none
    run,       // state().action runs first, then the call
    shorten,   // the call (a read) takes half its bytes, at least one
};

// One call as it was made: its kind and the file it was on.
struct Record {
    Op op;
    std::string file;
    off_t at;
    std::string data; // a write's bytes
    long result;
    std::string name; // link, rename: the new name
    int flags;        // open: its flags
};

// The files changed by a call of these kinds: where a crash can bite.
inline const std::vector<Op> changes = {Op::write, Op::truncate, Op::reserve, Op::sync,
                                        Op::link,  Op::rename,   Op::unlink};

struct State {
    Point point;
    Act act = Act::fail;
    int error = ENOSPC;
    int seen = 0; // calls that matched point.ops and point.file
    bool armed = false, full = false;
    std::function<void()> action;     // Act::run
    long paused_us = 0;               // the pauses of lock waits
    std::map<int, std::string> names; // descriptor -> file name
    std::vector<Record> calls;
};

inline State &state() {
    static State current;
    return current;
}

inline std::string file_of(const SystemCall &call) {
    if (call.path != nullptr)
        return call.path;
    const auto named = state().names.find(call.fd);
    return named != state().names.end() ? named->second : std::string();
}

// What the armed act makes of a call at the point: 0 to make it, or an
// error to fail it with.
inline int act_on(SystemCall &call) {
    State &s = state();
    switch (s.act) {
    case Act::fail:
        return s.error;
    case Act::stop:
        _exit(stopped);
    case Act::run:
        s.action();
        return 0;
    case Act::shorten:
        call.size = std::max<std::size_t>(1, call.size / 2);
        return 0;
    case Act::fill_disk:
        s.full = true;
        call.size /= 2;
        call.more_size = 0;
        return call.size == 0 ? ENOSPC : 0;
    }
    return 0;
}

inline int before(SystemCall &call) {
    State &s = state();
    if (s.full && call.op == Op::write)
        return ENOSPC;
    const std::string file = file_of(call);
    const bool kind =
        std::find(s.point.ops.begin(), s.point.ops.end(), call.op) != s.point.ops.end();
    const bool sized = s.point.size == 0 || call.size == s.point.size;
    const bool at_point =
        s.armed && kind && sized && file.size() >= s.point.file.size() &&
        file.compare(file.size() - s.point.file.size(), s.point.file.size(), s.point.file) == 0 &&
        (++s.seen == s.point.nth || (s.point.every && s.seen > s.point.nth));
    if (const int error = at_point ? act_on(call) : 0; error != 0)
        return error;
    // A lock wait runs in no time: its pauses are counted, not slept, and
    // the clock shows the time they add up to.
    if (call.op == Op::pause) {
        s.paused_us += call.at;
        return EINTR;
    }
    if (call.op == Op::clock) {
        call.at = s.paused_us;
        return EINTR;
    }
    return 0;
}

inline void after(const SystemCall &call, long result) {
    State &s = state();
    // A file opened again through its descriptor is the file it names.
    constexpr std::string_view by_descriptor = "/proc/self/fd/";
    if (call.op == Op::open && result >= 0)
        s.names[static_cast<int>(result)] =
            std::string_view(call.path).substr(0, by_descriptor.size()) == by_descriptor
                ? s.names[std::atoi(call.path + by_descriptor.size())]
                : call.path;
    std::string data;
    if (call.op == Op::write && result > 0)
        data = (std::string(call.data, call.size) + std::string(call.more, call.more_size))
                   .substr(0, static_cast<std::size_t>(result));
    s.calls.push_back({call.op, file_of(call), call.at, data, result,
                       call.name != nullptr ? call.name : "", call.flags});
}

inline const iniplace::IoHook installed = {before, after};

// Arms the hook: `act` at `point` (`error` is the error a failing call
// reports, or the descriptor told); every call is recorded from now on.
inline void arm(const Point &point, Act act, int error = ENOSPC) {
    State &s = state();
    s = State{point, act, error, 0, true, false, {}, 0, {}, {}};
    iniplace::set_io_hook(&installed);
}

// Only records.
inline void record() {
    arm({}, Act::fail);
    state().armed = false;
}

inline void disarm() {
    iniplace::set_io_hook(nullptr);
}

// How many of the recorded calls were of kind `op` on `file` (as the
// library names it: in its directory).
inline long count(Op op, const std::string &file) {
    return std::count_if(state().calls.begin(), state().calls.end(),
                         [&](const Record &call) { return call.op == op && call.file == file; });
}

// Whether the armed point was reached.
inline bool reached() {
    return state().seen >= state().point.nth;
}

} // namespace hook
