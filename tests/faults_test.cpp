// A bad day in the field: permissions, special files, a file-size limit,
// a full disk under a sparse file, files past 4 GiB and small thread
// stacks.
#define _FILE_OFFSET_BITS 64
#include "helpers.h"

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

const char *const sample = "p=1\n[net]\nport=80\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n";

// Every operation that edits, with arguments that are valid for `sample`.
const std::pair<const char *, Call> edits[] = {
    {"set", set("net", "port", "8080")}, {"set new", set("new", "k", "5")},
    {"delkey", del("net", "host")},      {"delsect", del_section("hosts")},
    {"add", add("hosts", "gamma")},      {"remove", drop("hosts", "alpha")},
};

int drop_privileges() {
    return geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0) ? 1 : 0;
}

class Faults : public FileTest {};

TEST_F(Faults, PermissionsAreRespected) {
    put(sample);
    chmod(dir.c_str(), 0755);
    chmod(path.c_str(), 0444);
    EXPECT_EQ(in_child([this] {
                  int failed = drop_privileges();
                  for (const auto &edit : edits)
                      failed += edit.second(path.c_str()) != INI_EOPEN;
                  char value[16];
                  return failed + (ini_getkey(path.c_str(), "net", "port", value, 16) != INI_OK);
              }),
              0);
    EXPECT_EQ(contents(), sample);

    // A writable file in a read-only directory is edited in place; the
    // durable build, which cannot make a journal there, refuses the edit.
    chmod(path.c_str(), 0666);
    chmod(dir.c_str(), 0555);
    const std::string missing = dir + "/missing.ini";
    EXPECT_EQ(in_child([&] {
                  const int expected = durable_build ? INI_EOPEN : INI_OK;
                  return drop_privileges() +
                         (ini_setkey(path.c_str(), "net", "port", "8") != expected) +
                         (ini_setkey(missing.c_str(), "net", "port", "1") != INI_EOPEN);
              }),
              0);
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(contents(),
              durable_build
                  ? sample
                  : "p=1\n[net]\nport=8\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n");
    EXPECT_FALSE(exists(missing));
}

TEST_F(Faults, SpecialFilesAreRefusedWithoutWaiting) {
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string &special : {fifo, dir, std::string("/dev/null")}) {
        for (const auto &[name, edit] : edits)
            EXPECT_EQ(edit(special.c_str()), INI_EOPEN) << name << " on " << special;
        char value[16];
        EXPECT_EQ(ini_getkey(special.c_str(), "s", "k", value, 16), INI_EOPEN) << special;
        EXPECT_EQ(ini_getsection(special.c_str(), "s", nullptr, 0, value, 16), INI_EOPEN);
    }
}

// Names through links of the caller's own reach their file: a directory on
// the way by a relative or an absolute target, a chain, `..` in a target,
// a link as the file; a missing target is made by the default build and
// refused by the durable one; a loop, a link to a directory and a name
// ending in a slash are refused.
TEST_F(Faults, NamesReachTheirFileThroughTheCallersLinks) {
    std::filesystem::create_directories(dir + "/real/sub");
    const std::string real = dir + "/real/sub/t.ini", made = dir + "/real/sub/new.ini";
    const std::pair<const char *, std::string> links[] = {
        {"rel", "real/sub"},       {"abs", dir + "/real/sub"}, {"chain", "rel"},
        {"up", "real/sub/../sub"}, {"file", "real/sub/t.ini"}, {"fileabs", real},
        {"dangling", made},        {"loop", "loop2"},          {"loop2", "loop"},
        {"todir", "real"},
    };
    for (const auto &[name, target] : links)
        std::filesystem::create_symlink(target, dir + "/" + name);
    const int made_status = durable_build ? INI_EOPEN : INI_OK;
    const struct {
        const char *name;
        int status;
        const std::string *changed; // the file the edit lands in
    } rows[] = {
        {"rel/t.ini", INI_OK, &real},
        {"abs/t.ini", INI_OK, &real},
        {"chain/t.ini", INI_OK, &real},
        {"up/t.ini", INI_OK, &real},
        {"file", INI_OK, &real},
        {"fileabs", INI_OK, &real},
        {"/rel//./t.ini", INI_OK, &real},
        {"dangling", made_status, &made},
        {"loop/t.ini", INI_EOPEN, nullptr},
        {"todir", INI_EOPEN, nullptr},
        {"rel/t.ini/", INI_EOPEN, nullptr},
        {"rel/../rel/t.ini", INI_EOPEN, nullptr},
    };
    for (const auto &row : rows) {
        put(real, "[s]\nk=1\n");
        std::filesystem::remove(made);
        const std::string name = (row.name[0] == '/' ? dir : dir + "/") + row.name;
        EXPECT_EQ(ini_setkey(name.c_str(), "s", "k", "2"), row.status) << row.name;
        char value[8] = "";
        const bool changed = row.changed != nullptr && row.status == INI_OK;
        EXPECT_EQ(ini_getkey(name.c_str(), "s", "k", value, sizeof value),
                  changed ? INI_OK : INI_EOPEN)
            << row.name;
        EXPECT_STREQ(value, changed ? "2" : "") << row.name;
        EXPECT_EQ(contents(real), changed && row.changed == &real ? "[s]\nk=2\n" : "[s]\nk=1\n")
            << row.name;
        EXPECT_EQ(exists(made), changed && row.changed == &made) << row.name;
    }
}

// With the default SIGXFSZ disposition, a write past the limit would end
// the process: edits that would write past it are not made at all; an edit
// that ends exactly at the limit is made.
TEST_F(Faults, FileSizeLimitLeavesTheFileAndTheProcessAlone) {
    const std::string before = std::string(sample) + std::string(3000, ';') + "\n";
    const rlim_t above = before.size() + 3;
    const struct {
        const char *name;
        rlim_t limit;
        Call edit;
        int status;
        std::string after;
    } cases[] = {
        // An edit whose write fails once the file is open returns INI_OK;
        // the durable build, which puts the file back, says so.
        {"longer value", above, set("net", "port", "808080"), edit_failed, before},
        {"new section", above, set("zz", "k", "v"), edit_failed, before},
        {"new entry", above, add("log", "xyz"), edit_failed, before},
        {"file_ins", above, insert_at(4, "0123"), -1, before},
        // Moving the tail of a file already past the limit would write there.
        {"delete past the limit", 100, del("net", "port"), edit_failed, before},
        // At the file's end, so that the durable build's journal is small.
        {"up to the limit", above, add("log", "xy"), INI_OK, before + "xy\n"},
        {"file_ins up to the limit", above, insert_at(4, "012"), 0,
         std::string(before).insert(4, "012")},
    };
    for (const auto &c : cases) {
        put(before);
        EXPECT_EQ(in_child([&] {
                      const rlimit limit{c.limit, RLIM_INFINITY};
                      setrlimit(RLIMIT_FSIZE, &limit);
                      const int status = c.edit(path.c_str());
                      struct sigaction action {};
                      sigaction(SIGXFSZ, nullptr, &action);
                      return action.sa_handler != SIG_DFL ? 99 : status & 0xFF;
                  }),
                  c.status & 0xFF)
            << c.name;
        EXPECT_TRUE(contents() == c.after) << c.name;
    }
}

// Writing into the holes of a sparse file needs space; on a full disk the
// edit must fail before any byte moves, and a new file is not made. A small
// file system of our own is mounted in a private mount namespace, so this
// needs root.
TEST_F(Faults, ASparseFileOnAFullDiskIsLeftAsItWas) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const int result = in_child([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("", "/", "", MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") != 0)
            return 100;
        ::put(path, "[a]\nk=1\n");
        const int fd = ::open(path.c_str(), O_WRONLY);
        const std::string tail = "[b]\nkey=value\n";
        const bool made = pwrite(fd, tail.data(), tail.size(), 700000) > 0 && close(fd) == 0;
        const std::string before = contents();
        const int filler = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        static const char block[4096] = {};
        while (::write(filler, block, sizeof block) > 0) {
        }
        close(filler);
        ini_setkey(path.c_str(), "a", "k", "a longer value");
        ini_delkey(path.c_str(), "a", "k");
        // A new file fails, and none is left.
        const std::string fresh = dir + "/fresh.ini";
        const bool none = ini_setsection_string(fresh.c_str(), "hosts", "alpha") == INI_EOPEN &&
                          !exists(fresh) && !exists(fresh + "-journal");
        return !made ? 101 : contents() == before && none ? 0 : 1;
    });
    if (result == 100)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(result, 0);
}

// 64-bit offsets everywhere, on the 32-bit target too: a sparse file that
// ends past 4 GiB.
TEST_F(Faults, FilesPastFourGibibytesWork) {
    constexpr off_t far = (off_t{9} << 29) + 5; // 4.5 GiB and a bit
    put("[a]\nk=1\n");
    ASSERT_EQ(truncate(path.c_str(), far), 0);
    char value[8];
    EXPECT_EQ(ini_getkey(path.c_str(), "a", "k", value, 8), INI_OK);
    EXPECT_EQ(ini_setkey(path.c_str(), "a", "k", "2"), INI_OK);
    FILE *stream = open_stream();
    ASSERT_EQ(fseeko(stream, far, SEEK_SET), 0);
    EXPECT_EQ(file_ins(stream, 16, "[z]\nq=1\n[y]\nr=2\n"), 0);
    ASSERT_EQ(fseeko(stream, far, SEEK_SET), 0);
    char line[INI_LINE_SIZE];
    EXPECT_EQ(parse(stream, "y", "r", line, sizeof line), INI_SCAN_LINE);
    EXPECT_EQ(ftello(stream), far + 12);
    EXPECT_EQ(file_cut(stream, 4), 0);
    std::fclose(stream);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, far + 12);
    EXPECT_EQ(ini_getkey(path.c_str(), "a", "k", value, 8), INI_OK);
    EXPECT_STREQ(value, "2");
}

// The calls that use the most stack run on a thread with a 32 KB stack; the
// stack they use is measured by painting it first.
std::string file_for_thread;
struct Deepest {
    std::size_t used = 0;
    int status[7] = {};
    char host[32] = {}, next[32] = {};
} deepest_calls;

void *run_deepest_calls(void *) {
    pthread_attr_t attributes;
    void *bottom = nullptr;
    std::size_t size = 0;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstack(&attributes, &bottom, &size);
    auto *const low = static_cast<volatile unsigned char *>(bottom) + 4096;
    auto *const here = static_cast<volatile unsigned char *>(__builtin_frame_address(0));
    for (volatile unsigned char *byte = low; byte < here - 512; ++byte)
        *byte = 0xA5;
    Deepest &d = deepest_calls;
    const char *p = file_for_thread.c_str();
    d.status[0] = ini_setkey_string(p, "a new section with a long name", "key", "a value");
    d.status[1] = ini_getkey_string(p, "net", "host", d.host, sizeof d.host, "d");
    d.status[2] = ini_getsection_string(p, "hosts", "alpha", INI_ENTRY_NEXT, d.next, 32, "d");
    d.status[3] = ini_setsection_string(p, "another new section", "an entry");
    d.status[4] = ini_delsection_string(p, "hosts", "beta");
    d.status[5] = ini_getkeys(
        p, nullptr, [](void *, const char *, const char *, const char *) { return 0; }, nullptr);
    const ini_setting batch[] = {{"a new section with a long name", "key", "\"a value\""},
                                 {"net", "host", "gw"}};
    d.status[6] = ini_setkeys(p, batch, 2);
    volatile unsigned char *deepest = low;
    while (deepest < here && *deepest == 0xA5)
        ++deepest;
    d.used = static_cast<std::size_t>(here - deepest);
    return nullptr;
}

TEST_F(Faults, ThirtyTwoKibibytesOfStackAreEnough) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers enlarge every frame";
#elif !defined(__OPTIMIZE__)
    GTEST_SKIP() << "an unoptimised build's frames are larger (the manual gives its figure)";
#endif
    put(sample);
    file_for_thread = path;
    int measured[2];
    ASSERT_EQ(pipe(measured), 0);
    Deepest &d = deepest_calls;
    EXPECT_EQ(in_child([&] {
                  pthread_attr_t attributes;
                  pthread_t thread;
                  pthread_attr_init(&attributes);
                  pthread_attr_setstacksize(&attributes, 32 * 1024);
                  if (pthread_create(&thread, &attributes, run_deepest_calls, nullptr) != 0)
                      return 1;
                  pthread_join(thread, nullptr);
                  return write(measured[1], &d, sizeof d) == sizeof d ? 0 : 2;
              }),
              0);
    // A child that died has written nothing: the read ends at once.
    close(measured[1]);
    ASSERT_EQ(read(measured[0], &d, sizeof d), static_cast<ssize_t>(sizeof d));
    close(measured[0]);
    std::printf("[ stack    ] the calls used %zu bytes of stack\n", d.used);
    // The ceiling the library's manual promises.
    EXPECT_LE(d.used, 28u * 1024);
    EXPECT_EQ(std::vector<int>(d.status, d.status + 7), std::vector<int>(7, INI_OK));
    EXPECT_STREQ(d.host, "gw");
    EXPECT_STREQ(d.next, "beta");
    EXPECT_EQ(contents(), std::string(sample).replace(std::strlen(sample) - 19, 5, "") +
                              "[a new section with a long name]\nkey=\"a value\"\n"
                              "[another new section]\nan entry\n");
}

} // namespace
