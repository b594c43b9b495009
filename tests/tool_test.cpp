// The command-line tool, run as a program: output, exit status, errors and
// the file afterwards (bytes and modification time); and a hostile setting:
// closed descriptors, a full standard output, a file-size limit, a lock
// held for good, many parallel editors, names a completion must not run.
#include "tool.h"

#include <chrono>
#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

// A section in two parts with a key on two lines, keys get cannot read
// (=1, *=2), comments, a header with a comment after it, a blank line of a
// lone carriage return, a line longer than the library's pieces, bytes
// that JSON must escape (forms of UTF-8 that a lenient decoder takes among
// them) and no line feed at the end.
const std::string long_value = std::string(1200, 'x');
const std::string text_value =
    "a\"b\\c\x1b\xff\xc3\xa9\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80'q";
const std::string device = "p=1\n[net]  ; the network\nport = 80\nhost = \"gw 1\"\nmode=dhcp\n=1\n"
                           "*=2\n#x=1\n\n# time servers\n[ntp]\na.time.example.org\n\r\nb.example\n"
                           "[net]\nlate=1\ndup=a\ndup=b\n[blob]\nv=" +
                           long_value + "\n[log]\nflags=101\ntext=" + text_value + "\na.b=1";
const std::string bits5 = std::string(29, '0') + "101";

// The file after a command: `device` with each `from` replaced by its `to`
// (an empty `from` appends); none means unchanged, the modification time
// included.
using Change = std::vector<std::pair<std::string, std::string>>;

std::string applied(const Change &change) {
    std::string text = device;
    for (const auto &[from, to] : change)
        from.empty() ? text += to : text.replace(text.find(from), from.size(), to);
    return text;
}

using Args = std::vector<std::string>;

struct ToolCase {
    Args args; // FILE, FRAG, NONE, LINK and DIR stand for files
    int status;
    std::string out;
    std::string err; // a part of standard error (all of it if it ends in a line
                     // feed); empty: nothing at all
    Change change;
    std::string input = ""; // standard input, and the fragment file
};

// The module's reply to a task it refuses.
std::string module_failed(const std::string &message) {
    return R"({"failed":true,"changed":false,"msg":")" + message + "\"}\n";
}

// A command that changes the file and prints nothing; one that prints and
// changes nothing.
ToolCase edits(Args args, Change change, std::string input = "") {
    return {std::move(args), 0, "", "", std::move(change), std::move(input)};
}
ToolCase prints(Args args, std::string out) {
    return {std::move(args), 0, std::move(out), "", {}};
}

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
            EXPECT_EQ(contents(), applied(c.change)) << where;
            struct stat info;
            ASSERT_EQ(stat(path.c_str(), &info), 0);
            if (c.change.empty())
                EXPECT_EQ(info.st_mtim.tv_sec, long_ago.tv_sec) << where;
            EXPECT_FALSE(exists(missing())) << where;
        }
    }
};

TEST_F(Tool, ReadKeysAndNumbers) {
    const std::string cases = "[Az]\naz=1\n[b]\n[aZ]\na[=2\na@=2\nAZ=3\n";
    check({
        {{"get", "FILE", "net", "port"}, 0, "80\n", "", {}},
        {{"get", "-", "net", "port"}, 0, "80\n", "", {}, device},
        {{"get", "FILE", "NET", "Port", "--ignore-case"}, 0, "80\n", "", {}},
        {{"get", "FILE", "net", "Port"}, 1, "", "", {}},
        {{"get", "FILE", "net", "host", "--type", "string"}, 0, "gw 1\n", "", {}},
        {{"get", "FILE", "log", "flags", "--type", "bin"}, 0, "5\n", "", {}},
        {{"get", "FILE", "net", "mode", "--type", "long"}, 2, "", "t.ini:5: [net] mode: the", {}},
        {{"get", "FILE", "net", "late"}, 0, "1\n", "", {}},
        {{"get", "FILE", "net", "dup"}, 0, "b\n", "", {}},
        {{"get", "FILE", "net", "dup", "--all"}, 0, "a\nb\n", "", {}},
        // Case folded from A to Z only; parts differing in case in file order.
        {{"get", "-", "aZ", "AZ", "--ignore-case", "--all"}, 0, "1\n3\n", "", {}, cases},
        {{"get", "-", "az", "a{", "--ignore-case"}, 1, "", "", {}, cases},
        {{"get", "-", "az", "a`", "--ignore-case"}, 1, "", "", {}, cases},
        {{"get", "FILE", "*", "p"}, 0, "1\n", "", {}},
        {{"get", "FILE", "net", "*"}, 2, "", "[net] *: the key must not be empty or *", {}},
        {{"get", "FILE", "net", "#x"}, 2, "", "must not start with '[', ';' or '#'", {}},
        {{"get", "FILE", "net", "x", "--type", "ulong", "--default", "0xf"}, 0, "15\n", "", {}},
        {{"get", "FILE", "net", "x", "--type=long", "--default=ff"}, 2, "", "ff is not a", {}},
        {{"get", "FILE", "net", "x", "--type=long", "--default=0b101"}, 2, "", "0b101 is not", {}},
        {{"get", "FILE", "net", "x", "--type", "bin", "--default", "-1"}, 2, "", "-1 is not", {}},
        {{"get", "FILE", "net", "x", "--type", "long", "--default", "+7"}, 0, "7\n", "", {}},
        {{"get", "FILE", "blob", "v"}, 0, long_value + "\n", "", {}},
        {{"get", "-", "s", "k"}, 2, "", "UTF-16 byte-order mark", {}, {"\xFF\xFE[\0s\0]\0", 8}},
        {{"get", "FRAG", "s", "k"}, 2, "", "UTF-16 byte-order mark", {}, {"\xFE\xFF\0[\0s\0]", 8}},
    });
}

TEST_F(Tool, SetChangesOnlyTheValue) {
    const std::string long_port(995, '8');
    check({
        {{"set", "FILE", "net", "port", "8080"}, 0, "", "", {{"port = 80\n", "port = 8080\n"}}},
        {{"set", "FILE", "net", "k", "--", "--x"}, 0, "", "", {{"dup=b\n", "dup=b\nk=--x\n"}}},
        {{"set", "FILE", "*", "q", "2"}, 0, "", "", {{"p=1\n", "p=1\nq=2\n"}}},
        edits({"set", "FILE", "n", "s", "a b", "--type=string"}, {{"", "\n[n]\ns=\"a b\"\n"}}),
        {{"set", "FILE", "log", "n", "--type", "long", "-5"}, 0, "", "", {{"", "\nn=-5\n"}}},
        {{"set", "FILE", "log", "m", "ff", "--type", "hex"}, 0, "", "", {{"", "\nm=0xFF\n"}}},
        edits({"set", "FILE", "log", "m", "101", "--type", "bin"}, {{"", "\nm=" + bits5 + "\n"}}),
        {{"set", "FILE", "log", "m", "0b101", "--type", "bin"}, 2, "", "0b101 is not a bin", {}},
        {{"set", "FILE", "log", "m", std::string(33, '1'), "--type=bin"}, 2, "", "not a bin", {}},
        {{"set", "FILE", "net", "n", "--type", "hex", "--", "-5"}, 2, "", "-5 is not a hex", {}},
        {{"set", "FILE", "net", "k=x", "1"}, 2, "", "the key must not hold '='", {}},
        {{"set", "FILE", "net", "port", " 80", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"set", "FILE", "net", "mode", "x", "--check", "--verbose"}, 0, "", "would change\n", {}},
        {{"set", "FILE", "net", "dup", "c"}, 2, "", "[net] dup stands on lines 17 and 18;", {}},
        edits({"set", "FILE", "net", "dup", "c", "--all"}, {{"dup=a\ndup=b", "dup=c\ndup=c"}}),
        {{"set", "FILE", "blob", "w", "1"}, 0, "", "", {{"[log]", "w=1\n[log]"}}},
        // The file holds a longer line, which the library reads in pieces already.
        edits({"set", "FILE", "net", "port", long_port}, {{"= 80", "= " + long_port}}),
        {{"set", "FILE", "net", "n", "12abc", "--type", "long"}, 2, "", "12abc is not a long", {}},
        {{"set", "FRAG", "s", "k", "v"}, 2, "", "not a text file", {}, {"[s]\0", 4}},
        {{"set", "FILE", "net", "port", "81", "--diff"},
         0,
         "--- a/" + path + "\n+++ b/" + path +
             "\n@@ -1,6 +1,6 @@\n p=1\n [net]  ; the network\n-port = 80\n+port = 81\n"
             " host = \"gw 1\"\n mode=dhcp\n =1\n",
         "",
         {{"port = 80\n", "port = 81\n"}}},
    });
}

TEST_F(Tool, DeleteAndThePreamble) {
    check({
        {{"del", "FILE", "net", "mode"}, 0, "", "", {{"mode=dhcp\n", ""}}},
        {{"del", "FILE", "net", "dup"}, 2, "", "dup stands on lines 17 and 18; --all", {}},
        {{"del", "FILE", "net", "dup", "--all"}, 0, "", "", {{"dup=a\ndup=b\n", ""}}},
        {{"del", "FILE", "ntp"}, 0, "", "", {{"[ntp]\na.time.example.org\n\r\nb.example\n", ""}}},
        // Both parts; the comment above [ntp] introduces it and stays.
        edits(
            {"del", "FILE", "net"},
            {{"[net]  ; the network\nport = 80\nhost = \"gw 1\"\nmode=dhcp\n=1\n*=2\n#x=1\n\n", ""},
             {"[net]\nlate=1\ndup=a\ndup=b\n", ""}}),
        {{"del", "FILE", "*", "p"}, 0, "", "", {{"p=1\n", ""}}},
        {{"del", "FILE", "*"}, 2, "", "del needs a section name, not *", {}},
        {{"del", "FILE", "net", ""}, 2, "", "[net] : the key must not be empty", {}},
        {{"del", "FILE", "net", "nokey", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"del", "FILE", "nosuch"}, 0, "", "", {}},
        {{"del", "NONE", "s", "k", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"first", "FILE", "*"}, 2, "", "first needs a section name, not *", {}},
        {{"keys", "FILE", "*"}, 0, "p\n", "", {}},
        {{"add", "FILE", "*", "e"}, 0, "", "", {{"p=1\n", "p=1\ne\n"}}},
        {{"remove", "FILE", "*", "p=1"}, 0, "", "", {{"p=1\n", ""}}},
    });
}

// keys, entries and list show exactly the lines get and has reach.
TEST_F(Tool, ListingsAndFormats) {
    const std::string net =
        "net.port=80\nnet.host=\"gw 1\"\nnet.mode=dhcp\nnet.late=1\nnet.dup=b\n";
    const std::string json = R"({"log":{"flags":"101","text":"a\"b\\c\u001B\uDCFF)"
                             "\xc3\xa9"
                             R"(\uDCC0\uDCAF\uDCE0\uDC80\uDCAF\uDCED\uDCA0\uDC80\uDCF4\uDC90)"
                             R"(\uDC80\uDC80'q","a.b":"1"}})"
                             "\n";
    const std::string env = "[s]\nPATH=/x\nIFS=x\npath=/y\nhttp_proxy=p\n2nd=v\nhost=/z\n",
                      prefixed =
                          "c_PATH='/x'\nc_IFS='x'\nc_path='/y'\nc_http_proxy='p'\nc_2nd='v'\n"
                          "c_host='/z'\n";
    const std::string sh =
        "flags='101'\ntext='" + text_value.substr(0, text_value.size() - 2) + "'\\''q'\n";
    check({
        {{"sections", "FILE"}, 0, "net\nntp\nblob\nlog\n", "", {}},
        {{"keys", "FILE", "net"}, 0, "port\nhost\nmode\nlate\ndup\n", "", {}},
        {{"entries", "FILE", "ntp"}, 0, "a.time.example.org\nb.example\n", "", {}},
        prints({"entries", "FILE", "ntp", "--format=json"},
               "[\"a.time.example.org\",\"b.example\"]\n"),
        {{"list", "FILE", "net"}, 0, net, "", {}},
        prints({"list", "FILE"}, "*.p=1\n" + net +
                                     "ntp.a.time.example.org\nntp.b.example\nblob.v=" + long_value +
                                     "\nlog.flags=101\nlog.text=" + text_value + "\nlog.a.b=1\n"),
        {{"list", "--format", "json", "FILE", "log"}, 0, json, "", {}},
        {{"list", "--format=json", "FILE", "*"}, 0, "{\"\":{\"p\":\"1\"}}\n", "", {}},
        {{"list", "--format", "sh", "FILE", "log"}, 0, sh, "[log] a.b: not a shell name", {}},
        {{"list", "--format", "sh", "FILE"}, 2, "", "list --format sh needs a SECTION", {}},
        // eval of the lines must not let a file set PATH, IFS or a proxy.
        {{"list", "--format=sh", "-", "s"}, 0, "host='/z'\n", "http_proxy is an", {}, env},
        {{"list", "--format=sh", "--prefix", "c_", "-", "s"}, 0, prefixed, "", {}, env},
        {{"list", "--format=sh", "--prefix", "1st_", "FILE", "log"}, 2, "", "1st_", {}},
        {{"list", "FILE", "nope"}, 1, "", "", {}},
        {{"list", "--format=json", "-", "*"}, 0, "{}\n", "", {}, "# c\n[s]\nk=1\n"},
        {{"list", "--format=json", "-"},
         0,
         "{\"\":{\"x\":null},\"s\":{\"k\":\"1\"}}\n",
         "",
         {},
         "x\n[s]\nk=1"},
        {{"entries", "FILE", "ntp", "--format", "sh"}, 2, "", "entries takes no --format sh", {}},
    });
}

TEST_F(Tool, EntryLists) {
    check({
        {{"has", "FILE", "ntp", " b.example "}, 0, "", "", {}},
        {{"has", "FILE", "ntp", "c.example"}, 1, "", "", {}},
        {{"has", "FILE", "net", "#x=1"}, 0, "", "", {}},
        // has, add and remove compare the same lines: no file-wide directive.
        {{"has", "-", "s", "!include x"}, 1, "", "", {}, "[s]\n!include x\n; note\n"},
        {{"add", "FILE", "s", "!include x"}, 2, "", "[s]: the entry must not be a directive", {}},
        edits({"remove", "FILE", "net", "#x=1"}, {{"#x=1\n", ""}}),
        {{"first", "FILE", "ntp"}, 0, "a.time.example.org\n", "", {}},
        {{"next", "FILE", "ntp", "a.time.example.org"}, 0, "b.example\n", "", {}},
        {{"prev", "FILE", "ntp", "a.time.example.org"}, 1, "", "", {}},
        {{"prev", "FILE", "ntp", " b.example\t"}, 0, "a.time.example.org\n", "", {}},
        {{"prev", "FILE", "ntp", "c.example"}, 1, "", "", {}},
        {{"next", "FILE", "ntp", "b.example"}, 1, "", "", {}},
        edits({"add", "FILE", "ntp", "c.example"}, {{"b.example\n", "b.example\nc.example\n"}}),
        {{"add", "FILE", "ntp", " b.example", "--verbose"}, 0, "", "unchanged\n", {}},
        {{"add", "FILE", "ntp", "  [x"}, 2, "", "must not start with '['", {}},
        {{"add", "FILE", "ntp", "#c"}, 2, "", "must not start with ';' or '#'", {}},
        {{"add", "FILE", "ntp", " \t"}, 2, "", "the entry must not be blank", {}},
        edits({"remove", "FILE", "ntp", "a.time.example.org"}, {{"a.time.example.org\n", ""}}),
        {{"remove", "FILE", "ntp", "zzz", "--check"}, 1, "", "", {}},
    });
}

TEST_F(Tool, ApplyChecksTheWholeFragmentFirst) {
    check({
        // An entry given twice: added once.
        edits({"apply", "FILE"}, {{"b.example\n", "b.example\nc.example\n"}},
              "[net]\nmode = dhcp\n[ntp]\n# c\nc.example\n c.example"),
        {{"apply", "FILE"}, 0, "", "", {{"p=1\n", "p=1\nq=1\n"}}, "\xEF\xBB\xBFq=1\n"},
        // A key given twice: its last value, set once.
        {{"apply", "FILE"}, 0, "", "", {{"= 80", "= 2"}}, "[net]\nport=1\nport=2\n"},
        // ... in any case with --ignore-case, in a section named in any case.
        {{"apply", "FILE", "--ignore-case"},
         0,
         "",
         "",
         {{"= 80", "= 3"}},
         "[NET]\nPORT=1\nport=3\n"},
        {{"apply", "FILE", "--ignore-case"},
         0,
         "",
         "",
         {{"", "\n[N]\nk=2\n"}},
         "[N]\nk=1\n[n]\nk=2\n"},
        {{"apply", "FILE", "/dev/zero"}, 2, "", "zero: longer than 1048576", {}},
        {{"apply", "FILE", "FRAG"}, 0, "", "", {{"", "\n[new]\nk=v\n"}}, "[new]  # made\nk=v"},
        {{"apply", "FILE", "/dev/stdin"}, 0, "", "", {{"= 80", "= 9"}}, "[net]\nport=9\n"},
        {{"apply", "FILE"}, 0, "", "", {{"", "\n[empty]\n"}}, "[empty]\n"},
        {{"apply", "FILE", "-", "--check"}, 0, "", "", {}, "[net]\nport=9\n"},
        {{"apply", "FILE", "--verbose"}, 0, "", "unchanged\n", {}, "p = 1\r\n[ntp]\nb.example\n"},
        {{"apply", "FILE"}, 2, "", "standard input:3: the key must", {}, "[net]\nport=9\n=2\n"},
        {{"apply", "FILE", "--dialect", "git"}, 2, "", "input:1: the header names no", {}, "[a] b"},
        {{"apply", "FILE"}, 2, "", "input:2: the header names no", {}, "k=1\n[*]\nk=2\n"},
        {{"apply", "FILE"}, 2, "", "t.ini: [net] dup stands on lines 17", {}, "[net]\ndup=1\n"},
        {{"apply", "FILE"}, 2, "", "input:1: the line holds a zero byte", {}, {"k=a\0b\n", 6}},
    });
}

TEST_F(Tool, OptionsAndUsage) {
    check({
        {{"get", "FILE", "net"}, 2, "", "usage: iniplace get", {}},
        {{"get", "FILE", "net", "port", "more"}, 2, "", "usage: iniplace get", {}},
        {{"sections", "FILE", "net"}, 2, "", "usage: iniplace sections", {}},
        {{"get", "FILE", "net", "port", "--type"}, 2, "", "--type needs a value", {}},
        {{"get", "FILE", "net", "port", "-x5"}, 2, "", "unknown option '-x5'", {}},
        {{"del", "FILE", "net", "--type", "long"}, 2, "", "del takes no --type", {}},
        {{"keys", "FILE", "net", "--check"}, 2, "", "keys takes no --check", {}},
        {{"frob", "FILE"}, 2, "", "unknown command 'frob'", {}},
        {{"get", "FILE", "net", "port", "--dialect=ini"},
         2,
         "",
         "--dialect takes configparser",
         {}},
        {{"--verbose", "set", "FILE", "net", "port", "90"}, 0, "", "changed\n", {{"80", "90"}}},
        {{"set", "-", "s", "k", "v"}, 2, "", "set edits a FILE", {}},
        {{"set", "", "s", "k", "v"}, 2, "", "the FILE name is empty", {}},
        // A single argument is the module's only when it names a JSON file.
        {{"gett"}, 2, "", "unknown command 'gett'", {}},
        // A pipe is never the module's file: its bytes would be gone.
        {{"/dev/stdin"}, 2, "", "unknown command '/dev/stdin'", {}, R"({"path":"x"})"},
        {{"FILE"}, 2, "", "unknown command", {}},
    });
    const Outcome usage = run({});
    EXPECT_EQ(usage.status, 2);
    EXPECT_LE(std::count(usage.err.begin(), usage.err.end(), '\n'), 25);
    EXPECT_NE(usage.err.find("'iniplace --help'"), std::string::npos);
    EXPECT_EQ(run({"add", "--help"}).out.rfind("usage: iniplace add [--ignore-case]", 0), 0u);
    EXPECT_NE(run({"--version"}).out.find(durable_build ? "(durable build" : "(default build"),
              std::string::npos);
}

TEST_F(Tool, FileErrorsNameTheFileAndCreateNothing) {
    check({
        {{"get", "NONE", "s", "k"}, 3, "", "missing.ini: No such file", {}},
        {{"get", "NONE", "s", "k", "--default", "d"}, 0, "d\n", "", {}},
        {{"entries", "NONE", "s"}, 3, "", "missing.ini", {}},
        {{"set", "NONE", "s", "", "v"}, 2, "", "the key must not be empty", {}},
        {{"set", "NONE", std::string(997, 's'), "k", "v"}, 2, "", "longer than 998 bytes", {}},
        {{"set", "NONE", "s", "k", "a\tb\rc"}, 2, "", "must not hold a carriage return", {}},
        {{"add", "NONE", "s", "   "}, 2, "", "must not be blank", {}},
        {{"set", "NONE", "s", "n", "--type", "ulong", "--", "-1"}, 2, "", "-1 is not a ulong", {}},
        {{"set", "NONE", "s", "k", "v", "--check"}, 0, "", "", {}},
        {{"get", "DIR", "s", "k"}, 3, "", "not a regular file", {}},
        // The module refuses what the commands refuse in the file's
        // dialect, and a zero byte.
        {{"FRAG"},
         1,
         module_failed(path + ": [s] k: value must not hold a carriage return"),
         "",
         {},
         R"({"path":")" + path + R"(","section":"s","option":"k","value":"a\r[b]"})"},
        // Only a message's reason is put in the module's words.
        {{"FRAG"},
         1,
         module_failed("/no/the value x does not exist, and create is false"),
         "",
         {},
         R"({"path":"/no/the value x","section":"s","option":"k","value":"v","create":false})"},
        {{"FRAG"},
         1,
         module_failed("an argument holds a zero byte"),
         "",
         {},
         R"({"path":")" + path + R"(","section":"s\u0000","option":"k","value":"v"})"},
        {{"FRAG"},
         1,
         module_failed(
             path +
             ": [a #b]: section must not hold ';' or '#' after a blank, which start a comment"),
         "",
         {},
         R"({"path":")" + path + R"(","section":"a #b"})"},
        // An entry given twice is removed once.
        {{"FRAG"},
         0,
         R"({"changed":true,"path":")" + path + R"(","msg":"changed"})" + std::string("\n"),
         "",
         {{"a.time.example.org\n", ""}},
         R"({"path":")" + path +
             R"(","section":"ntp","entries":["a.time.example.org"," a.time.example.org"],)"
             R"("state":"absent"})"},
    });
    // A link to a missing file: the default build makes its target, the
    // durable build refuses.
    EXPECT_EQ(call({"add", "LINK", "s", "e"}).status, durable_build ? 3 : 0);
    EXPECT_EQ(exists(missing()), !durable_build);
    std::filesystem::remove(missing());
    EXPECT_EQ(call({"add", "NONE", "s", "e"}).status, 0);
    EXPECT_EQ(contents(missing()), "[s]\ne\n");
    // On a file the caller may read but not write, an edit that changes
    // nothing succeeds; one that would change it fails.
    if (geteuid() == 0) {
        put(device);
        ASSERT_EQ(chmod(path.c_str(), 0444) | chmod(dir.c_str(), 0755), 0);
        EXPECT_EQ(in_child([&] {
                      return setgid(65534) != 0 || setuid(65534) != 0
                                 ? 99
                                 : run({"set", path, "net", "port", "80"}).status * 100 +
                                       run({"del", path, "net", "nokey"}).status * 10 +
                                       run({"set", path, "net", "port", "81"}).status;
                  }),
                  3);
        EXPECT_EQ(contents(), device);
        // apply reaches its FRAGMENT through a link as the library follows
        // links: not through one another user made in a sticky directory.
        const std::string sticky = dir + "/sticky", fragment = dir + "/frag.ini";
        put(fragment, "[net]\nport=1\n");
        ASSERT_EQ(mkdir(sticky.c_str(), 0) | chmod(sticky.c_str(), 01777) |
                      symlink(fragment.c_str(), (sticky + "/mine").c_str()),
                  0);
        ASSERT_EQ(in_child([&] {
                      return setuid(65534) | symlink(fragment.c_str(), (sticky + "/hers").c_str());
                  }),
                  0);
        const Outcome hers = run({"apply", path, sticky + "/hers"});
        EXPECT_EQ(hers.status * 100 + run({"apply", path, sticky + "/mine"}).status, 300);
        EXPECT_NE(hers.err.find("a link that another user could have made"), std::string::npos);
        EXPECT_EQ(contents(), std::string(device).replace(device.find("= 80"), 4, "= 1"));
    }
    // The tool reads files whole, up to 64 MiB exactly.
    for (const off_t size : {off_t{64} << 20, (off_t{64} << 20) + 1}) {
        put("[s]\nk=1\n");
        ASSERT_EQ(truncate(path.c_str(), size), 0);
        const Outcome big = run({"get", path, "s", "k"});
        EXPECT_EQ(big.out + big.err,
                  size > off_t{64} << 20
                      ? "iniplace: " + path +
                            ": larger than 67108864 bytes, which the tool reads whole\n"
                      : "1\n");
    }
}

// With standard error closed, the file opened for the lock must not become
// descriptor 2 and receive the error message; with standard output or
// input closed, a value asked for or lines to apply are an error, not lost.
TEST_F(Tool, ClosedOrFullStandardStreams) {
    const std::string fresh = dir + "/new1.ini";
    EXPECT_EQ(run({"set", fresh, "net", "k", "a\rb"}, "", capture, -1).status, 2);
    EXPECT_FALSE(exists(fresh));
    put(device);
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    const Outcome result = run({"list", path}, "", full);
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("standard output: No space left"), std::string::npos);
    // The diff is printed once the file's lock is let go: the edit is made,
    // and the output that failed is reported.
    EXPECT_EQ(run({"set", "--diff", path, "net", "port", "81"}, "", full).status, 3);
    close(full);
    EXPECT_EQ(contents(), std::string(device).replace(device.find("port = 80"), 9, "port = 81"));
    put(device);
    const Outcome closed = run({"get", path, "net", "mode"}, "", -1);
    EXPECT_EQ(closed.status, 3);
    EXPECT_NE(closed.err.find("standard output: Bad file descriptor"), std::string::npos);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    int status = 0;
    waitpid(spawn({"apply", path}, -1, null, null), &status, 0);
    close(null);
    EXPECT_EQ(WEXITSTATUS(status), 3) << "apply with standard input closed";
    EXPECT_EQ(contents(), device);
}

// A write past the file-size limit fails, the file left as it was and a
// new one not left behind; an edit that ends exactly at the limit is made.
TEST_F(Tool, EditsUpToAFileSizeLimit) {
    const std::string fresh = dir + "/fresh.ini";
    const struct {
        rlim_t limit; // a file past it is not edited at all
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string after;
    } cases[] = {
        {device.size(), {"add", path, "ntp", "c.example"}, "", 3, device},
        {device.size(), {"set", path, "net", "port", "80800"}, "", 3, device},
        {10, {"set", fresh, "s", "k", "value"}, "", 3, device},
        {device.size(), {"apply", path}, "[ntp]\nd.example\n", 3, device},
        {10, {"del", path, "net", "mode"}, "", 3, device},
        {10, {"del", path, "ntp"}, "", 3, device},
        {device.size() + 3, {"add", path, "log", "x"}, "", 0, device + "\nx\n"},
    };
    rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        put(device);
        const rlimit limit = {c.limit, old_limit.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        const Outcome result = run(c.args, c.input);
        setrlimit(RLIMIT_FSIZE, &old_limit);
        EXPECT_EQ(result.status, c.status) << c.args[0] << result.err;
        EXPECT_EQ(result.err.find("File too large") != std::string::npos, c.status == 3);
        EXPECT_EQ(contents(), c.after) << c.args[0];
    }
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(exists(fresh) || exists(fresh + "-journal"));
}

// A lock held for good: the tool waits its 5 seconds, then gives up with
// status 3, the file as it was.
TEST_F(Tool, ALockHeldForGoodEndsInStatus3) {
    put(device);
    const Holder holder(path, LOCK_SH);
    ASSERT_TRUE(holder.held());
    const auto start = std::chrono::steady_clock::now();
    const Outcome result = run({"set", path, "net", "port", "1"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("busy"), std::string::npos) << result.err;
    EXPECT_EQ(contents(), device);
    EXPECT_EQ(run({"get", path, "net", "mode"}).out, "dhcp\n");
}

// A diff is printed once the file's lock is let go: while the tool waits
// for a reader of its output, other calls on the file go on.
// The module's diff of a large file is the edit's neighbourhood: the
// changed line and three lines either side, before and after.
TEST_F(Tool, TheModulesDiffOfALargeFileIsTheNeighbourhood) {
    std::string large = "[big]\n";
    for (int i = 0; i < 3000; ++i)
        large += "k" + std::to_string(i) + "=v\n";
    put(large);
    const Outcome reply =
        call({"FRAG"}, R"({"path":")" + path +
                           R"(","section":"big","option":"k1500","value":"longer",)"
                           R"("_ansible_diff":true})");
    EXPECT_NE(reply.out.find(
                  R"("before":"k1497=v\nk1498=v\nk1499=v\nk1500=v\nk1501=v\nk1502=v\nk1503=v\n")"),
              std::string::npos)
        << reply.out.substr(0, 300);
    EXPECT_NE(
        reply.out.find(
            R"("after":"k1497=v\nk1498=v\nk1499=v\nk1500=longer\nk1501=v\nk1502=v\nk1503=v\n")"),
        std::string::npos)
        << reply.out.substr(0, 300);
}

TEST_F(Tool, ADiffWaitingForItsReaderHoldsNoLock) {
    std::string large = device + "\n[big]\n";
    for (int i = 0; i < 3000; ++i)
        large += "k" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
    put(large);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = spawn({"del", "--diff", path, "big"}, -1, out[1], -1);
    close(out[1]);
    for (int waited = 0; contents().find("[big]") != std::string::npos && waited < 10000; ++waited)
        usleep(1000);
    EXPECT_EQ(contents().find("[big]"), std::string::npos) << "the edit waits for its diff";
    EXPECT_EQ(run({"set", path, "net", "port", "1"}).status, 0);
    EXPECT_GT(drain(out[0]).size(), 64u * 1024);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
