// Edits under power loss: every edit of the durable build, and the
// creation of a new file in both builds. The file-changing calls of each kind
// of edit are recorded; for every point the power could fail at, the states
// the disk may come back in are built: for each file, its bytes as of its
// last sync plus any of the writes and truncations made since (none, all,
// each one, all but one, some at random, one torn at 512-byte sectors), and
// names made or removed since their directory's last sync there or not.
// The state a crash of the process leaves (every change kept) is among
// them. Recovery must turn each into the old or the new file, and so it
// must when the power fails again while it runs; an edit that is the first
// call after a crash edits the file it recovered.
#include "edit.h"
#include "helpers.h"
#include "io_hook.h"

#include <fcntl.h>

#include <map>
#include <memory>
#include <random>

namespace {

using hook::Op;
using hook::Record;
using Names = std::map<std::string, int>; // name -> file

// A change not yet synced: of a file's bytes, or of a directory's names.
struct Change {
    int file = -1;    // the file written or truncated, or made or linked
    std::string name; // the name made (file >= 0) or removed (file < 0)
    std::string gone; // the name a rename took away with it
    bool bytes = false;
    off_t at = 0;     // a write's offset, a truncation's length
    std::string data; // a write's bytes
    bool is_write() const { return bytes && !data.empty(); }
};

// The disk as the calls so far left it: what was synced, and what was not.
struct Disk {
    std::vector<std::string> synced; // the bytes of each file at its last sync
    Names names;                     // the names at their directory's last sync
    std::vector<Change> unsynced;
};

// A change made to `bytes`; of a write, only the 512-byte sectors that
// `sectors` keeps (bit n: every 32nd sector from the n-th), the rest as
// they were.
void apply(std::string &bytes, const Change &change, unsigned sectors = ~0u) {
    const auto at = static_cast<std::size_t>(change.at);
    if (!change.is_write()) {
        bytes.resize(at);
        return;
    }
    if (bytes.size() < at + change.data.size())
        bytes.resize(at + change.data.size());
    for (std::size_t i = 0; i < change.data.size(); ++i)
        if (sectors >> ((at + i) / 512 % 32) & 1)
            bytes[at + i] = change.data[i];
}

// A change of names: one made, removed, or both at once.
void rename(Names &names, const Change &change) {
    if (change.file >= 0)
        names[change.name] = change.file;
    else
        names.erase(change.name);
    if (!change.gone.empty())
        names.erase(change.gone);
}

class Recorder {
  public:
    explicit Recorder(const std::map<std::string, std::string> &files) {
        for (const auto &[name, bytes] : files) {
            disk_.names[name] = now_[name] = static_cast<int>(disk_.synced.size());
            disk_.synced.push_back(bytes);
        }
    }
    // The disk after `call`, as far as power loss goes.
    void take(const Record &call) {
        const auto named = now_.find(call.file);
        const int file = named != now_.end() ? named->second : -1;
        if (call.op == Op::open && (call.flags & O_CREAT) && call.result >= 0 && file < 0) {
            now_[call.file] = static_cast<int>(disk_.synced.size());
            disk_.synced.emplace_back();
            disk_.unsynced.push_back({now_[call.file], call.file});
        } else if ((call.op == Op::write || call.op == Op::truncate) && call.result >= 0) {
            disk_.unsynced.push_back({file, "", "", true, call.at, call.data});
        } else if (call.op == Op::sync && call.result == 0) {
            sync(call.file, file);
        } else if (call.op == Op::link && call.result == 0) {
            now_[call.name] = file;
            disk_.unsynced.push_back({file, call.name});
        } else if (call.op == Op::rename && call.result == 0) {
            now_[call.name] = file;
            now_.erase(call.file);
            disk_.unsynced.push_back({file, call.name, call.file});
        } else if (call.op == Op::unlink && call.result == 0) {
            now_.erase(call.file);
            disk_.unsynced.push_back({-1, call.file});
        }
    }
    const Disk &disk() const { return disk_; }

  private:
    // A file's sync keeps its bytes; a directory's (the one directory the
    // files are in, open as "."), the names made or removed in it.
    void sync(const std::string &name, int file) {
        const bool directory = name == ".";
        std::vector<Change> left;
        for (const Change &change : disk_.unsynced) {
            if (!directory && change.bytes && change.file == file)
                apply(disk_.synced[file], change);
            else if (directory && !change.bytes)
                rename(disk_.names, change);
            else
                left.push_back(change);
        }
        disk_.unsynced = left;
    }

    Disk disk_;
    Names now_;
};

// The tiny build's many small writes multiply the power-loss states, not the
// cases: there, only the states a crash of the process leaves are built.
constexpr bool crash_only = iniplace::read_block < 1024;

// Which unsynced changes a power loss keeps, and which of them it tears.
struct Loss {
    std::vector<bool> kept;
    std::size_t torn; // the write torn, or none
    unsigned sectors; // the sectors of it that were written
};

// The files a power loss leaves.
std::map<std::string, std::string> after(const Disk &disk, const Loss &loss) {
    std::vector<std::string> files = disk.synced;
    Names names = disk.names;
    for (std::size_t i = 0; i < disk.unsynced.size(); ++i) {
        const Change &change = disk.unsynced[i];
        if (!loss.kept[i])
            continue;
        if (change.bytes)
            apply(files[change.file], change, i == loss.torn ? loss.sectors : ~0u);
        else
            rename(names, change);
    }
    std::map<std::string, std::string> left;
    for (const auto &[name, file] : names)
        left[name] = files[file];
    return left;
}

// None, all, each alone, all but each, a few at random; all with each
// write torn in two ways.
std::vector<Loss> losses(const Disk &disk, std::mt19937 &random) {
    const std::size_t count = disk.unsynced.size();
    const std::vector<bool> none(count, false), all(count, true);
    std::vector<Loss> ways = {{none, count, 0}, {all, count, 0}};
    if (crash_only)
        return ways;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<bool> one = none, but_one = all;
        one[i] = true;
        but_one[i] = false;
        ways.push_back({one, count, 0});
        ways.push_back({but_one, count, 0});
        if (disk.unsynced[i].is_write())
            for (const unsigned sectors : {0x55555555u, 0xAAAAAAAAu})
                ways.push_back({all, i, sectors});
    }
    for (int draw = 0; draw < 3 && count > 2; ++draw) {
        std::vector<bool> some(count);
        for (std::size_t i = 0; i < count; ++i)
            some[i] = random() % 2 == 0;
        ways.push_back({some, count, 0});
    }
    return ways;
}

using Files = std::map<std::string, std::string>; // by name in the test's directory
using Allowed = std::vector<std::optional<std::string>>;

class PowerLoss : public FileTest {
  protected:
    PowerLoss() { in_memory = true; }
    std::string journal() const { return path + "-journal"; }
    void lay(const Files &files) const {
        std::filesystem::remove(path);
        std::filesystem::remove(journal());
        for (const auto &[name, bytes] : files)
            put(dir + "/" + name, bytes);
        // Readable by its owner alone, as the library makes it.
        chmod(journal().c_str(), 0600);
    }
    std::vector<Record> record(const Files &files, const Call &call) const {
        lay(files);
        hook::record();
        (void)call(path.c_str());
        hook::disarm();
        return hook::state().calls;
    }
    // Every state a power loss may leave during `calls`, made on `files`:
    // a get recovers it and finds one of the files `during` allows while
    // the call had not returned, and of those `done` allows once it had.
    // For an `edit`,
    // also the power lost again during the recovery of each state a crash
    // leaves and of each state after the edit returned (a recovery that
    // returned is kept as well), and an edit made first after a crash
    // (every change kept) edits the file it recovered.
    void check(const std::string &name, const Allowed &during, const Allowed &done,
               const Files &files, const std::vector<Record> &calls,
               const Success *edit = nullptr) {
        Recorder recorder(files);
        for (std::size_t point = 0; point <= calls.size(); ++point) {
            if (point > 0)
                recorder.take(calls[point - 1]);
            const bool returned = point == calls.size();
            if (!returned && !is_change(calls[point].op))
                continue;
            const Allowed &allowed = returned ? done : during;
            const auto ways = losses(recorder.disk(), random);
            for (std::size_t way = 0; way < ways.size(); ++way) {
                const auto left = after(recorder.disk(), ways[way]);
                const std::string where =
                    name + ", point " + std::to_string(point) + ", loss " + std::to_string(way);
                if (edit != nullptr && (way == 1 || returned)) {
                    const auto recovery = record(left, read);
                    check(where + ", recovered", allowed, {bytes_of(path)}, left, recovery);
                }
                if (edit != nullptr && way == 1) {
                    lay(left);
                    EXPECT_EQ(edit->edit(path.c_str()), INI_OK) << where;
                    EXPECT_EQ(bytes_of(path), edit->after) << where;
                    EXPECT_FALSE(exists(journal())) << where;
                }
                lay(left);
                (void)read(path.c_str());
                const std::optional<std::string> now = bytes_of(path);
                EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), now) != allowed.end())
                    << where << (returned ? ", after the call returned: " : ": ")
                    << (now ? std::to_string(now->size()) + " bytes" : "no file");
                EXPECT_TRUE(!now || !exists(journal())) << where;
                ++states;
            }
        }
    }
    static bool is_change(Op op) {
        return std::find(hook::changes.begin(), hook::changes.end(), op) != hook::changes.end();
    }

    const Call read = [](const char *p) {
        char value[8];
        return ini_getkey(p, "s1", "k", value, sizeof value);
    };
    std::mt19937 random{20261207};
    int states = 0;
};

// A file of several blocks, so that writes span sectors and a tail moves in
// more than one step.
std::string sample() {
    std::string text = "[hosts]\nalpha\nbeta\n";
    for (int section = 0; section < 12; ++section) {
        text += "[s" + std::to_string(section) + "]\nk=" + std::to_string(section) + "\n";
        text += std::string(700 + section * 13, ';') + "\n";
    }
    return text;
}

// Several edits of one file made as one change, from the first byte any of
// them touches to the end, as the tool makes them: all made, or none.
int batch_of_edits(const char *path) {
    using namespace iniplace;
    std::string text;
    const auto plan = [&text](const File &file, Buffer, Edit &edit) {
        text.assign(static_cast<std::size_t>(file.size()), '\0');
        std::size_t got = 0;
        if (!io::read(file.fd(), text.data(), text.size(), 0, got).ok())
            return failed(Outcome::not_read);
        std::size_t first = text.size();
        for (const std::string n : {"5", "1", "9"}) {
            const std::size_t found = text.find("]\nk=" + n + "\n");
            if (found != std::string::npos) {
                text.replace(found + 4, n.size(), "s" + n);
                first = std::min(first, found + 4);
            }
        }
        const auto at = static_cast<off_t>(first);
        edit.changes = first < text.size();
        edit.change = {at, file.size() - at, std::string_view(text).substr(first)};
        return Status();
    };
    return edit_file(path, OnMissing::fail, plan).ok() ? 0 : -1;
}

TEST_F(PowerLoss, RecoveryLeavesTheOldOrTheNewFile) {
    const std::string old = sample();
    const auto with = [&old](const std::string &from, const std::string &to) {
        return std::string(old).replace(old.find(from), from.size(), to);
    };
    const std::string longer(900, 'v');
    std::string batched = old;
    for (const std::string n : {"5", "1", "9"})
        batched.replace(batched.find("]\nk=" + n + "\n") + 4, n.size(), "s" + n);
    const Success kinds[] = {
        {"grow", old, set("s1", "k", longer.c_str()), with("k=1\n", "k=" + longer + "\n")},
        {"shrink", old, set("s1", "k", ""), with("k=1\n", "k=\n")},
        {"same size", old, set("s1", "k", "x"), with("k=1\n", "k=x\n")},
        {"delete key", old, del("s1", "k"), with("k=1\n", "")},
        {"delete section", old, del_section("s0"),
         old.substr(0, old.find("[s0]")) + old.substr(old.find("[s1]"))},
        {"add entry", old, add("hosts", "gamma"), with("beta\n", "beta\ngamma\n")},
        {"remove entry", old, drop("hosts", "alpha"), with("alpha\n", "")},
        {"new key", old, set("s1", "n", "1"), with("[s2]", "n=1\n[s2]")},
        {"new section", old, set("new", "k", "v"), old + "[new]\nk=v\n"},
        {"create", std::nullopt, set("s1", "k", "1"), "[s1]\nk=1\n"},
        {"batch", old, batch_of_edits, batched},
        {"settings", old,
         [](const char *p) {
             const ini_setting batch[] = {
                 {"s5", "k", "s5"}, {"s1", "k", nullptr}, {"s9", "n", "1"}};
             return ini_setkeys(p, batch, 3);
         },
         with("k=1\n", "")
             .replace(old.find("k=5\n") - 4, 3, "k=s5")
             .replace(old.find("[s10]") - 3, 0, "n=1\n")},
    };
    for (const auto &kind : kinds) {
        // The default build makes no promise for edits in place, but a new
        // file appears whole or not at all there too.
        if (!durable_build && kind.before)
            continue;
        Files files;
        if (kind.before)
            files["t.ini"] = *kind.before;
        const auto calls = record(files, kind.edit);
        ASSERT_TRUE(contents() == kind.after) << kind.name;
        // The default build syncs no directory: a file it made may be gone
        // after a power loss, even once the call returned.
        const Allowed done = durable_build ? Allowed{kind.after} : Allowed{kind.before, kind.after};
        check(kind.name, {kind.before, kind.after}, done, files, calls, &kind);
    }
    std::printf("[ power    ] %d states after a power loss checked\n", states);
}

} // namespace
