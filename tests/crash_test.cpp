// The durable build after a crash, where the process ended at a call that
// changes a file: what a reboot, a damaged journal or another name of the
// file does to the recovery. (Every point of every kind of edit:
// tests/power_loss_test.cpp; a call that meets an edit in progress:
// tests/concurrency_test.cpp.)
#include "helpers.h"
#include "io_hook.h"

#include <arpa/inet.h>

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

// The header of a journal: a magic, then nine 64-bit fields (the old size
// first, the checksum last), big-endian; in the layout before, in the byte
// order of the machine that wrote it.
constexpr std::size_t header_size = 80, checksum_at = 72;

std::uint64_t field(const std::string &journal, std::size_t n, bool big = true) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value = value << 8 | static_cast<unsigned char>(journal[8 + n * 8 + (big ? i : 7 - i)]);
    return value;
}

void set_field(std::string &journal, std::size_t n, std::uint64_t value, bool big) {
    for (std::size_t i = 0; i < 8; ++i)
        journal[8 + n * 8 + (big ? 7 - i : i)] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// A journal of the library's rewritten, its checksum whole again: in the
// layout before (`former`) with the fields in the given byte order, and
// with its old size forged.
std::string rewritten(const std::string &journal, bool former, bool big,
                      std::optional<std::uint64_t> old_size = std::nullopt) {
    std::string out = journal;
    const bool written_big = journal[6] == '4' || htonl(1) == 1;
    for (std::size_t n = 0; n < 8; ++n)
        set_field(out, n, n == 0 && old_size ? *old_size : field(journal, n, written_big), big);
    std::uint64_t sum = 0xcbf29ce484222325ULL;
    if (former) {
        // The layout before sums the journal's name alone.
        out[6] = '3';
        std::uint64_t name = sum;
        for (const char byte : std::string("t.ini-journal"))
            name = (name ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
        set_field(out, 7, name, big);
    }
    for (std::size_t i = 0; i < out.size(); ++i)
        if (i < checksum_at || i >= header_size)
            sum = (sum ^ static_cast<unsigned char>(out[i])) * 0x100000001b3ULL;
    set_field(out, 8, sum, big);
    return out;
}

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
    // Its fields are big-endian on every machine.
    EXPECT_EQ(field(*half.journal, 0), before.size());
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
        // Another user put a file of hers at the name: the saved bytes of a
        // file she could not read never go into hers.
        {"another user's file at the name",
         [&] { EXPECT_EQ(chown(path.c_str(), 65534, 65534), 0); }, INI_EOPEN, half},
        // Or a file of the owner's that others may read more easily.
        {"a file others may read at the name", [&] { EXPECT_EQ(chmod(path.c_str(), 0666), 0); },
         INI_EOPEN, half},
        // A disk moved from a machine of the other byte order, or a journal
        // of the layout before: put back.
        {"the layout before, big-endian",
         [&] {
             restore({half.file, rewritten(*half.journal, true, true)});
         },
         0,
         {before, std::nullopt}},
        {"the layout before, little-endian",
         [&] {
             restore({half.file, rewritten(*half.journal, true, false)});
         },
         0,
         {before, std::nullopt}},
        // Sizes no edit could leave: not applied, the file not grown.
        {"its old size forged",
         [&] {
             restore({half.file, rewritten(*half.journal, false, true, 1ULL << 40)});
         },
         0,
         {half.file, std::nullopt}},
        {"its old size forged, in the layout before",
         [&] {
             restore({half.file, rewritten(*half.journal, true, false, 1ULL << 40)});
         },
         0,
         {half.file, std::nullopt}},
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
