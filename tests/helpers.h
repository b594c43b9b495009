// Test fixture: a private temporary directory with one INI file in it,
// written and read back as raw bytes; rows of edits; calls in a child.
#pragma once

#include "descriptors.h"
#include "iniplace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Whether the library under test journals its edits, and what one of its
// edits returns when a write fails once the file is open.
constexpr bool durable_build = INIPLACE_DURABLE != 0;
constexpr int edit_failed = durable_build ? INI_EOPEN : INI_OK;

// One call on a file: the path in, the status out.
using Call = std::function<int(const char *path)>;

// A row of an edit table: the file before, the call, the status and the
// file after, byte for byte. No `before` means the file does not exist; no
// `after` that it must still not exist afterwards.
struct EditCase {
    std::string name;
    std::optional<std::string> before;
    Call call;
    int status;
    std::optional<std::string> after;
};

// An edit that succeeds: the file before (none: missing) and after.
struct Success {
    const char *name;
    std::optional<std::string> before;
    Call edit;
    std::string after;
};

// The edits as calls, for the tables.
inline Call set(const char *section, const char *key, const char *value) {
    return [=](const char *path) { return ini_setkey(path, section, key, value); };
}
inline Call del(const char *section, const char *key) {
    return [=](const char *path) { return ini_delkey(path, section, key); };
}
inline Call del_section(const char *section) {
    return [=](const char *path) { return ini_delsect(path, section); };
}
inline Call add(const char *section, const char *entry) {
    return [=](const char *path) { return ini_setsection_string(path, section, entry); };
}
inline Call drop(const char *section, const char *entry) {
    return [=](const char *path) { return ini_delsection_string(path, section, entry); };
}

// `file_ins` of `length` bytes of `data` at offset `at` of the file.
inline Call insert_at(long at, const std::string &data) {
    return [=](const char *p) {
        FILE *stream = std::fopen(p, "r+b");
        std::fseek(stream, at, SEEK_SET);
        const int status = file_ins(stream, static_cast<long>(data.size()), data.data());
        std::fclose(stream);
        return status;
    };
}

inline void put(const std::string &file, const std::string &bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

inline std::string contents(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline bool exists(const std::string &file) {
    return std::filesystem::exists(std::filesystem::symlink_status(file));
}

// A file's bytes; none when it is missing.
inline std::optional<std::string> bytes_of(const std::string &file) {
    return exists(file) ? std::optional(contents(file)) : std::nullopt;
}

// fork(), ending the test run where it fails: a pid of -1 handed to
// kill() would signal every process the suite may signal.
inline pid_t checked_fork() {
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        std::abort();
    }
    return pid;
}

// Runs `body` in a child process and returns its exit status, or 200 plus
// the signal that ended it.
template <typename Body> int in_child(Body body) {
    const pid_t pid = checked_fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

// Byte locks a test takes on a whole file (open file description locks,
// as the library's), next to flock's LOCK_SH and LOCK_EX; on one byte.
constexpr int read_lock = 0x100 | F_RDLCK, write_lock = 0x100 | F_WRLCK;
constexpr int on_byte(int lock, int byte) {
    return lock | (byte + 1) << 16;
}

// Takes the lock `how` on `fd`: a flock operation or one of the above.
inline bool take_lock(int fd, int how) {
    if ((how & 0x100) == 0)
        return flock(fd, how) == 0;
    struct flock range {};
    range.l_type = static_cast<short>(how & 0xFF);
    range.l_whence = SEEK_SET;
    range.l_start = (how >> 16) - 1 < 0 ? 0 : (how >> 16) - 1;
    range.l_len = how >> 16 != 0 ? 1 : 0;
    return fcntl(fd, F_OFD_SETLK, &range) == 0;
}

// A child that takes the lock `how` (none for 0) on `name`, as `user` when
// not 0, and holds it until it is destroyed.
class Holder {
  public:
    Holder(const std::string &name, int how, uid_t user = 0) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        pid_ = checked_fork();
        if (pid_ == 0) {
            if (user != 0 && (setgid(user) != 0 || setuid(user) != 0))
                _exit(99);
            const int fd = ::open(name.c_str(), (how & 0xFFFF) == write_lock ? O_RDWR : O_RDONLY);
            if (fd < 0 || (how != 0 && !take_lock(fd, how)) || ::write(ready[1], "!", 1) != 1)
                _exit(98);
            pause();
            _exit(0);
        }
        char byte = 0;
        close(ready[1]);
        held_ = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
    }
    ~Holder() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }

  private:
    pid_t pid_;
    bool held_ = false;
};

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (in_memory && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/iniplace-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = dir + "/t.ini";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    void put(const std::string &bytes) const { ::put(path, bytes); }
    static void put(const std::string &file, const std::string &bytes) { ::put(file, bytes); }
    std::string contents() const { return ::contents(path); }
    static std::string contents(const std::string &file) { return ::contents(file); }
    void expect_edits(const std::vector<EditCase> &cases) const {
        for (const auto &c : cases) {
            std::filesystem::remove(path);
            if (c.before)
                put(*c.before);
            EXPECT_EQ(c.call(path.c_str()), c.status) << c.name;
            if (c.after)
                EXPECT_EQ(contents(), *c.after) << c.name;
            else
                EXPECT_FALSE(exists(path)) << c.name;
        }
    }
    // Opens the test file, closed by the test, with its error flag set as
    // a read that failed before the call would leave it: the flag is not
    // the call's failure.
    FILE *open_stream(const char *mode = "r+b") const {
        FILE *stream = std::fopen(path.c_str(), mode);
        const int fd = fileno(stream), kept = dup(fd), write_only = open(path.c_str(), O_WRONLY);
        dup2(write_only, fd);
        (void)std::fgetc(stream); // a read of a descriptor open for writing only fails
        dup2(kept, fd);
        close(kept);
        close(write_only);
        EXPECT_TRUE(std::ferror(stream));
        return stream;
    }

    std::string dir;
    std::string path;
    // Files in memory where the machine has it: tests that make thousands
    // of synced edits need no disk to prove their point.
    bool in_memory = false;
};

// A destination buffer filled with a marker byte, so that "left as it was",
// "zero-filled" and "terminated" can be told apart.
template <std::size_t N> struct Marked {
    explicit Marked(unsigned char marker = '#') { std::memset(bytes, marker, N); }
    std::string text() const { return std::string(bytes, strnlen(bytes, N)); }
    std::string all() const { return std::string(bytes, N); }
    char bytes[N];
};
