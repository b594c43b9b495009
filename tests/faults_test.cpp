// Faults and load: permissions, special files, failing writes, a file-size
// limit, descriptor and heap balance, and threads on separate files.
#include "descriptors.h"
#include "helpers.h"
#include "iniplace.h"

#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

const char *const sample = "p=1\n[net]\nport=80\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n";

// Every operation that edits, with arguments that are valid for `sample`.
const std::pair<const char *, Call> edits[] = {
    {"set", [](const char *p) { return ini_setkey(p, "net", "port", "8080"); }},
    {"set long", [](const char *p) { return ini_setkey_long(p, "new", "k", 5); }},
    {"delkey", [](const char *p) { return ini_delkey(p, "net", "host"); }},
    {"delsect", [](const char *p) { return ini_delsect(p, "hosts"); }},
    {"add", [](const char *p) { return ini_setsection_string(p, "hosts", "gamma"); }},
    {"remove", [](const char *p) { return ini_delsection_string(p, "hosts", "alpha"); }},
};

// Runs `body` in a child process, as an unprivileged user when run as root,
// and returns the child's exit status (the number of failed checks).
template <typename Body> int in_child(bool drop_privileges, Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (drop_privileges && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

class Faults : public FileTest {};

TEST_F(Faults, ReadOnlyFileRejectsEveryEdit) {
    put(sample);
    chmod(dir.c_str(), 0755);
    chmod(path.c_str(), 0444);
    const int failures = in_child(true, [this] {
        int failed = 0;
        for (const auto &edit : edits)
            failed += edit.second(path.c_str()) != INI_EOPEN;
        char value[16];
        failed += ini_getkey(path.c_str(), "net", "port", value, sizeof value) != INI_OK;
        return failed;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(contents(), sample);
}

TEST_F(Faults, ReadOnlyDirectoryStillAllowsEditsInPlace) {
    put(sample);
    chmod(path.c_str(), 0666);
    chmod(dir.c_str(), 0555);
    const std::string missing = dir + "/missing.ini";
    const int failures = in_child(true, [&] {
        int failed = 0;
        failed += ini_setkey(path.c_str(), "net", "port", "8080") != INI_OK;
        failed += ini_setsection_string(path.c_str(), "hosts", "gamma") != INI_OK;
        failed += ini_setkey(missing.c_str(), "net", "port", "1") != INI_EOPEN;
        failed += ini_setsection_string(missing.c_str(), "hosts", "x") != INI_EOPEN;
        return failed;
    });
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(contents(),
              "p=1\n[net]\nport=8080\nhost=gw\n[hosts]\nalpha\nbeta\ngamma\n[log]\nlevel=2\n");
    EXPECT_FALSE(exists(missing));
}

TEST_F(Faults, SpecialFilesAreRefusedWithoutWaiting) {
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string &special : {fifo, dir, std::string("/dev/null")}) {
        for (const auto &[name, edit] : edits)
            EXPECT_EQ(edit(special.c_str()), INI_EOPEN) << name << " on " << special;
        char value[16];
        EXPECT_EQ(ini_getkey(special.c_str(), "s", "k", value, sizeof value), INI_EOPEN);
        EXPECT_EQ(ini_getsection(special.c_str(), "s", nullptr, 0, value, sizeof value), INI_EOPEN);
    }
}

TEST_F(Faults, MovesReportFailedWrites) {
    FILE *full = std::fopen("/dev/full", "r+b");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(file_ins(full, 3, "abc"), -1);
    std::fclose(full);

    // A stream opened for reading only: every write fails.
    put(std::string(2500, 'x'));
    FILE *read_only = std::fopen(path.c_str(), "rb");
    EXPECT_EQ(file_ins(read_only, 3, "abc"), -1);
    EXPECT_EQ(file_cut(read_only, 10), -1);
    std::fclose(read_only);
    EXPECT_EQ(contents(), std::string(2500, 'x'));
}

// With the file-size limit at the current size, nothing can grow the file:
// the edits that would grow it leave it byte for byte as it was.
TEST_F(Faults, FileSizeLimitLeavesTheFileUnchanged) {
    const std::string before = std::string(sample) + std::string(3000, ';') + "\n";
    const std::pair<const char *, Call> growing[] = {
        {"longer value", [](const char *p) { return ini_setkey(p, "net", "port", "8080808080"); }},
        {"new key", [](const char *p) { return ini_setkey(p, "net", "mtu", "1500"); }},
        {"new section", [](const char *p) { return ini_setkey(p, "zz", "k", "v"); }},
        {"new entry", [](const char *p) { return ini_setsection_string(p, "hosts", "gamma"); }},
        {"new entry at end", [](const char *p) { return ini_setsection_string(p, "log", "x"); }},
    };
    for (const auto &[name, edit] : growing) {
        put(before);
        const int failures = in_child(false, [&, edit = edit] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(before.size()), RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &limit);
            return edit(path.c_str()) == INI_OK ? 0 : 1;
        });
        EXPECT_EQ(failures, 0) << name;
        EXPECT_EQ(contents(), before) << name;
    }
}

// Many calls, error paths included, leave no descriptor open and no heap in
// use. (Under AddressSanitizer mallinfo2 reports nothing, and the check
// holds trivially; the leak checker covers the heap there.)
TEST_F(Faults, TenThousandCallsLeaveNothingBehind) {
    put(sample);
    const std::string missing = dir + "/missing";
    const auto mixed_calls = [&](int rounds) {
        char text[64];
        long number;
        for (int i = 0; i < rounds; ++i) {
            const char *file = i % 7 == 0    ? missing.c_str()
                               : i % 11 == 0 ? dir.c_str()
                                             : path.c_str();
            ini_getkey(file, "net", "port", text, sizeof text);
            ini_getkey_long(file, "net", i % 2 ? "port" : "host", &number, 0);
            ini_setkey_long(file, "net", "port", i);
            ini_setkey(file, "net", i % 3 ? "k" : "", "v");
            ini_getsection(file, i % 5 ? "hosts" : "*", "alpha", 2, text, sizeof text);
            ini_setsection_string(file, "hosts", "gamma");
            ini_delsection_string(file, "hosts", "gamma");
            ini_delkey(file, "net", "k");
            ini_delsect(file, "none");
        }
    };
    mixed_calls(1);
    std::remove(missing.c_str());
    const int descriptors = open_descriptors();
    const std::size_t heap = mallinfo2().uordblks;
    mixed_calls(10000 / 9);
    std::remove(missing.c_str());
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_EQ(mallinfo2().uordblks, heap);
    long port = 0;
    EXPECT_EQ(ini_getkey_long(path.c_str(), "net", "port", &port, -1), 0);
    EXPECT_EQ(port, 10000 / 9 - 1);
}

// Calls on different files share nothing: eight threads, eight files.
TEST_F(Faults, ThreadsOnSeparateFilesAllSucceed) {
    constexpr int threads = 8, rounds = 200;
    std::vector<std::thread> workers;
    std::vector<int> failures(threads, 0);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::string file = dir + "/thread" + std::to_string(t) + ".ini";
            for (int i = 0; i < rounds; ++i) {
                long value = -1;
                char entry[32];
                const std::string name = "e" + std::to_string(i);
                failures[t] += ini_setkey_long(file.c_str(), "s", "n", i) != 0;
                failures[t] +=
                    ini_getkey_long(file.c_str(), "s", "n", &value, -1) != 0 || value != i;
                failures[t] += ini_setsection_string(file.c_str(), "list", name.c_str()) != 0;
                failures[t] +=
                    ini_getsection(file.c_str(), "list", name.c_str(), 1, entry, sizeof entry) != 0;
                if (i % 2)
                    failures[t] += ini_delsection_string(file.c_str(), "list", name.c_str()) != 0;
            }
        });
    }
    for (auto &worker : workers)
        worker.join();
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(failures[t], 0) << t;
        std::string expected = "[s]\nn=" + std::to_string(rounds - 1) + "\n[list]\n";
        for (int i = 0; i < rounds; i += 2)
            expected += "e" + std::to_string(i) + "\n";
        EXPECT_EQ(contents(dir + "/thread" + std::to_string(t) + ".ini"), expected) << t;
    }
}

} // namespace
