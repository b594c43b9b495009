// The durable build after a crash, where the process ended at a call that
// changes a file: what a reboot, a damaged journal or another name of the
// file does to the recovery. (Every point of every kind of edit:
// tests/power_loss_test.cpp; a call that meets an edit in progress:
// tests/concurrency_test.cpp.)
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
    // A get through `name` in a process of its own: 1 if it could not read
    // the file.
    int get(const std::string &name = "") const {
        return in_child([&] {
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
    // The same crash of an edit of u.ini, its journal moved to t.ini's name.
    put(dir + "/u.ini", before);
    ASSERT_EQ(crash(grow, {{hook::Op::write}, 2, "u.ini"}, dir + "/u.ini"), stopped);
    const Files moved = {bytes_of(dir + "/u.ini"), bytes_of(dir + "/u.ini-journal")};
    ASSERT_EQ(moved.file, half.file);
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
        // A whole journal moved from another file: not put back.
        {"made for another name", [&] { restore(moved); }, INI_EOPEN, moved},
    };
    for (const auto &c : cases) {
        restore(half);
        EXPECT_EQ(in_child([&] {
                      c.make();
                      return get();
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
    EXPECT_GT(hook::count(hook::Op::write, "t.ini-journal"), 0);
    EXPECT_EQ(state(), (Files{replaced("port=80\n", "port=81\n"), std::nullopt}));
}

// An edit through a symbolic link is journaled under the file's own name:
// a read through another name puts it back, and a later edit through the
// link finds no stale journal to undo it with.
TEST_F(Crash, AFilesOtherNamesFindItsJournal) {
    const std::string link = dir + "/link.ini", hard = dir + "/hard.ini";
    std::filesystem::create_symlink("t.ini", link);
    restore({before, std::nullopt});
    ASSERT_EQ(crash(set("net", "port", "8080"), {{hook::Op::write}, 2, "t.ini"}, link), stopped);
    EXPECT_EQ(get(), 0);
    EXPECT_EQ(state(), (Files{before, std::nullopt}));
    EXPECT_EQ(set("net", "host", "a")(path.c_str()), INI_OK);
    EXPECT_EQ(get(link), 0);
    EXPECT_EQ(state(), (Files{replaced("host=gw\n", "host=a\n"), std::nullopt}));
    // A file with a second hard link is not edited: that name would not
    // find the journal.
    ASSERT_EQ(::link(path.c_str(), hard.c_str()), 0);
    EXPECT_EQ(set("net", "host", "b")(hard.c_str()), INI_EOPEN);
    EXPECT_EQ(contents(hard), replaced("host=gw\n", "host=a\n"));
}

} // namespace
