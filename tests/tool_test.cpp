// The command-line tool, run as a program: output, exit status, errors and
// the file afterwards (bytes and modification time); its lock under many
// parallel editors; and a hostile setting: closed descriptors, a full
// standard output, a file-size limit, files over 2 GiB.
#include "tool.h"

#include <chrono>
#include <csignal>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

// A repeated key, keys get cannot read (=1, *=2), comments, a blank line of
// a lone carriage return, a repeated header, a line of three pieces whose
// later pieces the library reads as a key line and a header, and bytes
// that JSON must escape.
const std::string long_value = std::string(996, 'x') + "k=" + std::string(996, 'y') + "[h]";
const std::string device =
    "p=1\n[net]\nport = 80\nhost = \"gw 1\"\nmode=dhcp\nport=81\n=1\n*=2\n#x=1\n[ntp]\n; servers\n"
    "a.example\n\r\n\nb.example\n[net]\nlate=1\n[blob]\nv=" +
    long_value + "\n[log]\nflags=101\ntext=a\"b\\c\x01\xff\xc3\xa9'q\na.b=1\n";
const std::string text_value = "a\"b\\c\x01\xff\xc3\xa9'q";
const std::string bits5 = std::string(29, '0') + "101";

// The file after a command: `device` with `from` replaced by `to`; an
// empty `from` appends `to`, and both empty mean unchanged, the
// modification time included.
struct Change {
    std::string from, to;
    bool none() const { return from.empty() && to.empty(); }
    std::string applied() const {
        std::string text = device;
        return from.empty() ? text + to : text.replace(text.find(from), from.size(), to);
    }
};

const Change add_c = {"b.example\n", "b.example\nc.example\n"};

struct ToolCase {
    std::vector<std::string> args; // FILE stands for the test file, FRAG for the fragment
    int status;
    std::string out;
    std::string err; // a part of standard error (all of it if it ends in a line
                     // feed); empty: nothing at all
    Change change;
    std::string input = ""; // standard input, and the fragment file
};

constexpr timespec long_ago = {1000000000, 0};

class Tool : public FileTest {
  protected:
    // FILE stands for the test file, FRAG for a fragment holding the input,
    // NONE for a missing file, LINK for a link to it and DIR for a directory.
    Outcome call(std::vector<std::string> args, const std::string &input = "") {
        put(dir + "/frag.ini", input);
        (void)symlink(missing().c_str(), (dir + "/link.ini").c_str());
        const std::pair<const char *, std::string> names[] = {{"FILE", path},
                                                              {"FRAG", dir + "/frag.ini"},
                                                              {"NONE", missing()},
                                                              {"LINK", dir + "/link.ini"},
                                                              {"DIR", dir}};
        for (const auto &[name, file] : names)
            std::replace(args.begin(), args.end(), std::string(name), file);
        return run(args, input);
    }
    std::string missing() const { return dir + "/missing.ini"; }
    void check(const std::vector<ToolCase> &cases) {
        for (const auto &c : cases) {
            put(device);
            const timespec times[] = {long_ago, long_ago};
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            const Outcome result = call(c.args, c.input);
            const std::string where = testing::PrintToString(c.args);
            EXPECT_EQ(result.status, c.status) << where << result.err;
            EXPECT_EQ(result.out, c.out) << where;
            if (c.err.empty() || c.err.back() == '\n')
                EXPECT_EQ(result.err, c.err) << where;
            else
                EXPECT_NE(result.err.find(c.err), std::string::npos) << where << result.err;
            EXPECT_EQ(contents(), c.change.applied()) << where;
            struct stat info;
            ASSERT_EQ(stat(path.c_str(), &info), 0);
            if (c.change.none())
                EXPECT_EQ(info.st_mtim.tv_sec, long_ago.tv_sec) << where;
            EXPECT_FALSE(exists(missing())) << where;
        }
    }
};

TEST_F(Tool, ReadKeysAndNumbersByTheFileRule) {
    check({
        {{"get", "FILE", "net", "port"}, 0, "80\n", "", {}},
        {{"get", "FILE", "net", "host", "--type", "string"}, 0, "gw 1\n", "", {}},
        {{"get", "FILE", "log", "flags", "--type", "bin"}, 0, "5\n", "", {}},
        {{"get", "FILE", "net", "mode", "--type", "long"}, 2, "", "value is not a long", {}},
        {{"get", "FILE", "net", "late"}, 1, "", "", {}},
        {{"get", "FILE", "net", "late", "--default", "7"}, 0, "7\n", "", {}},
        {{"get", "FILE", "*", "p"}, 0, "1\n", "", {}},
        {{"get", "FILE", "net", "*"}, 2, "", "[net] *: the key must not be empty or *", {}},
        {{"get", "FILE", "net", "x", "--type", "long", "--default", "ff"}, 0, "255\n", "", {}},
        {{"get", "FILE", "net", "x", "--type=long", "--default=0b101"}, 2, "", "0b101 is not", {}},
        {{"get", "FILE", "net", "x", "--type", "bin", "--default", "101"}, 0, "5\n", "", {}},
        {{"get", "FILE", "net", "x", "--type", "bin", "--default", "-1"}, 2, "", "-1 is not", {}},
        {{"get", "FILE", "net", "port", "--all"}, 0, "80\n81\n", "", {}},
        {{"get", "FILE", "blob", "v"}, 0, long_value + "\n", "", {}},
        {{"get", "FILE", "net", "#x"}, 0, "1\n", "", {}},
    });
}

TEST_F(Tool, SetWritesWhatReadsBackAndNothingElse) {
    check({
        {{"set", "FILE", "net", "port", "8080"}, 0, "", "", {"port = 80\n", "port=8080\n"}},
        {{"set", "FILE", "net", "k", "--", "--x"}, 0, "", "", {"#x=1\n", "#x=1\nk=--x\n"}},
        {{"set", "FILE", "*", "q", "2"}, 0, "", "", {"p=1\n", "p=1\nq=2\n"}},
        {{"set", "FILE", "n", "s", "a b", "--type=string"}, 0, "", "", {"", "[n]\ns=\"a b\"\n"}},
        {{"set", "FILE", "log", "n", "--type", "long", "-5"}, 0, "", "", {"", "n=-5\n"}},
        {{"set", "FILE", "log", "m", "1e3", "--type", "long"}, 0, "", "", {"", "m=483\n"}},
        {{"set", "FILE", "log", "m", "ff", "--type", "hex"}, 0, "", "", {"", "m=0xFF\n"}},
        {{"set", "FILE", "log", "m", "101", "--type", "bin"}, 0, "", "", {"", "m=" + bits5 + "\n"}},
        {{"set", "FILE", "log", "m", "0b101", "--type", "bin"}, 2, "", "0b101 is not a bin", {}},
        {{"set", "FILE", "log", "m", std::string(33, '1'), "--type=bin"}, 2, "", "not a bin", {}},
        {{"set", "FILE", "net", "n", "--type", "hex", "--", "-5"}, 2, "", "-5 is not a hex", {}},
        {{"set", "FILE", "net", "port", "12x", "--type", "long"}, 2, "", "12x is not a long", {}},
        {{"set", "FILE", "net", "k=x", "1"}, 2, "", "the key must not hold '='", {}},
        {{"set", "FILE", "net", "port", "80", "--check"}, 1, "", "", {}},
        {{"set", "FILE", "net", "port", " 80", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"set", "FILE", "blob", "w", "1"}, 2, "", "a later piece of a line longer than 998", {}},
        {{"set", "FILE", "net", "mode", "x", "--check", "--verbose"}, 0, "", "changed\n", {}},
    });
}

TEST_F(Tool, DeleteAndTheSectionStar) {
    const Change both = {"port = 80\nhost = \"gw 1\"\nmode=dhcp\nport=81\n",
                         "host = \"gw 1\"\nmode=dhcp\n"};
    check({
        {{"del", "FILE", "net", "mode"}, 0, "", "", {"mode=dhcp\n", ""}},
        {{"del", "FILE", "net", "port"}, 0, "", "", {"port = 80\n", ""}}, // the first of two
        {{"del", "FILE", "ntp"}, 0, "", "", {"[ntp]\n; servers\na.example\n\r\n\nb.example\n", ""}},
        {{"del", "FILE", "net", "port", "--all"}, 0, "", "", both},
        {{"del", "FILE", "*", "p"}, 0, "", "", {"p=1\n", ""}},
        {{"del", "FILE", "*"}, 2, "", "del needs a section name, not *", {}},
        {{"del", "FILE", "net", "*"}, 2, "", "the key must not be empty or *", {}},
        {{"del", "FILE", "net", "nokey", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"del", "FILE", "nosuch"}, 0, "", "", {}},
        {{"first", "FILE", "*"}, 2, "", "first needs a section name, not *", {}},
        {{"keys", "FILE", "*"}, 0, "p\n", "", {}},
        {{"add", "FILE", "*", "e"}, 0, "", "", {"p=1\n", "p=1\ne\n"}},
        {{"remove", "FILE", "*", "p=1"}, 0, "", "", {"p=1\n", ""}},
    });
}

// keys, entries and list show exactly the lines get and has reach.
TEST_F(Tool, ListingsAndFormats) {
    const std::string all =
        "*.p=1\nnet.port=80\nnet.host=\"gw 1\"\nnet.mode=dhcp\nblob.v=" + long_value +
        "\nlog.flags=101\n";
    const std::string json = R"({"log":{"flags":"101","text":"a\"b\\c\u0001\uDCFF)"
                             "\xc3\xa9'q\",\"a.b\":\"1\"}}\n";
    const std::string sh = "flags='101'\ntext='a\"b\\c\x01\xff\xc3\xa9'\\''q'\n";
    check({
        {{"sections", "FILE"}, 0, "net\nntp\nblob\nlog\n", "", {}},
        {{"keys", "FILE", "net"}, 0, "port\nhost\nmode\n", "", {}},
        {{"entries", "FILE", "ntp"}, 0, "a.example\nb.example\n", "", {}},
        {{"entries", "FILE", "ntp", "--format=json"}, 0, "[\"a.example\",\"b.example\"]\n", "", {}},
        {{"list", "FILE", "net"}, 0, "net.port=80\nnet.host=\"gw 1\"\nnet.mode=dhcp\n", "", {}},
        {{"list", "FILE"}, 0, all + "log.text=" + text_value + "\nlog.a.b=1\n", "", {}},
        {{"keys", "FILE", "blob"}, 0, "v\n", "", {}},
        {{"list", "--format", "json", "FILE", "log"}, 0, json, "", {}},
        {{"list", "--format=json", "FILE", "*"}, 0, "{\"\":{\"p\":\"1\"}}\n", "", {}},
        {{"list", "--format", "sh", "FILE", "log"}, 0, sh, "[log] a.b: not a shell name", {}},
        {{"list", "--format", "sh", "FILE"}, 2, "", "list --format sh needs a SECTION", {}},
        {{"list", "FILE", "nope"}, 1, "", "", {}},
        {{"entries", "FILE", "ntp", "--format", "sh"}, 2, "", "entries takes no --format sh", {}},
    });
}

TEST_F(Tool, EntryLists) {
    check({
        {{"has", "FILE", "ntp", " b.example "}, 0, "", "", {}},
        {{"has", "FILE", "ntp", "c.example"}, 1, "", "", {}},
        {{"first", "FILE", "ntp"}, 0, "a.example\n", "", {}},
        {{"next", "FILE", "ntp", "a.example"}, 0, "b.example\n", "", {}},
        {{"prev", "FILE", "ntp", "a.example"}, 1, "", "", {}},
        {{"add", "FILE", "ntp", "c.example"}, 0, "", "", add_c},
        {{"add", "FILE", "ntp", " b.example", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"add", "FILE", "ntp", "  [x"}, 2, "", "must not start with '['", {}},
        {{"add", "FILE", "ntp", " \t\r"}, 2, "", "the entry must not be blank", {}},
        {{"remove", "FILE", "ntp", "a.example"}, 0, "", "", {"a.example\n", ""}},
        {{"remove", "FILE", "ntp", "zzz", "--check"}, 1, "", "", {}},
    });
}

TEST_F(Tool, ApplyChecksTheWholeFragmentFirst) {
    const std::string long_header = "[" + std::string(995, 's') + "]\n";
    check({
        {{"apply", "FILE"}, 0, "", "", add_c, "[net]\nmode = dhcp\n[ntp]\n# c\nc.example"},
        {{"apply", "FILE"}, 0, "", "", {"p=1\n", "p=1\nq=1\n"}, "\xEF\xBB\xBFq=1\n"},
        {{"apply", "FILE", "/dev/zero"}, 2, "", "zero: the fragment is longer than 1048576", {}},
        {{"apply", "FILE", "FRAG"}, 0, "", "", {"", "[new]\nk=v\n"}, "[new]\nk=v"},
        {{"apply", "FILE", "-", "--check"}, 0, "", "", {}, "[net]\nport=9\n"},
        {{"apply", "FILE", "--verbose"}, 0, "", "unchanged\n", {}, "p = 1\r\n[ntp]\na.example\n"},
        {{"apply", "FILE"}, 2, "", "standard input:3: the key must", {}, "[net]\nport=9\n=2\n"},
        {{"apply", "FILE"}, 2, "", "input:2: the line would be longer", {}, long_header + "k=v\n"},
        {{"apply", "FILE"}, 2, "", "input:1: the header names no section", {}, "[a] b\n"},
        {{"apply", "FILE"},
         2,
         "",
         "input:4: the section holds a line longer",
         {},
         "[net]\nm=1\n[blob]\nw=1"},
        {{"apply", "FILE"}, 2, "", "input:2: the section holds a line longer", {}, "[h]\nw=1"},
    });
}

TEST_F(Tool, OptionsAndUsage) {
    check({
        {{"get", "FILE", "net"}, 2, "", "usage: iniplace get", {}},
        {{"get", "FILE", "net", "port", "--type"}, 2, "", "--type needs a value", {}},
        {{"get", "FILE", "net", "port", "-x5"}, 2, "", "unknown option '-x5'", {}},
        {{"del", "FILE", "net", "--type", "long"}, 2, "", "del takes no --type", {}},
        {{"keys", "FILE", "net", "--check"}, 2, "", "keys takes no --check", {}},
        {{"frob", "FILE"}, 2, "", "unknown command 'frob'", {}},
    });
    EXPECT_EQ(run({"--help"}).status, 0);
    EXPECT_EQ(run({"add", "--help"}).out.rfind("usage: iniplace add [--verbose]", 0), 0u);
    EXPECT_EQ(run({}).status, 2);
    const std::string manual = run({"--manual"}).out;
    EXPECT_NE(manual.find(".SH \"FORMAT\""), std::string::npos);
    EXPECT_NE(manual.find(".SH \"EXAMPLES\""), std::string::npos);
}

TEST_F(Tool, FileErrorsNameTheFileAndCreateNothing) {
    check({
        {{"get", "NONE", "s", "k"}, 3, "", "missing.ini: No such file", {}},
        {{"get", "NONE", "s", "k", "--default", "d"}, 0, "d\n", "", {}},
        {{"entries", "NONE", "s"}, 3, "", "missing.ini", {}},
        {{"del", "NONE", "s"}, 3, "", "missing.ini", {}},
        {{"set", "NONE", "s", "", "v"}, 2, "", "the key must not be empty", {}},
        {{"set", "NONE", std::string(995, 's'), "k", "v"}, 2, "", "longer than 998 bytes", {}},
        {{"add", "NONE", "s", "   "}, 2, "", "must not be blank", {}},
        {{"set", "NONE", "s", "n", "--type", "ulong", "--", "-1"}, 2, "", "-1 is not a ulong", {}},
        {{"set", "NONE", "s", "k", "v", "--check"}, 0, "", "", {}},
        {{"get", "DIR", "s", "k"}, 3, "", "not a regular file", {}},
    });
    // A link to a missing file: the default build makes its target, the
    // durable build refuses.
    EXPECT_EQ(call({"add", "LINK", "s", "e"}).status, durable_build ? 3 : 0);
    EXPECT_EQ(exists(missing()), !durable_build);
    std::filesystem::remove(missing());
    EXPECT_EQ(call({"add", "NONE", "s", "e"}).status, 0);
    EXPECT_EQ(contents(missing()), "[s]\ne\n");
}

// With standard error closed, the file opened for the lock must not become
// descriptor 2 and receive the error message; with standard output or
// input closed, a value asked for or lines to apply are an error, not lost.
TEST_F(Tool, ClosedOrFullStandardStreams) {
    const std::string fresh = dir + "/new1.ini";
    EXPECT_EQ(run({"set", fresh, "net", "k", "a\nb"}, "", capture, -1).status, 2);
    EXPECT_FALSE(exists(fresh));
    put(device);
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    const Outcome result = run({"list", path}, "", full);
    close(full);
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("standard output: No space left"), std::string::npos);
    const Outcome closed = run({"get", path, "net", "mode"}, "", -1);
    EXPECT_EQ(closed.status, 3);
    EXPECT_NE(closed.err.find("standard output: Bad file descriptor"), std::string::npos);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int status = 0;
    waitpid(spawn({"apply", path}, -1, null, null), &status, 0);
    close(null);
    EXPECT_EQ(WEXITSTATUS(status), 3) << "apply with standard input closed";
}

// A write past the file-size limit fails, the file left as it was and a
// new one not left behind.
TEST_F(Tool, EditsOverAFileSizeLimitFail) {
    put(device);
    const std::string fresh = dir + "/fresh.ini";
    const struct {
        rlim_t limit; // a file past it is not edited at all
        std::vector<std::string> args;
        std::string input;
    } cases[] = {
        {device.size(), {"add", path, "ntp", "c.example"}, ""},
        {device.size(), {"set", path, "net", "port", "80800"}, ""},
        {10, {"set", fresh, "s", "k", "value"}, ""},
        {device.size(), {"apply", path}, "[ntp]\nd.example\n"},
        {10, {"del", path, "net", "mode"}, ""},
        {10, {"del", path, "ntp"}, ""},
        {10, {"remove", path, "ntp", "a.example"}, ""},
    };
    rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        const rlimit limit = {c.limit, old_limit.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        const Outcome result = run(c.args, c.input);
        setrlimit(RLIMIT_FSIZE, &old_limit);
        EXPECT_EQ(result.status, 3) << c.args[0];
        EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    }
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(contents(), device);
    EXPECT_FALSE(exists(fresh));
}

// eval of list --format sh must not let a file set PATH, IFS or a proxy;
// options stand anywhere, also when POSIXLY_CORRECT is set.
TEST_F(Tool, ShellNamesAndOptionOrder) {
    const std::string file =
        "[s]\nPATH=/x\nIFS=x\npath=/y\nhttp_proxy=p\nno_proxy=q\n2nd=v\nhost=/z\n";
    put(file);
    const Outcome sh = run({"list", "--format=sh", path, "s"});
    EXPECT_EQ(sh.out, "host='/z'\n");
    EXPECT_NE(sh.err.find("http_proxy is an environment-style name"), std::string::npos);
    EXPECT_EQ(run({"list", "--format=sh", "--prefix", "c_", path, "s"}).out,
              "c_PATH='/x'\nc_IFS='x'\nc_path='/y'\nc_http_proxy='p'\nc_no_proxy='q'\nc_2nd='v'\n"
              "c_host='/z'\n");
    EXPECT_EQ(run({"list", "--format=sh", "--prefix", "1st_", path, "s"}).status, 2);
    setenv("POSIXLY_CORRECT", "1", 1);
    const Outcome check = run({"del", path, "s", "--check"});
    unsetenv("POSIXLY_CORRECT");
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(contents(), file);
}

// On 32-bit targets such a file is beyond a 32-bit file offset.
TEST_F(Tool, FilesOver2GiBAreLockedAndEdited) {
    put("[s]\nk=1\n[t]\nx\n");
    ASSERT_EQ(truncate(path.c_str(), off_t{3} << 30), 0);
    EXPECT_EQ(run({"set", path, "s", "k", "2"}).status, 0);
    EXPECT_EQ(run({"keys", path, "s"}).out, "k\n");
    EXPECT_EQ(run({"has", path, "t", "x"}).status, 0);
    EXPECT_EQ(run({"del", path, "s", "nokey"}).status, 0);
    std::ifstream in(path, std::ios::binary);
    std::string head(8, '\0');
    in.read(head.data(), 8);
    EXPECT_EQ(head, "[s]\nk=2\n");
}

// Parallel editors of one file are serialised by the tool's lock: none of
// them loses another's entry.
TEST_F(Tool, ParallelAddsAllLandOnce) {
    constexpr int editors = 200; // the first of them makes the file
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    std::vector<pid_t> pids;
    std::multiset<std::string> lines, expected = {"[list]"};
    for (int i = 0; i < editors; ++i) {
        expected.insert("entry-" + std::to_string(i));
        pids.push_back(
            spawn({"add", path, "list", "entry-" + std::to_string(i)}, null_fd, null_fd, null_fd));
    }
    for (const pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    close(null_fd);
    std::istringstream text(contents());
    for (std::string line; std::getline(text, line);)
        lines.insert(line);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(contents().rfind("[list]\n", 0), 0u);
}

// A lock held for good: the tool waits its 5 seconds, then gives up with
// status 3, the file as it was.
TEST_F(Tool, ALockHeldForGoodEndsInStatus3) {
    put(device);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(path.c_str(), O_RDONLY);
        if (flock(fd, LOCK_SH) != 0 || write(ready[1], "!", 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const auto start = std::chrono::steady_clock::now();
    const Outcome result = run({"set", path, "net", "port", "1"});
    const auto waited = std::chrono::steady_clock::now() - start;
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("busy"), std::string::npos) << result.err;
    EXPECT_GE(waited, std::chrono::seconds(5));
    EXPECT_EQ(contents(), device);
    EXPECT_EQ(run({"get", path, "net", "mode"}).out, "dhcp\n");
}

} // namespace
