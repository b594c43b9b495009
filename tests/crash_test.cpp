// The durable build under crashes: the process ends at a call that changes
// a file (a write, truncation, reservation, sync, link, rename or unlink),
// at every such call of an edit and of the recovery that follows; the next
// call must then find the old file or the new one. And what a reboot, a damaged
// journal or another name of the file does to that.
#include "helpers.h"
#include "io_hook.h"

namespace {

using hook::Act;
using hook::stopped;

const std::string before = "p=1\n[net]\nport=80\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n" +
                           std::string(300, ';') + "\n";

std::string replaced(const std::string &from, const std::string &to) {
    return std::string(before).replace(before.find(from), from.size(), to);
}

// A file and what stands at its journal's name; none when missing.
struct Files {
    std::optional<std::string> file, journal;
    bool operator==(const Files &other) const {
        return file == other.file && journal == other.journal;
    }
};

class Crash : public FileTest {
  protected:
    Crash() { in_memory = true; }
    std::string journal() const { return path + "-journal"; }
    Files state() const { return {bytes_of(path), bytes_of(journal())}; }
    void restore(const Files &saved) const {
        std::filesystem::remove(path);
        std::filesystem::remove_all(journal());
        if (saved.file)
            put(*saved.file);
        // Readable by its owner alone, as the library makes it.
        if (saved.journal) {
            put(journal(), *saved.journal);
            chmod(journal().c_str(), 0600);
        }
    }
    // A get through `name` in a process of its own, which ends at its
    // `crash`-th change (none for 0): 1 if it could not read the file, or
    // `stopped`.
    int get(int crash, const std::string &name = "") const {
        return in_child([&] {
            if (crash > 0)
                hook::arm({hook::changes, crash}, Act::stop);
            char value[8];
            return ini_getkey((name.empty() ? path : name).c_str(), "net", "port", value, 8) ==
                   INI_EOPEN;
        });
    }
    // `edit` in a process of its own that ends at `point`.
    int crash(const Call &edit, const hook::Point &point, const std::string &name = "") const {
        return in_child([&] {
            hook::arm(point, Act::stop);
            return edit((name.empty() ? path : name).c_str());
        });
    }
};

TEST_F(Crash, EveryPointLeavesTheOldOrTheNewFile) {
    const Success kinds[] = {
        {"growing set", before, set("net", "port", "8080"), replaced("port=80\n", "port=8080\n")},
        {"shrinking set", before, set("net", "port", "8"), replaced("port=80\n", "port=8\n")},
        {"same-length set", before, set("net", "port", "81"), replaced("port=80\n", "port=81\n")},
        {"new key", before, set("net", "mtu", "9"), replaced("host=gw\n", "host=gw\nmtu=9\n")},
        {"new section", before, set("new", "k", "v"), before + "[new]\nk=v\n"},
        {"delete key", before, del("net", "host"), replaced("host=gw\n", "")},
        {"delete section", before, del_section("hosts"), replaced("[hosts]\nalpha\nbeta\n", "")},
        {"delete entry", before, drop("hosts", "alpha"), replaced("alpha\n", "")},
        {"add entry", before, add("hosts", "gamma"), replaced("beta\n", "beta\ngamma\n")},
        {"create", std::nullopt, set("new", "k", "v"), "[new]\nk=v\n"},
    };
    int points = 0;
    for (const auto &kind : kinds) {
        for (int point = 1;; ++point) {
            restore({kind.before, std::nullopt});
            const int edited = crash(kind.edit, {hook::changes, point});
            const std::string where = std::string(kind.name) + ", crash " + std::to_string(point);
            if (edited != stopped) {
                EXPECT_EQ(edited, INI_OK) << where;
                EXPECT_EQ(state(), (Files{kind.after, std::nullopt})) << where;
                break;
            }
            ++points;
            const Files left = state();
            for (int again = 1;; ++again) {
                restore(left);
                const int recovered = get(again);
                points += recovered == stopped;
                const int status = get(0);
                const Files now = state();
                const std::string at = where + ", recovery crash " + std::to_string(again);
                EXPECT_TRUE(now.file == kind.before || now.file == kind.after) << at;
                // Reads of a missing file look for no journal: the next
                // creating edit removes what is left.
                EXPECT_EQ(status, now.file ? 0 : 1) << at;
                EXPECT_TRUE(!now.journal || !now.file) << at;
                if (recovered != stopped)
                    break;
            }
            EXPECT_EQ(kind.edit(path.c_str()), INI_OK) << where;
            EXPECT_EQ(state(), (Files{kind.after, std::nullopt})) << where;
        }
    }
    std::printf("[ crash    ] %d crash points checked\n", points);
}

// A reboot may give the disk another device number, and some file systems
// make up inode numbers at every mount: a whole journal fits its file by
// what the file holds.
const iniplace::IoHook renumbered = {[](hook::SystemCall &) { return 0; },
                                     [](const hook::SystemCall &call, long) {
                                         if (call.op == hook::Op::stat && call.info != nullptr) {
                                             call.info->device += 7;
                                             call.info->inode += 7;
                                         }
                                     }};

// What stands at the journal's name, a plain file of the library's own:
// a whole journal that fits is applied, anything else removed. (What is
// not the library's own is refused: tests/users_test.cpp.)
TEST_F(Crash, WhatStandsAtTheJournalsNameIsJudged) {
    // Half-way through a growing set: part of the tail has moved.
    static const std::string longer(400, 'x');
    const Call grow = set("net", "port", longer.c_str());
    restore({before, std::nullopt});
    ASSERT_EQ(crash(grow, {{hook::Op::write}, 2, "t.ini"}), stopped);
    const Files half = state();
    ASSERT_TRUE(half.journal && half.file != before);
    // A power loss kept the journal's later bytes and lost its first page.
    const std::size_t lost = std::min<std::size_t>(4096, half.journal->size() / 2);
    const std::string zeroed = std::string(lost, '\0') + half.journal->substr(lost);
    const struct {
        const char *name;
        std::function<void()> make; // on the half-moved file and its journal
        int status;
        Files after;
    } cases[] = {
        {"renumbered", [] { iniplace::set_io_hook(&renumbered); }, 0, {before, std::nullopt}},
        {"another inode",
         [&] {
             put(dir + "/copy", *half.file);
             std::filesystem::rename(dir + "/copy", path);
         },
         0,
         {before, std::nullopt}},
        {"first page zeroed", [&] { put(journal(), zeroed); }, 0, {half.file, std::nullopt}},
        {"another file's", [&] { put("q=1\n" + before); }, 0, {"q=1\n" + before, std::nullopt}},
        {"no journal",
         [&] {
             put(before);
             put(journal(), "notes\n");
         },
         0,
         {before, std::nullopt}},
    };
    for (const auto &c : cases) {
        restore(half);
        EXPECT_EQ(in_child([&] {
                      c.make();
                      return get(0);
                  }),
                  c.status == INI_EOPEN)
            << c.name;
        EXPECT_EQ(state(), c.after) << c.name;
    }
    // After a damaged journal is removed, the next edit is journaled.
    restore({before, zeroed});
    hook::record();
    EXPECT_EQ(set("net", "port", "81")(path.c_str()), INI_OK);
    hook::disarm();
    EXPECT_GT(hook::count(hook::Op::write, journal()), 0);
    EXPECT_EQ(state(), (Files{replaced("port=80\n", "port=81\n"), std::nullopt}));
}

// An edit through a symbolic link is journaled under the file's own name:
// a read through another name puts it back, and a later edit through the
// link finds no stale journal to undo it with.
TEST_F(Crash, AFilesOtherNamesFindItsJournal) {
    const std::string link = dir + "/link.ini", hard = dir + "/hard.ini";
    std::filesystem::create_symlink("t.ini", link);
    restore({before, std::nullopt});
    ASSERT_EQ(crash(set("net", "port", "8080"), {{hook::Op::write}, 2, "link.ini"}, link), stopped);
    EXPECT_EQ(get(0), 0);
    EXPECT_EQ(state(), (Files{before, std::nullopt}));
    EXPECT_EQ(set("net", "host", "a")(path.c_str()), INI_OK);
    EXPECT_EQ(get(0, link), 0);
    EXPECT_EQ(state(), (Files{replaced("host=gw\n", "host=a\n"), std::nullopt}));
    // A file with a second hard link is not edited: that name would not
    // find the journal.
    ASSERT_EQ(::link(path.c_str(), hard.c_str()), 0);
    EXPECT_EQ(set("net", "host", "b")(hard.c_str()), INI_EOPEN);
    EXPECT_EQ(contents(hard), replaced("host=gw\n", "host=a\n"));
}

// A call on a file that an edit holds waits for the edit to end: undoing it
// half-way, or reading it, would find neither file.
TEST_F(Crash, ACallWaitsForAnEditInProgress) {
    // A tail of several blocks, stopped after its first block moved.
    const std::string big = before + std::string(40000, ';') + "\n";
    restore({big, std::nullopt});
    const pid_t writer = fork();
    if (writer == 0) {
        hook::arm({{hook::Op::write}, 3, "t.ini"}, Act::pause);
        _exit(set("net", "port", "8080")(path.c_str()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, WUNTRACED), writer);
    ASSERT_TRUE(WIFSTOPPED(status));
    int at_lock[2];
    ASSERT_EQ(pipe(at_lock), 0);
    const pid_t reader = fork();
    if (reader == 0) {
        // Says when it first finds the file's lock taken, then waits for it.
        hook::arm({{hook::Op::pause}, 1}, Act::tell, at_lock[1]);
        hook::state().instant_waits = false;
        char value[16];
        _exit(ini_getkey(path.c_str(), "net", "port", value, sizeof value) == INI_OK &&
                      std::string(value) == "8080"
                  ? 0
                  : 1);
    }
    char told = 0;
    ASSERT_EQ(read(at_lock[0], &told, 1), 1);
    EXPECT_EQ(waitpid(reader, &status, WNOHANG), 0);
    kill(writer, SIGCONT);
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(state() == (Files{std::string(big).replace(big.find("port=80\n"), 8, "port=8080\n"),
                                  std::nullopt}));
}

} // namespace
