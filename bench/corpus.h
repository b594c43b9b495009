// What every benchmark executable shares: the generated files, the
// operations measured, and a real file restored before each edit.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace bench {

// A realistic configuration: sections of ten keys, a comment line and a
// blank line each. With `list`, a section used as an entry list stands in
// the middle (only iniplace and the floor read such sections).
struct Corpus {
    std::string label; // "4K", "64K", "1M"
    int sections = 0;
    std::string text;
    std::string list_text;

    static std::string section_name(int s) { return "unit" + std::to_string(s); }
    static std::string key_name(int k) {
        return k == 9 ? "timeout_ms" : "parameter_" + std::to_string(k);
    }
    static std::string value(int s, int k) {
        return k == 9 ? std::to_string(1000 + s)
                      : "setting-" + std::to_string(s) + "-" + std::to_string(k);
    }
    std::string middle() const { return section_name(sections / 2); }
    std::string last() const { return section_name(sections - 1); }
};

inline std::string section_text(int s) {
    std::string text =
        "[" + Corpus::section_name(s) + "]\n# settings of unit " + std::to_string(s) + "\n";
    for (int k = 0; k < 10; ++k)
        text += Corpus::key_name(k) + " = " + Corpus::value(s, k) + "\n";
    return text + "\n";
}

inline std::string list_text() {
    std::string text = "[hosts]\n";
    for (int h = 0; h < 12; ++h)
        text += "host-" + std::to_string(h) + ".example.net\n";
    return text + "\n";
}

inline Corpus make_corpus(const std::string &label, std::size_t target) {
    Corpus corpus;
    corpus.label = label;
    std::vector<std::string> parts;
    std::size_t size = 0;
    while (size < target) {
        parts.push_back(section_text(corpus.sections++));
        size += parts.back().size();
    }
    for (int s = 0; s < corpus.sections; ++s) {
        if (s == corpus.sections / 2)
            corpus.list_text += list_text();
        corpus.text += parts[static_cast<std::size_t>(s)];
        corpus.list_text += parts[static_cast<std::size_t>(s)];
    }
    return corpus;
}

inline const std::vector<Corpus> &corpora() {
    static const std::vector<Corpus> all = {make_corpus("4K", 4000), make_corpus("64K", 64000),
                                            make_corpus("1M", 1000000)};
    return all;
}

enum class Op {
    get_start,
    get_middle,
    get_end,
    get_typed,
    set_same,
    set_longer,
    set_shorter,
    set_new,
    set_start,
    set_end,
    del_key,
    del_section,
    entry_has,
    entry_add,
    entry_remove,
    startup_20, // a program's start: 20 keys read, spread over the file
    startup_200,
    set_batch_10, // 10 keys set as one edit, spread over the file
};

struct OpInfo {
    Op op;
    const char *name;
    bool edits;
    bool list; // works on the file with the entry list
};

inline const std::vector<OpInfo> &operations() {
    static const std::vector<OpInfo> all = {
        {Op::get_start, "get_start", false, false},
        {Op::get_middle, "get_middle", false, false},
        {Op::get_end, "get_end", false, false},
        {Op::get_typed, "get_typed", false, false},
        {Op::set_same, "set_same", true, false},
        {Op::set_longer, "set_longer", true, false},
        {Op::set_shorter, "set_shorter", true, false},
        {Op::set_new, "set_new", true, false},
        {Op::set_start, "set_start", true, false},
        {Op::set_end, "set_end", true, false},
        {Op::del_key, "del_key", true, false},
        {Op::del_section, "del_section", true, false},
        {Op::entry_has, "entry_has", false, true},
        {Op::entry_add, "entry_add", true, true},
        {Op::entry_remove, "entry_remove", true, true},
        {Op::startup_20, "startup_20", false, false},
        {Op::startup_200, "startup_200", false, false},
        {Op::set_batch_10, "set_batch_10", true, false},
    };
    return all;
}

// The keys a program reads at start-up: `count` of them, spread over the
// sections of the file, in file order (a key is read again when the file
// holds fewer).
inline std::vector<std::pair<std::string, std::string>> startup_keys(const Corpus &corpus,
                                                                     int count) {
    std::vector<std::pair<std::string, std::string>> keys;
    const int spread = std::min(count, corpus.sections);
    for (int i = 0; i < count; ++i) {
        const int s = (i % spread) * corpus.sections / spread;
        keys.emplace_back(Corpus::section_name(s), Corpus::key_name(i / spread % 10));
    }
    std::stable_sort(keys.begin(), keys.end(), [](const auto &a, const auto &b) {
        return std::stoi(a.first.substr(4)) < std::stoi(b.first.substr(4));
    });
    return keys;
}

inline int startup_count(Op op) {
    return op == Op::startup_20 ? 20 : op == Op::startup_200 ? 200 : 0;
}

// What a program keeps of each key it reads at start-up, from ini_getkeys
// and inih alike: the same work in both callbacks.
using KeyMap = std::map<std::pair<std::string, std::string>, std::string>;
inline void keep_key(KeyMap &keys, const char *section, const char *key, const char *value) {
    keys.emplace(std::make_pair(section, key), value);
}

// The section, key and new value an operation works on; the keys read at
// start-up.
struct Target {
    std::string section, key, value;
    std::vector<std::pair<std::string, std::string>> keys = {};
};

inline Target target(const Corpus &corpus, Op op) {
    const int middle = corpus.sections / 2;
    const std::string old = Corpus::value(middle, 5);
    switch (op) {
    case Op::get_start:
        return {Corpus::section_name(0), Corpus::key_name(1), ""};
    case Op::get_end:
        return {corpus.last(), Corpus::key_name(9), ""};
    case Op::get_typed:
        return {corpus.middle(), Corpus::key_name(9), ""};
    case Op::set_same: // `key = value` becomes `key=xx...` of the same length
        return {corpus.middle(), Corpus::key_name(5), std::string(old.size() + 2, 'x')};
    case Op::set_longer:
        return {corpus.middle(), Corpus::key_name(5), old + "-and-a-longer-tail"};
    case Op::set_shorter:
        return {corpus.middle(), Corpus::key_name(5), "s"};
    case Op::set_new:
        return {corpus.middle(), "added_key", "added-value"};
    case Op::set_start:
        return {Corpus::section_name(0), Corpus::key_name(1), Corpus::value(0, 1) + "-longer"};
    case Op::set_end:
        return {corpus.last(), Corpus::key_name(5),
                Corpus::value(corpus.sections - 1, 5) + "-longer"};
    case Op::entry_has:
        return {"hosts", "", "host-7.example.net"};
    case Op::entry_add:
        return {"hosts", "", "host-new.example.net"};
    case Op::entry_remove:
        return {"hosts", "", "host-3.example.net"};
    case Op::startup_20:
    case Op::startup_200:
        return {"", "", "", startup_keys(corpus, startup_count(op))};
    case Op::set_batch_10:
        return {"", "", "batch", startup_keys(corpus, 10)};
    default:
        return {corpus.middle(), Corpus::key_name(5), ""};
    }
}

// A file that holds the corpus and is restored, untimed, before each edit.
class WorkFile {
  public:
    explicit WorkFile(const std::string &content) : content_(content) {
        static const std::string dir = [] {
            char pattern[] = "/tmp/iniplace-bench-XXXXXX";
            return std::string(mkdtemp(pattern));
        }();
        path_ = dir + "/work" + std::to_string(counter()++) + ".ini";
        restore();
    }
    ~WorkFile() { unlink(path_.c_str()); }
    WorkFile(const WorkFile &) = delete;
    WorkFile &operator=(const WorkFile &) = delete;

    const char *path() const { return path_.c_str(); }
    // With INIPLACE_BENCH_SYNC set, the restored file is synced too, so that
    // the durable build's fsync of an edit pays for that edit alone.
    void restore() const {
        if (!write(path_.c_str(), content_))
            std::abort();
    }
    static bool write(const char *path, const std::string &content) {
        const int fd = open(path, O_WRONLY | O_CREAT, 0644);
        const bool done =
            pwrite(fd, content.data(), content.size(), 0) == static_cast<ssize_t>(content.size()) &&
            ftruncate(fd, static_cast<off_t>(content.size())) == 0 &&
            (std::getenv("INIPLACE_BENCH_SYNC") == nullptr || fsync(fd) == 0);
        return close(fd) == 0 && done;
    }

  private:
    static int &counter() {
        static int next = 0;
        return next;
    }
    std::string content_;
    std::string path_;
};

// One call of one benchmark, on a fresh file, for counting system calls.
struct Once {
    std::string content;
    std::function<bool(const char *)> call;
};

inline std::map<std::string, Once> &single_calls() {
    static std::map<std::string, Once> calls;
    return calls;
}

// Registers "impl/op/size" for every operation `supports` admits; `run`
// performs one self-contained call and returns whether it succeeded.
template <typename Supports, typename Run>
void register_all(const std::string &impl, Supports supports, Run run) {
    for (const Corpus &corpus : corpora()) {
        for (const OpInfo &info : operations()) {
            if (!supports(info.op))
                continue;
            const Target goal = target(corpus, info.op);
            const std::string name = impl + "/" + info.name + "/" + corpus.label;
            const std::string &content = info.list ? corpus.list_text : corpus.text;
            single_calls()[name] = {content, [=, &content](const char *path) {
                                        return run(info.op, goal, path, content);
                                    }};
            benchmark::RegisterBenchmark(name.c_str(), [=, &content](benchmark::State &state) {
                const WorkFile file(content);
                for (auto _ : state) {
                    if (info.edits) {
                        state.PauseTiming();
                        file.restore();
                        state.ResumeTiming();
                    }
                    if (!run(info.op, goal, file.path(), content)) {
                        state.SkipWithError("operation failed");
                        break;
                    }
                }
            });
        }
    }
}

// The call that instruction counts measure (bench/compare.py counts the
// instructions inside it with callgrind).
__attribute__((noinline)) inline bool measured_call(const Once &once, const char *path) {
    return once.call(path);
}

// `--once NAME` makes one call of the benchmark NAME between two getppid()
// calls that mark it in a system call trace (see bench/syscalls.sh). A
// first call, on a file restored afterwards, warms up the lazy binding of
// library functions and the page cache, so the marked call is a steady one.
inline int main(int argc, char **argv) {
    // `--corpus SIZE PATH` writes the file of that size, for timing the tool.
    if (argc == 4 && std::strcmp(argv[1], "--corpus") == 0) {
        for (const Corpus &corpus : corpora())
            if (corpus.label == argv[2])
                return WorkFile::write(argv[3], corpus.text) ? 0 : 1;
        return 2;
    }
    if (argc == 3 && std::strcmp(argv[1], "--once") == 0) {
        const auto found = single_calls().find(argv[2]);
        if (found == single_calls().end())
            return 2;
        const WorkFile file(found->second.content);
        (void)found->second.call(file.path());
        file.restore();
        syscall(SYS_getppid);
        const bool done = measured_call(found->second, file.path());
        syscall(SYS_getppid);
        return done ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
