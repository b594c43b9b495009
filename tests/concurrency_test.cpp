// Several writers and readers on one file at once, in processes and
// threads, through the library and the tool. On every row: no edit that
// returned 0 is lost, no byte outside the edited lines changes (the file
// ends exactly as planned), and every read sees the file as it was before
// or after each edit (untouched keys always read as they are, edited ones
// as one of the values written, the list's first entry is always there).
#include "tool.h"

#include <sys/mman.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr int sections = 4, edited_keys = 3, keys = 5;

std::string initial() {
    std::string text = "; settings\nversion=1\n";
    for (int s = 0; s < sections; ++s) {
        text += "[s" + std::to_string(s) + "]\n";
        for (int k = 0; k < keys; ++k)
            text += "k" + std::to_string(k) + "=init" + std::to_string(s * 10 + k) + "\n";
        text += "\n";
    }
    return text + "[hosts]\nalpha\nbeta\n";
}

// What writer `section` writes in `round`: lengths vary, so tails move.
std::string value(int section, int round) {
    return "w" + std::to_string(section) + "r" + std::to_string(round) +
           std::string(static_cast<std::size_t>(round * 7 % 23), 'x');
}

std::string key(int k) {
    return "k" + std::to_string(k);
}

std::string section_name(int s) {
    return "s" + std::to_string(s);
}

// The file once the writer of each section in `written` (section, rounds)
// made its last round: the entries it added are gone again.
std::string final_file(const std::vector<std::pair<int, int>> &written) {
    std::string text = initial();
    for (const auto &[s, rounds] : written)
        for (int k = 0; k < edited_keys; ++k) {
            const std::string old = "=init" + std::to_string(s * 10 + k) + "\n";
            text.replace(text.find(old), old.size(), "=" + value(s, rounds - 1) + "\n");
        }
    return text;
}

enum class Kind {
    library,       // a process of its own, calling the library
    library_twice, // two threads of one process, sections s and s + 1
    tool_set,      // iniplace set, a process per key
    tool_apply,    // iniplace apply, a process per round
};

struct Writer {
    Kind kind;
    int section;
    int rounds;
};

// One writer's rounds; the number of calls that did not return 0.
int write_rounds(const std::string &path, int section, int rounds) {
    int failures = 0;
    const std::string entry = "e" + std::to_string(section);
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < edited_keys; ++k)
            failures += ini_setkey(path.c_str(), section_name(section).c_str(), key(k).c_str(),
                                   value(section, round).c_str()) != INI_OK;
        failures += ini_setsection_string(path.c_str(), "hosts", entry.c_str()) != INI_OK;
        failures += ini_delsection_string(path.c_str(), "hosts", entry.c_str()) != INI_OK;
    }
    return failures;
}

int tool_rounds(const std::string &path, const Writer &writer) {
    int failures = 0;
    const std::string section = section_name(writer.section);
    for (int round = 0; round < writer.rounds; ++round) {
        std::string fragment = "[" + section + "]\n";
        for (int k = 0; k < edited_keys; ++k) {
            if (writer.kind == Kind::tool_set)
                failures +=
                    run({"set", path, section, key(k), value(writer.section, round)}).status != 0;
            fragment += key(k) + "=" + value(writer.section, round) + "\n";
        }
        if (writer.kind == Kind::tool_apply)
            failures += run({"apply", path}, fragment).status != 0;
    }
    return failures;
}

int write(const std::string &path, const Writer &writer) {
    if (writer.kind == Kind::library)
        return write_rounds(path, writer.section, writer.rounds);
    if (writer.kind != Kind::library_twice)
        return tool_rounds(path, writer);
    int other = 0;
    std::thread second([&] { other = write_rounds(path, writer.section + 1, writer.rounds); });
    const int first = write_rounds(path, writer.section, writer.rounds);
    second.join();
    return first + other;
}

// Whether one reading of every key and of the list is of a whole file.
bool reads_whole(const std::string &path, int rounds) {
    char text[64];
    for (int s = 0; s < sections; ++s) {
        for (int k = 0; k < keys; ++k) {
            if (ini_getkey(path.c_str(), section_name(s).c_str(), key(k).c_str(), text,
                           sizeof text) != INI_OK)
                return false;
            const std::string read = text;
            bool known = read == "init" + std::to_string(s * 10 + k);
            for (int round = 0; round < rounds && k < edited_keys && !known; ++round)
                known = read == value(s, round);
            if (!known)
                return false;
        }
    }
    return ini_getsection(path.c_str(), "hosts", nullptr, INI_ENTRY_FIRST, text, sizeof text) ==
               INI_OK &&
           std::string(text) == "alpha";
}

class Concurrency : public FileTest {
  protected:
    Concurrency() { in_memory = true; }
};

TEST_F(Concurrency, WritersAndReadersTakeTurns) {
    const struct {
        const char *name;
        std::vector<Writer> writers;
        bool tool_reads;
    } rows[] = {
        {"library processes",
         {{Kind::library, 0, 150}, {Kind::library, 1, 150}, {Kind::library, 2, 150}},
         false},
        {"threads and a process", {{Kind::library_twice, 0, 150}, {Kind::library, 2, 150}}, false},
        {"library and tool",
         {{Kind::library, 0, 100}, {Kind::tool_apply, 1, 30}, {Kind::tool_set, 2, 10}},
         true},
    };
    for (const auto &row : rows) {
        put(initial());
        std::atomic<int> *done = static_cast<std::atomic<int> *>(
            mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                 MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        new (done) std::atomic<int>(0);
        std::vector<pid_t> writers, readers;
        std::vector<std::pair<int, int>> written;
        int rounds = 0;
        for (const Writer &writer : row.writers) {
            written.emplace_back(writer.section, writer.rounds);
            if (writer.kind == Kind::library_twice)
                written.emplace_back(writer.section + 1, writer.rounds);
            rounds = std::max(rounds, writer.rounds);
            if (const pid_t pid = checked_fork(); pid == 0)
                _exit(std::min(write(path, writer), 100));
            else
                writers.push_back(pid);
        }
        for (int r = 0; r < 2; ++r) {
            if (const pid_t pid = checked_fork(); pid == 0) {
                int torn = 0, reads = 0;
                for (; done->load() == 0 || reads == 0; ++reads) {
                    torn += !reads_whole(path, rounds);
                    if (row.tool_reads && r == 1)
                        torn += run({"get", path, "s3", "k4"}).out != "init34\n";
                }
                _exit(std::min(torn, 100));
            } else {
                readers.push_back(pid);
            }
        }
        int failed_edits = 0, torn_reads = 0, status = 0;
        for (const pid_t pid : writers) {
            waitpid(pid, &status, 0);
            failed_edits += WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        }
        done->store(1);
        for (const pid_t pid : readers) {
            waitpid(pid, &status, 0);
            torn_reads += WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        }
        munmap(done, sizeof(std::atomic<int>));
        EXPECT_EQ(failed_edits, 0) << row.name;
        EXPECT_EQ(torn_reads, 0) << row.name;
        EXPECT_TRUE(contents() == final_file(written))
            << row.name << ": an edit lost or a byte changed";
        EXPECT_FALSE(exists(path + "-journal")) << row.name;
    }
}

// Calls that keep coming keep no other call out: an edit waits only for
// the gets under way when it came, and gets only for the edit under way,
// so a busy file makes no call fail. On a file large enough that each
// call holds the lock a while, processes of one kind call in a loop while
// the others make their calls, every one of which must succeed.
TEST_F(Concurrency, CallsThatKeepComingKeepNoneOut) {
    std::string large = initial();
    for (int s = sections; large.size() < 300000; ++s)
        large += "[pad" + std::to_string(s) + "]\nk=" + std::string(200, 'p') + "\n";
    const auto get = [&] {
        char value[64];
        return ini_getkey(path.c_str(), "s3", "k4", value, sizeof value);
    };
    const auto set_key = [&] { return ini_setkey(path.c_str(), "s0", "k0", "v"); };
    const struct {
        const char *name;
        int looping;                 // processes calling in a loop
        std::function<int()> looped; // what they call
        int counted;                 // processes making `calls` calls each
        std::function<int()> counted_call;
    } rows[] = {
        {"16 getting in a loop, an edit", 16, get, 1, set_key},
        {"an edit in a loop, 8 getting", 1, set_key, 8, get},
    };
    constexpr int calls = 20;
    for (const auto &row : rows) {
        put(large);
        auto *done = static_cast<std::atomic<int> *>(mmap(nullptr, sizeof(std::atomic<int>),
                                                          PROT_READ | PROT_WRITE,
                                                          MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        new (done) std::atomic<int>(0);
        std::vector<pid_t> looping, counted;
        for (int i = 0; i < row.looping; ++i)
            if (const pid_t pid = checked_fork(); pid == 0) {
                while (done->load() == 0)
                    (void)row.looped();
                _exit(0);
            } else {
                looping.push_back(pid);
            }
        for (int i = 0; i < row.counted; ++i)
            if (const pid_t pid = checked_fork(); pid == 0) {
                int call = 0;
                while (call < calls && row.counted_call() == INI_OK)
                    ++call;
                _exit(calls - call);
            } else {
                counted.push_back(pid);
            }
        int failed = 0, status = 0;
        for (const pid_t pid : counted) {
            waitpid(pid, &status, 0);
            failed += WIFEXITED(status) ? WEXITSTATUS(status) : calls;
        }
        done->store(1);
        for (const pid_t pid : looping)
            waitpid(pid, nullptr, 0);
        munmap(done, sizeof(std::atomic<int>));
        EXPECT_EQ(failed, 0) << row.name << ": calls not made";
    }
}

// A batch of settings is one edit to readers: a walk of the section never
// sees some of a batch's keys and not the others, on a file the batch is
// made on in memory and on one made a setting at a time.
TEST_F(Concurrency, ReadersSeeAWholeBatchOrNone) {
    const auto same = [](void *user, const char *, const char *key, const char *value) {
        auto &seen = *static_cast<std::string *>(user);
        if (key[0] == 'k')
            seen += std::string(value) + ",";
        return 0;
    };
    for (const std::size_t pad : {std::size_t{0}, std::size_t{40000}}) {
        put("[net]\nk0=0\nk1=0\nk2=0\n[pad]\n" + std::string(pad, ';') + "\n");
        const pid_t writer = checked_fork();
        if (writer == 0) {
            int failed = 0;
            for (int round = 1; round <= 300; ++round) {
                const std::string v = std::to_string(round);
                const ini_setting batch[] = {
                    {"net", "k0", v.c_str()}, {"net", "k1", v.c_str()}, {"net", "k2", v.c_str()}};
                failed += ini_setkeys(path.c_str(), batch, 3) != INI_OK;
            }
            _exit(std::min(failed, 100));
        }
        int mixed = 0, status = 0;
        for (int read = 0; read < 2000 && waitpid(writer, &status, WNOHANG) == 0; ++read) {
            std::string seen;
            EXPECT_EQ(ini_getkeys(path.c_str(), "net", same, &seen), INI_OK);
            const std::string first = seen.substr(0, seen.find(',') + 1);
            mixed += seen != first + first + first;
        }
        waitpid(writer, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << pad;
        EXPECT_EQ(mixed, 0) << pad;
        EXPECT_EQ(contents().substr(0, 27), "[net]\nk0=300\nk1=300\nk2=300\n") << pad;
    }
}

// The wait for a lock held for good lasts its 5 seconds of the monotonic
// clock, however often a signal cuts a pause short and however busy the
// processors are; then the call fails.
TEST_F(Concurrency, TheWaitLastsItsTimeUnderSignalsAndLoad) {
    put(initial());
    chmod(path.c_str(), 0666);
    const Holder holder(path, write_lock);
    ASSERT_TRUE(holder.held());
    std::vector<pid_t> busy;
    for (int i = 0; i < 2; ++i)
        if (const pid_t pid = checked_fork(); pid == 0)
            for (volatile unsigned spin = 0;; ++spin) {
            }
        else
            busy.push_back(pid);
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigaction(SIGALRM, &action, nullptr);
    const itimerval every_100us = {{0, 100}, {0, 100}}, off = {};
    setitimer(ITIMER_REAL, &every_100us, nullptr);
    const auto start = std::chrono::steady_clock::now();
    char value[16];
    const int status = ini_getkey(path.c_str(), "s0", "k0", value, sizeof value);
    const auto waited = std::chrono::steady_clock::now() - start;
    setitimer(ITIMER_REAL, &off, nullptr);
    for (const pid_t pid : busy) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(status, INI_EOPEN);
    EXPECT_GE(waited, std::chrono::milliseconds(4950));
    EXPECT_LE(waited, std::chrono::milliseconds(7000));
}

// A byte of the lock held shared for good (as anyone who can read the file
// can) makes an edit wait, and fail in the end, while gets go on: the edit
// gives the other bytes back after a slice.
TEST_F(Concurrency, AByteHeldForGoodKeepsNoGetOut) {
    put(initial());
    const Holder reader(path, on_byte(read_lock, 8));
    ASSERT_TRUE(reader.held());
    const pid_t edit = checked_fork();
    if (edit == 0)
        _exit(ini_setkey(path.c_str(), "s0", "k0", "v") & 0xFF);
    usleep(200000);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 16; ++i) {
        char value[64];
        EXPECT_EQ(ini_getkey(path.c_str(), "s1", "k1", value, sizeof value), INI_OK);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    kill(edit, SIGKILL);
    waitpid(edit, nullptr, 0);
}

} // namespace
