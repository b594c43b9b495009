// Faults injected at the library's own system calls through its io hook:
// a disk that fills up at each write of an edit in turn.
#include "file.h"
#include "line_reader.h"

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
// A batch of settings syncs as often as one edit does: in the durable
// build, once for the journal, its directory, the file and the emptied
// journal.
TEST_F(Injected, ABatchSyncsAsOneEditDoes) {
    const ini_setting batch[] = {{"net", "port", "8080"}, {"log", "level", "3"}, {"n", "k", "v"}};
    long syncs[2] = {};
    for (const int batched : {0, 1}) {
        put(sample);
        hook::record();
        EXPECT_EQ(batched ? ini_setkeys(path.c_str(), batch, 3)
                          : ini_setkey(path.c_str(), "n", "k", "v"),
                  INI_OK);
        hook::disarm();
        syncs[batched] =
            std::count_if(hook::state().calls.begin(), hook::state().calls.end(),
                          [](const hook::Record &call) { return call.op == hook::Op::sync; });
    }
    EXPECT_EQ(syncs[1], syncs[0]);
    EXPECT_EQ(syncs[0], durable_build ? 4 : 0);
}

// ini_getkeys reads a file of many sections in blocks, about once: a name
// its filter of names seen takes for a repeat sends it back to the start
// rarely, not at every few sections.
TEST_F(Injected, ManySectionsAreReadInBlocksAboutOnce) {
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    text += "[s5]\nlate=1\n"; // a get reads the first [s5] only
    put(text);
    long keys = 0;
    hook::record();
    EXPECT_EQ(ini_getkeys(
                  path.c_str(), nullptr,
                  [](void *count, const char *, const char *, const char *) {
                      ++*static_cast<long *>(count);
                      return 0;
                  },
                  &keys),
              INI_OK);
    hook::disarm();
    EXPECT_EQ(keys, 600);
    const long reads =
        std::count_if(hook::state().calls.begin(), hook::state().calls.end(),
                      [](const hook::Record &call) { return call.op == hook::Op::read; });
    EXPECT_LE(reads, 2 * long(text.size() / iniplace::read_block + 2));
}

// A value refused, or a new file whose text would be too long, is refused
// before anything is made at the file's name or beside it.
TEST_F(Injected, ARefusedTextForANewFileMakesNothing) {
    // Each line fits, not the header and the key line together.
    const std::string section(600, 's'), value(500, 'v');
    const std::pair<std::string, std::string> rows[] = {{section, value}, {"s", "two\nlines"}};
    for (const auto &[name, text] : rows) {
        hook::record();
        EXPECT_EQ(ini_setkey(path.c_str(), name.c_str(), "k", text.c_str()), INI_EINVAL);
        hook::disarm();
        EXPECT_TRUE(
            std::none_of(hook::state().calls.begin(), hook::state().calls.end(),
                         [](const hook::Record &call) { return call.op == hook::Op::unlink; }));
        EXPECT_FALSE(exists(path));
    }
}

// A step that fails ends the batch: its failure is reported (the durable
// build puts the file back).
TEST_F(Injected, ABatchInStepsIsRefusedWholeOnAFullDisk) {
    const std::string before = sample + std::string(iniplace::read_block, ';') + "\n";
    const ini_setting batch[] = {{"net", "port", "8080"}, {"log", "level", "3"}};
    for (const hook::Point &point : {hook::Point{{hook::Op::reserve}, 1, "t.ini"},
                                     hook::Point{{hook::Op::write}, 1, "t.ini"}}) {
        put(before);
        hook::arm(point, hook::Act::fail, ENOSPC);
        EXPECT_EQ(ini_setkeys(path.c_str(), batch, 2), INI_EOPEN);
        EXPECT_TRUE(hook::reached());
        hook::disarm();
        char value[8];
        EXPECT_EQ(ini_getkey(path.c_str(), "log", "level", value, sizeof value), INI_OK);
        const std::string now = contents();
        const bool first_made = now == std::string(before).replace(15, 2, "8080");
        EXPECT_TRUE(now == before ||
                    (first_made && !durable_build && point.ops[0] == hook::Op::write))
            << "neither the old file nor the first setting made";
    }
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
    const bool root = geteuid() == 0;
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
        // Another user's empty file there is hers (as root; else the
        // caller's own, which a creation clears).
        {"another user's empty file named like it, a new file",
         [&] {
             put(side, "");
             chmod(side.c_str(), 0600);
             (void)chown(side.c_str(), 65534, 65534); // fails unless root
         },
         set("s", "k", "v"), root ? INI_EOPEN : INI_OK,
         root ? std::nullopt : std::optional<std::string>("[s]\nk=v\n"),
         root ? std::optional<std::string>("") : std::nullopt},
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
            if ((child = checked_fork()) == 0) {
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

// Every call a get, a set, a set that makes the file and a set through a
// symbolic link make, in turn: failed with EINTR or EIO, cut short (a
// read), refused (a rename: EXDEV, EPERM), or with the file's name taken by
// another file's rename or (as root) by another user's link, in a
// directory her group may write, just before it. Each call ends done, with
// the new file (the value read), or with -1 and the file as it was; calls
// that a signal may cut short (locks, reads, writes) and a short read end
// done; a rename before the edit took its lock is seen. Nothing is left at
// the side name, no descriptor stays open, and the call then succeeds.
TEST_F(Injected, EveryCallOfTheLockNameAndCreationPathsFailsOrIsRaced) {
    using O = hook::Op;
    const std::string old = "[net]\n" + std::string(80, ';') + "\nport=80\n", other = dir + "/o",
                      renamed = "[net]\nport=1\n", secret = dir + "/secret/s.ini";
    const std::string edited = std::string(old).insert(old.size() - 1, "80");
    std::filesystem::create_directory(dir + "/secret");
    ASSERT_EQ(chmod(dir.c_str(), 0770) | chmod((dir + "/secret").c_str(), 0700), 0);
    const std::string link = dir + "/link.ini";
    const struct {
        const char *name;
        std::optional<std::string> before;
        const std::string *through; // the name the call is given
        bool get;
    } scenarios[] = {{"get", old, &path, true},
                     {"set", old, &path, false},
                     {"set that makes the file", std::nullopt, &path, false},
                     {"set through a link", old, &link, false}};
    const auto call = [](const std::string &name, bool get, std::string &value) {
        char read[16] = "";
        const int status = get ? ini_getkey(name.c_str(), "net", "port", read, sizeof read)
                               : ini_setkey(name.c_str(), "net", "port", "8080");
        value = read;
        return status;
    };
    enum Kind { eintr, eio, shorten, exdev, eperm, rename_over, her_link };
    for (const auto &s : scenarios) {
        const std::string after = s.before ? edited : "[net]\nport=8080\n";
        const std::string &name = *s.through;
        const auto lay = [&] {
            for (const std::string &name : {path, path + "-journal", link, other})
                std::filesystem::remove(name);
            if (s.before)
                put(*s.before);
            put(secret, renamed);
            std::filesystem::create_symlink("t.ini", link);
        };
        lay();
        std::string value;
        hook::record();
        ASSERT_EQ(call(name, s.get, value), INI_OK) << s.name;
        hook::disarm();
        const std::vector<hook::Record> calls = hook::state().calls;
        // A rename before the edit takes its lock (before a creation's
        // rename) is seen by the edit: it edits the file renamed there.
        std::size_t seen_until = 0;
        while (seen_until < calls.size() &&
               calls[seen_until].op != (s.before ? O::lock : O::rename))
            ++seen_until;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const O op = calls[i].op;
            const std::string &file = calls[i].file;
            if (op == O::pause || op == O::clock ||
                (file.size() >= 5 && file.compare(file.size() - 5, 5, "t.ini") == 0 &&
                 (op == O::write || op == O::truncate || op == O::reserve)))
                continue;
            const int nth = int(std::count_if(calls.begin(), calls.begin() + long(i) + 1,
                                              [op](const hook::Record &c) { return c.op == op; }));
            for (const Kind kind : {eintr, eio, shorten, exdev, eperm, rename_over, her_link}) {
                if ((kind == shorten && op != O::read) ||
                    ((kind == exdev || kind == eperm) && op != O::rename) ||
                    (kind == her_link && geteuid() != 0))
                    continue;
                const std::string where = std::string(s.name) + ", call " + std::to_string(i) +
                                          " (" + std::to_string(int(op)) + ", " + calls[i].file +
                                          "), kind " + std::to_string(kind);
                lay();
                const int descriptors = open_descriptors();
                const hook::Act act = kind == shorten       ? hook::Act::shorten
                                      : kind >= rename_over ? hook::Act::run
                                                            : hook::Act::fail;
                hook::arm({{op}, nth}, act,
                          kind == eintr   ? EINTR
                          : kind == eio   ? EIO
                          : kind == exdev ? EXDEV
                                          : EPERM);
                hook::state().action = [&] {
                    if (kind == rename_over) {
                        put(other, renamed);
                        std::filesystem::rename(other, name);
                        return;
                    }
                    std::error_code none;
                    std::filesystem::rename(name, other, none);
                    std::filesystem::create_symlink(secret, name);
                    EXPECT_EQ(lchown(name.c_str(), 65534, 65534), 0);
                };
                const int status = call(name, s.get, value);
                hook::disarm();
                EXPECT_EQ(open_descriptors(), descriptors) << where;
                EXPECT_EQ(contents(secret), renamed) << where;
                if (kind == her_link) {
                    std::filesystem::remove(name);
                    std::error_code none;
                    std::filesystem::rename(other, name, none);
                }
                const bool must_succeed = kind == shorten || kind == rename_over ||
                                          (kind == eintr && (op == O::lock || op == O::unlock ||
                                                             op == O::read || op == O::write));
                // The durable build puts back what a failed edit left at the
                // next call, if not at once.
                std::string read;
                if (durable_build)
                    (void)call(name, true, read);
                const std::optional<std::string> now = bytes_of(kind == rename_over ? name : path);
                if (status == INI_OK && s.get) {
                    EXPECT_TRUE(value == "80" || (kind == rename_over && value == "1"))
                        << where << ": " << value;
                } else if (status == INI_OK) {
                    EXPECT_TRUE(now == (kind == rename_over ? "[net]\nport=8080\n" : after) ||
                                (kind == rename_over && i > seen_until && now == renamed))
                        << where;
                } else {
                    EXPECT_FALSE(must_succeed) << where << ": " << status;
                    EXPECT_EQ(status, INI_EOPEN) << where;
                    EXPECT_EQ(now, s.before) << where;
                }
                // What a journal that could not be removed leaves is empty.
                EXPECT_EQ(bytes_of(path + "-journal").value_or(""), "") << where;
                std::filesystem::remove(other);
                EXPECT_EQ(call(name, s.get, value), INI_OK) << where;
                EXPECT_FALSE(exists(path + "-journal")) << where;
                EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 3) << where;
            }
        }
    }
}

} // namespace
