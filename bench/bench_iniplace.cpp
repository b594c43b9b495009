// iniplace and the system-call floor on the same files and operations; built
// again on the library without its locks (BENCH_UNLOCKED), to measure them.
#ifndef BENCH_UNLOCKED
#define BENCH_UNLOCKED 0
#endif

#include "corpus.h"
#include "iniplace.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>

namespace {

using bench::Op;
using bench::Target;

bool run_iniplace(Op op, const Target &t, const char *path, const std::string &) {
    char value[256];
    long number = 0;
    switch (op) {
    case Op::get_start:
    case Op::get_middle:
    case Op::get_end:
        return ini_getkey(path, t.section.c_str(), t.key.c_str(), value, sizeof value) == INI_OK;
    case Op::get_typed:
        return ini_getkey_long(path, t.section.c_str(), t.key.c_str(), &number, 0) == INI_OK;
    case Op::set_same:
    case Op::set_longer:
    case Op::set_shorter:
    case Op::set_new:
    case Op::set_start:
    case Op::set_end:
        return ini_setkey(path, t.section.c_str(), t.key.c_str(), t.value.c_str()) == INI_OK;
    case Op::del_key:
        return ini_delkey(path, t.section.c_str(), t.key.c_str()) == INI_OK;
    case Op::del_section:
        return ini_delsect(path, t.section.c_str()) == INI_OK;
    case Op::entry_has:
        return ini_getsection(path, t.section.c_str(), t.value.c_str(), INI_ENTRY_MATCH, value,
                              sizeof value) == INI_OK;
    case Op::entry_add:
        return ini_setsection_string(path, t.section.c_str(), t.value.c_str()) == INI_OK;
    case Op::entry_remove:
        return ini_delsection_string(path, t.section.c_str(), t.value.c_str()) == INI_OK;
    case Op::startup_20:
    case Op::startup_200:
        for (const auto &[section, key] : t.keys)
            if (ini_getkey(path, section.c_str(), key.c_str(), value, sizeof value) != INI_OK)
                return false;
        return true;
    case Op::set_batch_10: {
        std::vector<ini_setting> batch;
        for (const auto &[section, key] : t.keys)
            batch.push_back({section.c_str(), key.c_str(), t.value.c_str()});
        return ini_setkeys(path, batch.data(), static_cast<int>(batch.size())) == INI_OK;
    }
    }
    return false;
}

// The keys a program reads at start-up, in one pass over the file: every
// key kept in a map by the callback, the wanted ones looked up there.
bool run_getkeys(Op, const Target &t, const char *path, const std::string &) {
    bench::KeyMap all;
    const auto keep = [](void *user, const char *section, const char *key, const char *value) {
        bench::keep_key(*static_cast<bench::KeyMap *>(user), section, key, value);
        return 0;
    };
    if (ini_getkeys(path, nullptr, keep, &all) != INI_OK)
        return false;
    return std::all_of(t.keys.begin(), t.keys.end(),
                       [&](const auto &key) { return all.count(key) != 0; });
}

bool is_startup(Op op) {
    return op == Op::startup_20 || op == Op::startup_200;
}

// The floor knows where the line is (found once per benchmark) and pays only
// the system calls: open, read up to the line, write what changes and the
// moved tail, shorten the file, close.
struct Edit {
    std::size_t at = 0;      // where the changed bytes start
    std::size_t old_len = 0; // bytes replaced there
    std::string text;        // bytes written there
};

std::size_t section_start(const std::string &content, const std::string &section) {
    return content.find("[" + section + "]\n");
}

std::size_t section_end(const std::string &content, const std::string &section) {
    const std::size_t next = content.find("\n[", section_start(content, section) + 1);
    return next == std::string::npos ? content.size() : next + 1;
}

std::size_t line_start(const std::string &content, const std::string &section,
                       const std::string &line) {
    return content.find("\n" + line, section_start(content, section)) + 1;
}

std::size_t line_end(const std::string &content, std::size_t start) {
    return content.find('\n', start) + 1;
}

Edit plan(Op op, const Target &t, const std::string &content) {
    Edit edit;
    switch (op) {
    case Op::set_new:
    case Op::entry_add:
        edit.at = section_end(content, t.section);
        edit.text = op == Op::set_new ? t.key + "=" + t.value + "\n" : t.value + "\n";
        break;
    case Op::del_section:
        edit.at = section_start(content, t.section);
        edit.old_len = section_end(content, t.section) - edit.at;
        break;
    case Op::entry_has:
    case Op::entry_remove:
        edit.at = line_start(content, t.section, t.value + "\n");
        edit.old_len = line_end(content, edit.at) - edit.at;
        break;
    default:
        edit.at = line_start(content, t.section, t.key + " =");
        edit.old_len = line_end(content, edit.at) - edit.at;
        if (op != Op::del_key)
            edit.text = t.key + "=" + t.value + "\n";
        break;
    }
    return edit;
}

char scratch[2 << 20];

bool read_up_to(int fd, std::size_t stop) {
    std::size_t done = 0;
    while (done < stop) {
        const ssize_t n = read(fd, scratch, 65536);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The least a program's start-up costs: the file read whole.
bool run_read_whole(Op, const Target &, const char *path, const std::string &content) {
    const int fd = open(path, O_RDONLY);
    std::size_t got = 0;
    for (ssize_t n; (n = read(fd, scratch, sizeof scratch)) > 0;)
        got += static_cast<std::size_t>(n);
    close(fd);
    return got == content.size();
}

// The plan of the benchmark running, made on its first call: later calls
// pay no search of the content.
const Edit &planned(Op op, const Target &t, const std::string &content) {
    static const Target *planned_for = nullptr;
    static Edit edit;
    if (planned_for != &t) {
        edit = plan(op, t, content);
        planned_for = &t;
    }
    return edit;
}

bool is_read(Op op) {
    return op == Op::get_start || op == Op::get_middle || op == Op::get_end ||
           op == Op::get_typed || op == Op::entry_has;
}

bool run_floor(Op op, const Target &t, const char *path, const std::string &content) {
    const Edit &edit = planned(op, t, content);
    const std::size_t stop = edit.at + edit.old_len;
    const bool reads_only = is_read(op);
    const int fd = open(path, reads_only ? O_RDONLY : O_RDWR);
    bool done = read_up_to(fd, stop);
    if (!reads_only && done) {
        const std::size_t tail = content.size() - stop;
        if (edit.text.size() == edit.old_len) {
            done = pwrite(fd, edit.text.data(), edit.text.size(), static_cast<off_t>(edit.at)) ==
                   static_cast<ssize_t>(edit.text.size());
        } else {
            done = pread(fd, scratch, tail, static_cast<off_t>(stop)) == static_cast<ssize_t>(tail);
            iovec parts[] = {{const_cast<char *>(edit.text.data()), edit.text.size()},
                             {scratch, tail}};
            done = done && pwritev(fd, parts, 2, static_cast<off_t>(edit.at)) ==
                               static_cast<ssize_t>(edit.text.size() + tail);
            if (edit.text.size() < edit.old_len)
                done = done &&
                       ftruncate(fd, static_cast<off_t>(edit.at + edit.text.size() + tail)) == 0;
        }
    }
    close(fd);
    return done;
}

// What a reader bound by the library's own rules pays before it parses: the
// check that the path is a regular file (fstat), and reads in blocks of the
// library's size up to the line. With `search`, it also stops at every `[`
// before the line, as a header search by memchr() must. For reads only.
template <bool search>
bool run_checked(Op op, const Target &t, const char *path, const std::string &content) {
    constexpr std::size_t block = 16384; // the library's default read block
    const Edit &edit = planned(op, t, content);
    const std::size_t stop = edit.at + edit.old_len;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat info;
    bool done = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    for (std::size_t at = 0; done && at < stop; at += block) {
        const std::size_t count = std::min(block, static_cast<std::size_t>(info.st_size) - at);
        done = pread(fd, scratch, count, static_cast<off_t>(at)) == static_cast<ssize_t>(count);
        if constexpr (search) {
            const char *from = scratch;
            const char *const end = scratch + std::min(count, stop - at); // up to the line
            std::size_t brackets = 0;
            while (done && (from = static_cast<const char *>(std::memchr(
                                from, '[', static_cast<std::size_t>(end - from)))) != nullptr) {
                ++from;
                ++brackets;
            }
            benchmark::DoNotOptimize(brackets);
        }
    }
    close(fd);
    return done;
}

// What a careful program does to save a file safely, for the durable
// build to be measured against: the whole new file written under a
// temporary name, synced, renamed over the old one, its directory synced.
bool run_safe_save(Op op, const Target &t, const char *path, const std::string &content) {
    const Edit &edit = planned(op, t, content);
    const std::string temporary = std::string(path) + ".new";
    const int fd = open(path, O_RDONLY);
    std::size_t got = 0;
    for (ssize_t n; got < content.size() && (n = read(fd, scratch + got, 65536)) > 0;)
        got += static_cast<std::size_t>(n);
    close(fd);
    bool done = got == content.size();
    const std::string head(scratch, edit.at),
        tail(scratch + edit.at + edit.old_len, content.size() - edit.at - edit.old_len);
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    iovec parts[] = {{const_cast<char *>(head.data()), head.size()},
                     {const_cast<char *>(edit.text.data()), edit.text.size()},
                     {const_cast<char *>(tail.data()), tail.size()}};
    done = out >= 0 && writev(out, parts, 3) ==
                           static_cast<ssize_t>(head.size() + edit.text.size() + tail.size());
    done = fsync(out) == 0 && close(out) == 0 && done;
    done = done && rename(temporary.c_str(), path) == 0;
    const std::string directory = std::string(path).substr(0, std::string(path).rfind('/'));
    const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    done = fsync(dir) == 0 && done;
    close(dir);
    return done;
}

bool is_edit(Op op) {
    return !is_read(op);
}

} // namespace

int main(int argc, char **argv) {
#if BENCH_UNLOCKED
    // The library built without its locks: only its own calls.
    bench::register_all(
        "unlocked", [](Op) { return true; }, run_iniplace);
    return bench::main(argc, argv);
#endif
    bench::register_all(
        "iniplace", [](Op) { return true; }, run_iniplace);
    bench::register_all("getkeys", is_startup, run_getkeys);
    bench::register_all(
        "floor", [](Op op) { return !is_startup(op) && op != Op::set_batch_10; }, run_floor);
    bench::register_all("floor", is_startup, run_read_whole);
    bench::register_all("checked", is_read, run_checked<false>);
    bench::register_all("searched", is_read, run_checked<true>);
    bench::register_all(
        "safe_save", [](Op op) { return is_edit(op) && !is_startup(op) && op != Op::set_batch_10; },
        run_safe_save);
    return bench::main(argc, argv);
}
