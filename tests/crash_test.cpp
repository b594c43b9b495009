// The durable build under crashes: the process ends at a call that changes
// a file (a write, truncation, reservation, sync, link or unlink), at every
// such call of an edit and of the recovery that follows; the next call
// must then find the old file or the new one.
#include "io_hook.h"
#include "tool.h"

namespace {

using hook::Act;
using hook::stopped;

const std::string before = "p=1\n[net]\nport=80\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n" +
                           std::string(300, ';') + "\n";

std::string replaced(const std::string &from, const std::string &to) {
    return std::string(before).replace(before.find(from), from.size(), to);
}

class Crash : public FileTest {
  protected:
    std::string journal() const { return path + "-journal"; }
    // The file and its journal, as a crash left them.
    std::pair<std::string, std::optional<std::string>> state() const {
        return {contents(), exists(journal()) ? std::optional(contents(journal())) : std::nullopt};
    }
    void restore(const std::pair<std::string, std::optional<std::string>> &saved) const {
        put(saved.first);
        std::filesystem::remove(journal());
        if (saved.second)
            put(journal(), *saved.second);
    }
    // A get in a process of its own, which ends at its `crash`-th change
    // (none for 0).
    int get(int crash) const {
        return in_child([&] {
            if (crash > 0)
                hook::arm({hook::changes, crash}, Act::stop);
            char value[8];
            return ini_getkey(path.c_str(), "net", "port", value, sizeof value) == INI_EOPEN;
        });
    }
};

TEST_F(Crash, EveryPointLeavesTheOldOrTheNewFile) {
    const struct {
        const char *name;
        Call edit;
        std::string after;
    } kinds[] = {
        {"growing set", set("net", "port", "8080"), replaced("port=80\n", "port=8080\n")},
        {"shrinking set", set("net", "port", "8"), replaced("port=80\n", "port=8\n")},
        {"same-length set", set("net", "port", "81"), replaced("port=80\n", "port=81\n")},
        {"delete key", del("net", "host"), replaced("host=gw\n", "")},
        {"delete section", del_section("hosts"), replaced("[hosts]\nalpha\nbeta\n", "")},
        {"delete entry", drop("hosts", "alpha"), replaced("alpha\n", "")},
        {"add entry", add("hosts", "gamma"), replaced("beta\n", "beta\ngamma\n")},
    };
    int points = 0;
    for (const auto &kind : kinds) {
        for (int crash = 1;; ++crash) {
            restore({before, std::nullopt});
            const int edited = in_child([&] {
                hook::arm({hook::changes, crash}, Act::stop);
                return kind.edit(path.c_str());
            });
            const std::string where = std::string(kind.name) + ", crash " + std::to_string(crash);
            if (edited != stopped) {
                EXPECT_EQ(edited, INI_OK) << where;
                EXPECT_EQ(state(), std::make_pair(kind.after, std::optional<std::string>()))
                    << where;
                break;
            }
            ++points;
            const auto left = state();
            for (int again = 1;; ++again) {
                restore(left);
                const int recovered = get(again);
                ASSERT_TRUE(recovered == 0 || recovered == stopped) << where;
                points += recovered == stopped;
                ASSERT_EQ(get(0), 0) << where << ", recovery crash " << again;
                const std::string now = contents();
                EXPECT_TRUE(now == before || now == kind.after)
                    << where << ", recovery crash " << again << ":\n"
                    << now;
                EXPECT_FALSE(exists(journal())) << where;
                if (recovered != stopped)
                    break;
            }
        }
    }
    std::printf("[ crash    ] %d crash points checked\n", points);
}

// The tool reads the file itself: a retried edit must find the file put
// back, not judge the half-moved one.
TEST_F(Crash, ARetriedToolEditSeesThePutBackFile) {
    const std::string after = replaced("host=gw\n", "");
    for (int crash = 1;; ++crash) {
        restore({before, std::nullopt});
        if (in_child([&] {
                hook::arm({hook::changes, crash}, Act::stop);
                return del("net", "host")(path.c_str());
            }) != stopped)
            break;
        const Outcome retried = run({"del", path, "net", "host"});
        EXPECT_EQ(retried.status, 0) << crash << retried.err;
        EXPECT_EQ(state(), std::make_pair(after, std::optional<std::string>())) << crash;
    }
}

// What stands by the journal's name decides what a call does: a journal of
// another file (another size) is removed, anything that is no journal is
// left alone and the file used, and a journal someone else made stops
// every call, since it may hold the only good copy.
TEST_F(Crash, OnlyAJournalThatFitsIsApplied) {
    put(before);
    // At the first write to the file its journal is whole.
    ASSERT_EQ(in_child([&] {
                  hook::arm({{hook::Op::write}, 1, "t.ini"}, Act::stop);
                  return set("net", "port", "8080")(path.c_str());
              }),
              stopped);
    const std::string journal_bytes = contents(journal());
    const std::string other = before + "more lines\n", replacement = dir + "/replacement";
    const struct {
        const char *name;
        std::function<void(const std::string &)> make;
        int status;
        bool kept;
    } cases[] = {
        {"a journal of another file", [&](const std::string &j) { put(j, journal_bytes); }, 0,
         false},
        {"a journal of a file since replaced",
         [&](const std::string &j) {
             put(j, journal_bytes);
             put(replacement, std::string(before.size(), ';'));
             std::filesystem::rename(replacement, path);
         },
         0, false},
        {"no journal", [](const std::string &j) { put(j, "notes\n"); }, 0, true},
        {"a directory", [](const std::string &j) { std::filesystem::create_directory(j); }, 0,
         true},
        {"someone else's journal",
         [&](const std::string &j) {
             put(j, journal_bytes);
             EXPECT_TRUE(geteuid() != 0 || chown(j.c_str(), 65534, 65534) == 0);
         },
         geteuid() == 0, true},
    };
    for (const auto &c : cases) {
        put(other);
        std::filesystem::remove_all(journal());
        c.make(journal());
        const std::string now = contents();
        EXPECT_EQ(get(0), c.status) << c.name;
        EXPECT_EQ(contents(), now) << c.name;
        EXPECT_EQ(exists(journal()), c.kept) << c.name;
    }
}

// The state of a process from /proc: 'S' while it waits, 'Z' once ended.
char state_of(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 'Z';
}

// A call that finds the journal of an edit still running waits for the
// edit to end: undoing it half-way would leave neither file.
TEST_F(Crash, ACallWaitsForAnEditInProgress) {
    restore({before, std::nullopt});
    const pid_t writer = fork();
    if (writer == 0) {
        hook::arm({{hook::Op::write}, 1, "t.ini"}, Act::pause); // the journal is synced
        _exit(set("net", "port", "8080")(path.c_str()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, WUNTRACED), writer);
    ASSERT_TRUE(WIFSTOPPED(status));
    int at_lock[2];
    ASSERT_EQ(pipe(at_lock), 0);
    const pid_t reader = fork();
    if (reader == 0) {
        // Says when it is about to wait for the journal's lock.
        hook::arm({{hook::Op::lock}, 1, "-journal"}, Act::tell, at_lock[1]);
        _exit(get(0));
    }
    char told = 0;
    ASSERT_EQ(read(at_lock[0], &told, 1), 1);
    char reader_state = 'R';
    for (int polls = 0; polls < 10000 && (reader_state = state_of(reader)) == 'R'; ++polls)
        sched_yield();
    EXPECT_EQ(reader_state, 'S') << "the reader does not wait for the edit";
    kill(writer, SIGCONT);
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(state(),
              std::make_pair(replaced("port=80\n", "port=8080\n"), std::optional<std::string>()));
}

} // namespace
