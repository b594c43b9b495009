// Test fixture: a private temporary directory with one INI file in it,
// written and read back as raw bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// One call on a file: the path in, the status out.
using Call = std::function<int(const char *path)>;

// A row of an edit table: the file before, the call, the status and the
// file after, byte for byte. No `before` means the file does not exist; no
// `after` that it must still not exist afterwards.
struct EditCase {
    const char *name;
    std::optional<std::string> before;
    Call call;
    int status;
    std::optional<std::string> after;
};

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/iniplace-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/t.ini";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void put(const std::string &bytes) const { put(path, bytes); }
    static void put(const std::string &file, const std::string &bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }
    std::string contents() const { return contents(path); }
    static std::string contents(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    static bool exists(const std::string &file) {
        struct stat info;
        return lstat(file.c_str(), &info) == 0;
    }
    void expect_edits(const std::vector<EditCase> &cases) {
        for (const auto &c : cases) {
            std::remove(path.c_str());
            if (c.before)
                put(*c.before);
            EXPECT_EQ(c.call(path.c_str()), c.status) << c.name;
            if (c.after)
                EXPECT_EQ(contents(), *c.after) << c.name;
            else
                EXPECT_FALSE(exists(path)) << c.name;
        }
    }
    // Opens the test file for update; closed by the test.
    FILE *open_update() const { return std::fopen(path.c_str(), "r+b"); }

    std::string dir;
    std::string path;
};

// A destination buffer filled with a marker byte, so that "left as it was",
// "zero-filled" and "terminated" can be told apart.
template <std::size_t N> struct Marked {
    Marked() { fill(); }
    void fill() { std::string(N, '#').copy(bytes, N); }
    std::string text() const { return std::string(bytes, strnlen(bytes, N)); }
    bool untouched() const { return std::string(bytes, N) == std::string(N, '#'); }
    char bytes[N];
};
