// Another user of the machine, and locks held for good: a lock on the file
// or on its journal that is never let go, journals forged or swapped for a
// link while recovery runs, the mode of a journal. The other user is a
// child that drops to uid 65534, so these rows need root (CI runs as root);
// they skip with a message otherwise.
// Lock waits run in no time here: the io hook skips their pauses.
#include "helpers.h"
#include "io_hook.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

using hook::Act;

constexpr uid_t other = 65534;
const std::string before =
    "[net]\nport=80\nhost=gw\n" + std::string(300, ';') + "\n[hosts]\nalpha\n";

// Runs `body` in a child as the other user.
template <typename Body> int as_other(Body body) {
    return in_child([&] { return setgid(other) == 0 && setuid(other) == 0 ? body() : 99; });
}

class Users : public FileTest {
  protected:
    Users() { in_memory = true; }
    void SetUp() override {
        FileTest::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "another user needs root: these rows ran only where the suite is root";
        chmod(dir.c_str(), 0777);
    }
    std::string journal() const { return path + "-journal"; }
    // A get and a set, each in a child that a hang would not outlive (which
    // takes `self_lock` on the file first, when not 0): their statuses, 77
    // when one failed before its lock wait ran out, or 200 and the signal
    // that ended it.
    std::vector<int> get_and_set(int self_lock = 0) const {
        std::vector<int> statuses;
        for (const Call &call : {Call([](const char *p) {
                                     char value[16];
                                     return ini_getkey(p, "net", "port", value, sizeof value);
                                 }),
                                 set("net", "port", "8080")}) {
            statuses.push_back(in_child([&] {
                alarm(20);
                if (self_lock != 0 && !take_lock(::open(path.c_str(), O_RDWR), self_lock))
                    return 98;
                hook::record();
                const int status = call(path.c_str());
                // Waited out to the end of its 5 seconds, no more and no
                // less (the hook's clock is the pauses).
                return hook::state().paused_us == 5000000 || status == INI_OK ? status & 0xFF : 77;
            }));
        }
        return statuses;
    }
    // The file and its journal half-way through a growing set made by the
    // other user: it crashed after its first write to the file.
    void crash_as_other() const {
        const std::string longer(400, 'x');
        std::filesystem::remove_all(journal());
        std::filesystem::remove(path);
        ASSERT_EQ(as_other([&] {
                      put(before);
                      hook::arm({{hook::Op::write}, 2, "t.ini"}, Act::stop);
                      return ini_setkey(path.c_str(), "net", "port", longer.c_str());
                  }),
                  hook::stopped);
        ASSERT_TRUE(exists(journal()));
    }
};

// A lock held for good makes the calls that wait for it fail at the end of
// the wait, the file untouched. Gets wait only for locks that take write
// access: a user who can only read the file cannot hold them off; edits
// wait for every lock, flock(1)'s included.
TEST_F(Users, ALockHeldForGoodEndsTheWaitWithAFailure) {
    constexpr int failed = INI_EOPEN & 0xFF;
    const struct {
        const char *name;
        bool journal;            // the lock is on a journal a crash left
        int how;                 // the lock held
        bool by_caller;          // by the calling process itself
        std::vector<int> status; // of a get and a set
    } rows[] = {
        {"flock, exclusive", false, LOCK_EX, false, {INI_OK, failed}},
        {"flock, shared", false, LOCK_SH, false, {INI_OK, failed}},
        {"flock, exclusive, by the caller", false, LOCK_EX, true, {INI_OK, failed}},
        {"a byte lock to read", false, read_lock, false, {INI_OK, failed}},
        {"a byte lock to write", false, write_lock, false, {failed, failed}},
        {"a byte lock to write, by the caller", false, write_lock, true, {failed, failed}},
        {"on a journal a crash left", true, LOCK_EX, false, {failed, failed}},
    };
    for (const auto &row : rows) {
        if (row.journal && !durable_build)
            continue;
        std::filesystem::remove(journal());
        put(before);
        // Only a lock to write needs the other user to be able to write.
        chmod(path.c_str(), row.how == write_lock ? 0666 : 0644);
        if (row.journal)
            crash_as_other();
        const std::string left = contents();
        const Holder holder(row.journal ? journal() : path, row.by_caller ? 0 : row.how, other);
        ASSERT_TRUE(holder.held()) << row.name;
        EXPECT_EQ(get_and_set(row.by_caller ? row.how : 0), row.status) << row.name;
        EXPECT_EQ(contents(), left) << row.name;
    }
}

// What another user can do with a journal: nothing that reaches a file.
TEST_F(Users, AJournalIsOnlyTheLibrarysOwn) {
    if (!durable_build)
        GTEST_SKIP() << "only the durable build keeps journals";
    const std::string target = dir + "/secret/target.ini";
    std::filesystem::create_directory(dir + "/secret");
    put(target, "[net]\nport=1\n");
    chmod(target.c_str(), 0600);
    const struct {
        const char *name;
        std::function<void()> make; // on a journal of the other user's crash
        int status;                 // of a get; done, the file is as before the crash
    } rows[] = {
        {"made by the file's owner", [] {}, INI_OK},
        {"another user's, of a root file", [&] { EXPECT_EQ(chown(path.c_str(), 0, 0), 0); },
         INI_EOPEN},
        {"root's, writable by all",
         [&] { EXPECT_EQ(chown(journal().c_str(), 0, 0) | chmod(journal().c_str(), 0666), 0); },
         INI_EOPEN},
        {"with a second link",
         [&] { EXPECT_EQ(::link(journal().c_str(), (dir + "/kept").c_str()), 0); }, INI_EOPEN},
        {"a directory",
         [&] {
             std::filesystem::rename(journal(), dir + "/kept");
             std::filesystem::create_directory(journal());
         },
         INI_EOPEN},
        {"a symbolic link to the journal",
         [&] {
             std::filesystem::rename(journal(), dir + "/kept");
             std::filesystem::create_symlink(dir + "/kept", journal());
         },
         INI_EOPEN},
        {"readable by others", [&] { EXPECT_EQ(chmod(journal().c_str(), 0644), 0); }, INI_EOPEN},
    };
    for (const auto &row : rows) {
        std::filesystem::remove(dir + "/kept");
        crash_as_other();
        const std::string left = contents();
        row.make();
        EXPECT_EQ(in_child([&] {
                      char value[16];
                      return ini_getkey(path.c_str(), "net", "port", value, sizeof value) & 0xFF;
                  }),
                  row.status & 0xFF)
            << row.name;
        EXPECT_EQ(contents(), row.status == INI_OK ? before : left) << row.name;
        EXPECT_EQ(contents(target), "[net]\nport=1\n") << row.name;
    }
    // The file's name swapped for a link to a root-only file that the
    // journal fits too, while recovery waits for the journal's lock:
    // recovery works on the file it opened, and the target keeps its bytes.
    std::filesystem::remove(dir + "/kept");
    crash_as_other();
    const std::string left = contents();
    put(target, left);
    EXPECT_EQ(in_child([&] {
                  hook::arm({{hook::Op::lock}, 1, "-journal"}, Act::run);
                  hook::state().action = [&] {
                      std::filesystem::rename(path, dir + "/kept");
                      std::filesystem::create_symlink(target, path);
                  };
                  char value[16];
                  return ini_getkey(path.c_str(), "net", "port", value, sizeof value);
              }),
              INI_OK);
    EXPECT_EQ(contents(target), left);
    EXPECT_EQ(contents(dir + "/kept"), before);
}

// In a directory others may write, a link another user made is never
// followed, whether it stands at the file's name or at a directory's on
// the way, was there before the call, is swapped in while the call opens
// the name, or is swapped with her file again and again by her process; a
// link of the caller's is followed (by the default build to make a file).
TEST_F(Users, AnotherUsersLinkIsNotFollowed) {
    const std::string secret = dir + "/secret", target = secret + "/target.ini";
    std::filesystem::create_directory(secret);
    std::filesystem::create_directory(dir + "/hers");
    put(dir + "/hers/app.ini", before);
    put(dir + "/app.ini", before);
    chown((dir + "/hers").c_str(), other, other);
    chown((dir + "/app.ini").c_str(), other, other);
    // Her link named `name` to `to`, made by root and given to her.
    const auto her_link = [](const std::string &to, const std::string &name) {
        std::filesystem::remove_all(name);
        std::filesystem::create_symlink(to, name);
        EXPECT_EQ(lchown(name.c_str(), other, other), 0);
    };
    enum When { before_the_call, at_the_open, in_a_loop };
    const struct {
        const char *name;
        std::string path; // the caller edits
        std::string link; // the name her link takes, to `to`
        std::string to;
        When when;
    } rows[] = {
        {"at the name", dir + "/app.ini", dir + "/app.ini", target, before_the_call},
        {"at the name, swapped in at the open", dir + "/app.ini", dir + "/app.ini", target,
         at_the_open},
        {"a directory on the way", dir + "/cfg/target.ini", dir + "/cfg", secret, before_the_call},
        {"a directory, swapped in at the open", dir + "/hers/app.ini", dir + "/hers", secret,
         at_the_open},
        {"swapped with her file in a loop", dir + "/app.ini", dir + "/swap", target, in_a_loop},
    };
    for (const mode_t mode : {01777, 0777}) {
        ASSERT_EQ(chmod(dir.c_str(), mode), 0);
        for (const auto &row : rows) {
            const std::string where = row.name + std::string(mode == 0777 ? ", not sticky" : "");
            put(target, "[net]\nport=1\n");
            if (row.when == before_the_call)
                her_link(row.to, row.link);
            std::vector<int> statuses;
            if (row.when == at_the_open) {
                hook::arm({{hook::Op::open}, 1, "app.ini"}, Act::run);
                hook::state().action = [&] {
                    std::filesystem::rename(row.link, dir + "/kept");
                    her_link(row.to, row.link);
                };
                statuses.push_back(ini_setkey(row.path.c_str(), "net", "pwned", "1"));
                hook::disarm();
                std::filesystem::remove(row.link);
                std::filesystem::rename(dir + "/kept", row.link);
            }
            if (row.when == in_a_loop) {
                her_link(row.to, row.link);
                const pid_t swapper = checked_fork();
                ASSERT_GE(swapper, 0);
                if (swapper == 0) { // her swapper, ended by the parent; never the test
                    if (setgid(other) == 0 && setuid(other) == 0)
                        for (;;)
                            renameat2(AT_FDCWD, row.link.c_str(), AT_FDCWD, row.path.c_str(),
                                      RENAME_EXCHANGE);
                    _exit(1);
                }
                for (int call = 0; call < 10000; ++call)
                    statuses.push_back(ini_setkey(row.path.c_str(), "net", "pwned", "1"));
                kill(swapper, SIGKILL);
                waitpid(swapper, nullptr, 0);
            }
            if (row.when == before_the_call)
                statuses.push_back(ini_setkey(row.path.c_str(), "net", "pwned", "1"));
            EXPECT_EQ(contents(target), "[net]\nport=1\n") << where;
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), INI_EOPEN), statuses.end())
                << where;
            if (row.when != at_the_open)
                std::filesystem::remove(row.link);
            put(dir + "/app.ini", before);
            chown((dir + "/app.ini").c_str(), other, other);
        }
    }
    // The caller's own link is followed, to make a missing file too.
    std::filesystem::remove(target);
    std::filesystem::remove(dir + "/app.ini");
    std::filesystem::create_symlink(target, dir + "/app.ini");
    EXPECT_EQ(ini_setkey((dir + "/app.ini").c_str(), "s", "k", "v"),
              durable_build ? INI_EOPEN : INI_OK);
    EXPECT_EQ(exists(target), !durable_build);
}

// A journal is readable by the user who edits alone, whatever the file's
// group and mode, and never widened; one that could not be removed is
// empty: it keeps no old bytes, and other users, who cannot open it, read
// the file past it.
TEST_F(Users, AJournalLeftBehindIsOwnerOnlyEmptyAndHarmless) {
    if (!durable_build)
        GTEST_SKIP() << "only the durable build keeps journals";
    put(before);
    ASSERT_EQ(chown(dir.c_str(), 0, 1234) | chmod(dir.c_str(), 02775), 0);
    ASSERT_EQ(chown(path.c_str(), 0, 1234) | chmod(path.c_str(), 0664), 0);
    hook::arm({{hook::Op::unlink}, 1, "-journal", true}, Act::fail, EPERM);
    EXPECT_EQ(ini_setkey(path.c_str(), "net", "port", "8080"), INI_OK);
    hook::disarm();
    struct stat left {};
    ASSERT_EQ(stat(journal().c_str(), &left), 0);
    EXPECT_EQ(left.st_mode & 07777, 0600u);
    EXPECT_EQ(left.st_uid, 0u);
    EXPECT_EQ(left.st_size, 0);
    EXPECT_EQ(as_other([&] {
                  char value[16];
                  return ini_getkey(path.c_str(), "net", "port", value, sizeof value) == INI_OK &&
                                 std::string(value) == "8080"
                             ? 0
                             : 1;
              }),
              0);
}

// A file mounted on its own (a bind mount of one file, as containers
// make) hides the name its journal goes beside: the durable build neither
// edits nor reads it through the name it is mounted on, which could show
// it half moved; an edit through the file's own name is made.
TEST_F(Users, AFileMountedOnItsOwnIsNotEditedThroughTheMount) {
    if (!durable_build)
        GTEST_SKIP() << "only the durable build keeps journals";
    put(before);
    const std::string mounted = dir + "/mounted.ini";
    put(mounted, "");
    const int status = in_child([&] {
        // A kernel (or an emulator, which may set the bit and not the
        // number) that does not tell a file's mount cannot tell a file
        // mounted on its own either.
        struct statx told {};
        if (statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &told) != 0 ||
            (told.stx_mask & STATX_MNT_ID) == 0 || told.stx_mnt_id == 0 ||
            unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(path.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return 77;
        char value[16];
        return (ini_setkey(mounted.c_str(), "net", "port", "1") == INI_EOPEN) +
               2 * (ini_getkey(mounted.c_str(), "net", "port", value, sizeof value) == INI_EOPEN) +
               4 * (ini_setkey(path.c_str(), "net", "port", "2") == INI_OK);
    });
    if (status == 77)
        GTEST_SKIP() << "no mount namespace here, or no mount told of a file";
    EXPECT_EQ(status, 7);
    EXPECT_EQ(contents(), std::string(before).replace(11, 2, "2"));
}

} // namespace
