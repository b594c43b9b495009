// A 50 MB file: lookups and edits at both ends stay correct, and the memory
// a call uses does not grow with the file.
#include "helpers.h"
#include "iniplace.h"

#include <sys/resource.h>
#include <sys/wait.h>

namespace {

constexpr int keys_per_section = 10;

// Writes `sections` sections of ten keys each; returns the file size.
std::size_t generate(const std::string &path, int sections) {
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    for (int s = 0; s < sections; ++s) {
        chunk +=
            "[section" + std::to_string(s) + "]\n; settings of unit " + std::to_string(s) + "\n";
        for (int k = 0; k < keys_per_section; ++k)
            chunk += "key" + std::to_string(k) + " = value-" + std::to_string(s) + "-" +
                     std::to_string(k) + "\n";
        chunk += "\n";
        if (chunk.size() > (1 << 20)) {
            out << chunk;
            chunk.clear();
        }
    }
    out << chunk;
    return static_cast<std::size_t>(out.tellp());
}

struct Result {
    int failures;
    long max_rss_kb;
};

// Runs the three operations in a child process and reports its peak memory.
Result operate(const std::string &path, int sections) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string last = "section" + std::to_string(sections - 1);
        const std::string middle = "section" + std::to_string(sections / 2);
        char value[64];
        int failed = 0;
        failed += ini_getkey(path.c_str(), last.c_str(), "key9", value, sizeof value) != 0 ||
                  std::string(value) != "value-" + std::to_string(sections - 1) + "-9";
        failed += ini_setkey(path.c_str(), "section0", "key0", "a-much-longer-value") != 0;
        failed += ini_delsect(path.c_str(), middle.c_str()) != 0;
        failed += ini_getkey(path.c_str(), middle.c_str(), "key0", value, sizeof value) != 1;
        failed += ini_getkey(path.c_str(), last.c_str(), "key9", value, sizeof value) != 0;
        _exit(failed);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 100, usage.ru_maxrss};
}

class Scale : public FileTest {};

TEST_F(Scale, FiftyMegabytesNeedNoMoreMemoryThanFiftyKilobytes) {
    constexpr int small_sections = 300, large_sections = 210000;
    const std::string small = dir + "/small.ini", large = dir + "/large.ini";
    const std::size_t small_size = generate(small, small_sections);
    const std::size_t large_size = generate(large, large_sections);
    ASSERT_GT(large_size, 50000000u);

    const Result on_small = operate(small, small_sections);
    const Result on_large = operate(large, large_sections);
    EXPECT_EQ(on_small.failures, 0);
    EXPECT_EQ(on_large.failures, 0);
    const std::size_t growth =
        std::string("key0=a-much-longer-value\n").size() - std::string("key0 = value-0-0\n").size();
    const auto section_bytes = [](int s) {
        std::string text =
            "[section" + std::to_string(s) + "]\n; settings of unit " + std::to_string(s) + "\n\n";
        for (int k = 0; k < keys_per_section; ++k)
            text += "key" + std::to_string(k) + " = value-" + std::to_string(s) + "-" +
                    std::to_string(k) + "\n";
        return text.size();
    };
    EXPECT_EQ(contents(large).size(), large_size + growth - section_bytes(large_sections / 2));
    EXPECT_EQ(contents(small).size(), small_size + growth - section_bytes(small_sections / 2));
    // A buffer that grew with the file would add tens of megabytes; a few
    // pages of difference are the noise of the sanitizer runtimes.
    EXPECT_LT(on_large.max_rss_kb - on_small.max_rss_kb, 4096) << on_small.max_rss_kb;
}

} // namespace
