// Faults injected at the library's own system calls through its io hook:
// a disk that fills up at each write of an edit in turn.
#include "file.h"

#include "helpers.h"
#include "io_hook.h"
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const std::string sample = "p=1\n[net]\nport=80\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n";

class Injected : public FileTest {};

// Whether `now` is what an edit from `before` to `after` that moves bytes
// in place can leave when a write fails: the file grown to its new size
// first, then each byte either the old one or the new one.
bool cut_short(const std::string &now, const std::string &before, const std::string &after) {
    if (now.size() != after.size())
        return false;
    for (std::size_t i = 0; i < now.size(); ++i)
        if (now[i] != after[i] && (i >= before.size() || now[i] != before[i]))
            return false;
    return true;
}

// The disk fills up at each write in turn: that write takes half its
// bytes, every later one none; or each write fails in turn. The call
// returns and closes the file. The file is the old one, the new one, or
// one whose growth went in first and whose move was cut short: never a
// file short of its bytes. The durable build puts the file back: at once,
// or at the next call when the disk is full for that too.
TEST_F(Injected, AFailingWriteNeverLeavesAHalfGrownFile) {
    const std::string before = sample + std::string(300, ';') + "\n";
    const std::string value(200, 'v');
    const struct {
        const char *name;
        Call edit;
        std::string after;
        bool journaled;
    } cases[] = {
        {"set", set("net", "port", value.c_str()), std::string(before).replace(15, 2, value),
         durable_build},
        {"file_ins", insert_at(15, value), std::string(before).insert(15, value), false},
        {"a batch",
         [&](const char *p) {
             const ini_setting batch[] = {{"net", "port", value.c_str()}, {"log", "level", "3"}};
             return ini_setkeys(p, batch, 2);
         },
         std::string(before)
             .replace(15, 2, value)
             .replace(before.find("level=2") + 198, 7, "level=3"),
         durable_build},
    };
    for (const auto act : {hook::Act::fill_disk, hook::Act::fail}) {
        for (const auto &c : cases) {
            // A batch larger than the read block is made a setting at a
            // time: whole or not at all only under a journal.
            if (c.name == std::string("a batch") && !c.journaled && iniplace::read_block < 1024)
                continue;
            for (int failing = 1, failed = 1; failed; ++failing) {
                put(before);
                const int descriptors = open_descriptors();
                hook::arm({{hook::Op::write}, failing}, act);
                const int status = c.edit(path.c_str());
                hook::disarm();
                failed = hook::reached();
                const std::string where =
                    std::string(c.name) + ", write " + std::to_string(failing);
                EXPECT_EQ(open_descriptors(), descriptors) << where;
                EXPECT_TRUE(failed || (status == INI_OK && contents() == c.after)) << where;
                if (c.journaled) {
                    char read[8];
                    (void)ini_getkey(path.c_str(), "net", "port", read, sizeof read);
                    EXPECT_EQ(contents(), status == INI_OK ? c.after : before) << where;
                    EXPECT_FALSE(exists(path + "-journal")) << where;
                } else {
                    const std::string now = contents();
                    EXPECT_TRUE(now == before || cut_short(now, before, c.after)) << where;
                }
            }
        }
    }
}

// A batch made a setting at a time reserves the space it may grow into
// first: a full disk refuses it before any byte changes.
TEST_F(Injected, ABatchInStepsIsRefusedWholeOnAFullDisk) {
    const std::string before = sample + std::string(iniplace::read_block, ';') + "\n";
    put(before);
    const ini_setting batch[] = {{"net", "port", "8080"}, {"log", "level", "3"}};
    hook::arm({{hook::Op::reserve}, 1}, hook::Act::fail, ENOSPC);
    EXPECT_EQ(ini_setkeys(path.c_str(), batch, 2), INI_EOPEN);
    EXPECT_TRUE(hook::reached());
    hook::disarm();
    EXPECT_EQ(contents(), before);
}

// A read that fails is never taken for the end of a line or of the file: a
// scan on a caller's stream ends as it would at the end of the file, before
// the line the failed read cut short; an edit is not made.
TEST_F(Injected, AFailedReadIsNoLine) {
    // A key line across the stream's block at 1024; and a line of two
    // pieces whose second, which reads as a header, starts a read block: a
    // key added before that header reads the byte before it again.
    const std::size_t block = iniplace::read_block, at = (1008 + block - 1) / block * block - 998;
    const std::string pieces =
        "[a]\nk=1\n" + std::string(at - 9, ';') + "\nx=" + std::string(996, 'v') + "[b]\nq=1\n";
    const std::string across =
        "[net]\n" + std::string(993, ';') + "\nport=" + std::string(100, '8') + "\n";
    ASSERT_EQ(across.find("port"), 1000u);
    const struct {
        const char *name;
        std::string before;
        hook::Point read; // the read that fails
        Call call;
        int status;
    } rows[] = {
        {"parse",
         across,
         {{hook::Op::read}, 1024 / int(iniplace::stream_block) + 1},
         [](const char *p) {
             FILE *stream = std::fopen(p, "rb");
             char line[INI_LINE_SIZE];
             const int found = parse(stream, "net", "port", line, sizeof line);
             const long at = std::ftell(stream);
             std::fclose(stream);
             return found * 10000 + int(at);
         },
         INI_SCAN_BOUNDARY * 10000 + 1000},
        {"a new key inside a long line",
         pieces,
         {{hook::Op::read}, 1, "", false, 1},
         set("a", "n", "2"),
         INI_EOPEN},
    };
    for (const auto &row : rows) {
        put(row.before);
        hook::arm(row.read, hook::Act::fail, EIO);
        EXPECT_EQ(row.call(path.c_str()), row.status) << row.name;
        EXPECT_TRUE(hook::reached()) << row.name;
        hook::disarm();
        EXPECT_EQ(contents(), row.before) << row.name;
    }
}

// What stands at a file's side name (NAME-journal) and is not the library's
// is never removed; what a creation cut short left there is; a file made
// while a creation runs gets the edit.
TEST_F(Injected, TheSideNameIsTheLibrarysOnly) {
    const std::string side = path + "-journal", mine = "[mine]\nk=1\n";
    std::optional<Holder> holder;
    const mode_t made_mode = 0666 & ~[] {
        const mode_t mask = umask(022);
        umask(mask);
        return mask;
    }();
    const struct {
        const char *name;
        std::function<void()> before; // the file's state, the hook armed
        Call call;
        int status;
        std::optional<std::string> file, left; // the file and its side name after
    } rows[] = {
        {"a user's file named like it, a read",
         [&] {
             put(sample);
             put(side, mine);
         },
         [](const char *p) {
             char value[8];
             return ini_getkey(p, "net", "port", value, sizeof value);
         },
         durable_build ? INI_EOPEN : INI_OK, sample, mine},
        {"a user's file named like it, a new file", [&] { put(side, mine); }, set("s", "k", "v"),
         INI_EOPEN, std::nullopt, mine},
        // Its maker holds its lock until it stands at its name.
        {"a creation under way",
         [&] {
             put(side, "");
             chmod(side.c_str(), 0600);
             hook::arm({{hook::Op::lock}, 1, "-journal"}, hook::Act::run);
             hook::state().action = [&] { holder.emplace(side, LOCK_EX); };
         },
         set("s", "k", "v"), INI_EOPEN, std::nullopt, ""},
        {"made meanwhile",
         [&] {
             hook::arm({{hook::Op::rename}, 1}, hook::Act::run);
             hook::state().action = [&] { put("[s]\nq=1\n"); };
         },
         set("s", "k", "v"), INI_OK, "[s]\nq=1\nk=v\n", std::nullopt},
        {"a creation ended before its rename, under another mask",
         [&] {
             EXPECT_EQ(in_child([&] {
                           umask(002);
                           hook::arm({{hook::Op::rename}, 1}, hook::Act::stop);
                           return set("s", "k", "1")(path.c_str());
                       }),
                       hook::stopped);
         },
         set("s", "k", "v"), INI_OK, "[s]\nk=v\n", std::nullopt},
        {"an append-only directory",
         [&] {
             hook::arm({{hook::Op::rename, hook::Op::unlink}, 1, "", true}, hook::Act::fail);
         },
         [](const char *p) { return ini_setkey(p, "s", "k", "v") + ini_setkey(p, "s", "k", "v"); },
         2 * INI_EOPEN, std::nullopt, "[s]\nk=v\n"},
    };
    for (const auto &row : rows) {
        std::filesystem::remove(path);
        std::filesystem::remove(side);
        row.before();
        EXPECT_EQ(row.call(path.c_str()), row.status) << row.name;
        hook::disarm();
        holder.reset();
        EXPECT_EQ(bytes_of(path), row.file) << row.name;
        EXPECT_EQ(bytes_of(side), row.left) << row.name;
        struct stat info {};
        if (row.file && !row.left && stat(path.c_str(), &info) == 0)
            EXPECT_EQ(info.st_mode & 0777, made_mode) << row.name;
    }
}

// A journal that cannot be made harmless or removed never undoes an edit
// reported done: the next call reads the new file, the next edit takes the
// journal over, and a later call clears it.
TEST_F(Injected, AJournalLeftBehindUndoesNothing) {
    if (!durable_build)
        GTEST_SKIP() << "only the durable build keeps journals";
    using O = hook::Op;
    const char *const side = "-journal";
    const std::string journal = path + side;
    // A journal is made harmless by emptying it.
    const struct {
        const char *name;
        hook::Point point; // what fails, as in an append-only directory (EPERM)
        int status;        // of a set
        std::string read;  // what the next get reads
        bool left;         // a journal stands after it
        int next;          // the next set, the journal still there
        std::string last;  // the value in the end, once calls succeed again
    } rows[] = {
        {"removal", {{O::unlink}, 1, side, true}, INI_OK, "8080", true, INI_OK, "9"},
        {"making it harmless", {{O::truncate}, 1, side}, INI_OK, "8080", false, INI_OK, "9"},
        {"both", {{O::truncate, O::unlink}, 1, side, true}, INI_EOPEN, "80", true, INI_EOPEN, "80"},
    };
    for (const auto &row : rows) {
        put(sample);
        hook::arm(row.point, hook::Act::fail, EPERM);
        EXPECT_EQ(ini_setkey(path.c_str(), "net", "port", "8080"), row.status) << row.name;
        char value[8] = {};
        EXPECT_EQ(ini_getkey(path.c_str(), "net", "port", value, sizeof value), INI_OK);
        EXPECT_EQ(value, row.read) << row.name;
        EXPECT_EQ(exists(journal), row.left) << row.name;
        EXPECT_EQ(ini_setkey(path.c_str(), "net", "port", "9"), row.next) << row.name;
        hook::disarm();
        EXPECT_EQ(ini_getkey(path.c_str(), "net", "port", value, sizeof value), INI_OK);
        EXPECT_EQ(contents(), std::string(sample).replace(15, 2, row.last)) << row.name;
        EXPECT_FALSE(exists(journal)) << row.name;
    }
}

// An edit works on the file its name reaches once it holds the lock: what
// another writer did to the name between the open and the lock (a copy
// renamed over it, as sed -i does, under flock(1) or not; a removal; a
// link of the caller's put there) is seen, and the edit made on the file
// the name reaches then.
TEST_F(Injected, AnEditLandsInTheFileItsNameReachesUnderTheLock) {
    const std::string other = dir + "/other.ini";
    const struct {
        const char *name;
        std::function<void()> change; // at the edit's first lock on the file
        std::string file, left;       // the file at the name, and the other
    } rows[] = {
        {"replaced by a rename",
         [&] {
             put(other, "[net]\nport=1\n");
             std::filesystem::rename(other, path);
         },
         "[net]\nport=8080\n", ""},
        {"removed", [&] { std::filesystem::remove(path); }, "[net]\nport=8080\n", ""},
        {"a link of the caller's to another file",
         [&] {
             put(other, "[net]\nport=2\n");
             std::filesystem::remove(path);
             std::filesystem::create_symlink(other, path);
         },
         "[net]\nport=8080\n", "[net]\nport=8080\n"},
    };
    for (const auto &row : rows) {
        std::filesystem::remove(other);
        put(sample);
        hook::arm({{hook::Op::lock}, 1, "t.ini"}, hook::Act::run);
        hook::state().action = row.change;
        EXPECT_EQ(ini_setkey(path.c_str(), "net", "port", "8080"), INI_OK) << row.name;
        hook::disarm();
        EXPECT_EQ(contents(), row.file) << row.name;
        EXPECT_EQ(contents(other), row.left) << row.name;
    }
}

// A child forked while a call holds the lock keeps none of it: the lock is
// let go before the descriptor the child shares is closed.
TEST_F(Injected, AChildForkedDuringACallKeepsNoLock) {
    const Call calls[] = {[](const char *p) {
                              char value[8];
                              return ini_getkey(p, "net", "port", value, sizeof value);
                          },
                          set("net", "port", "8080")};
    for (const Call &call : calls) {
        put(sample);
        pid_t child = -1;
        hook::arm({{hook::Op::read}, 1, "t.ini"}, hook::Act::run);
        hook::state().action = [&child] {
            if ((child = fork()) == 0) {
                pause();
                _exit(0);
            }
        };
        EXPECT_EQ(call(path.c_str()), INI_OK);
        hook::disarm();
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_TRUE(take_lock(fd, LOCK_EX | LOCK_NB));
        EXPECT_TRUE(take_lock(fd, write_lock));
        close(fd);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

// A thread cancelled while its call holds the lock is cancelled once the
// call is over: the call lets its lock go and finishes its edit.
TEST_F(Injected, ACancelledCallFinishesFirst) {
    put(sample);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, nullptr,
                  [](void *p) -> void * {
                      hook::arm({{hook::Op::write}, 1, "t.ini"}, hook::Act::run);
                      hook::state().action = [] {
                          pthread_cancel(pthread_self());
                          pthread_testcancel();
                      };
                      (void)ini_setkey(static_cast<const char *>(p), "net", "k", "1");
                      hook::disarm();
                      return nullptr;
                  },
                  const_cast<char *>(path.c_str())),
              0);
    pthread_join(thread, nullptr);
    EXPECT_EQ(contents(), std::string(sample).insert(26, "k=1\n"));
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_TRUE(take_lock(fd, LOCK_EX | LOCK_NB));
    close(fd);
}

// A creation that fails at any step leaves nothing behind, neither at the
// side name nor at the name; one that returns 0 leaves the file in place.
TEST_F(Injected, AFailedCreationLeavesNothing) {
    using O = hook::Op;
    const hook::Point points[] = {
        {{O::lock}, 1, "-journal"}, {{O::stat}, 1, "-journal"}, {{O::write}, 1, "-journal"},
        {{O::sync}, 1, "-journal"}, {{O::rename}, 1},           {{O::mode}, 1},
        {{O::sync}, 1, "."},        {{O::sync}, 2, "-journal"},
    };
    for (const auto &point : points) {
        std::filesystem::remove(path);
        hook::arm(point, hook::Act::fail, EIO);
        const int status = ini_setkey(path.c_str(), "s", "k", "v");
        const bool reached = hook::reached();
        hook::disarm();
        const std::string where = std::to_string(static_cast<int>(point.ops[0])) + point.file;
        EXPECT_EQ(status, reached ? INI_EOPEN : INI_OK) << where;
        EXPECT_EQ(bytes_of(path), reached ? std::nullopt : std::optional("[s]\nk=v\n")) << where;
        EXPECT_FALSE(exists(path + "-journal")) << where;
    }
}

} // namespace
