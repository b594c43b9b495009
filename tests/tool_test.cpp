// The command-line tool, run as a program: output, exit status, errors and
// the file afterwards; and its lock under many parallel editors.
#include "helpers.h"

#include <algorithm>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// The tool, behind the emulator when the tests run on another machine.
std::vector<std::string> tool_command() {
    std::vector<std::string> command;
    std::string runner = INIPLACE_TOOL_RUNNER;
    for (std::size_t start = 0, end; !runner.empty() && start <= runner.size(); start = end + 1) {
        end = std::min(runner.find('|', start), runner.size());
        command.push_back(runner.substr(start, end - start));
    }
    command.push_back(INIPLACE_TOOL);
    return command;
}

pid_t spawn(const std::vector<std::string> &args, int out_fd, int err_fd) {
    std::vector<std::string> command = tool_command();
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &arg : command)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string drain(int fd) {
    std::string bytes;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    return bytes;
}

Outcome run(const std::vector<std::string> &args) {
    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    const pid_t pid = spawn(args, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    Outcome result{-1, drain(out[0]), drain(err[0])};
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string device = "p=1\n[net]\nport = 80\nhost = \"gw 1\"\nmode=dhcp\n[ntp]\na.example\n\n"
                           "b.example\n[net]\nlate=1\n[log]\nflags=101\n";
const std::string bits5 = std::string(29, '0') + "101";

// The file after a command: `device` with `from` replaced by `to`; an
// empty `from` appends `to`, and both empty mean unchanged.
struct Change {
    std::string from, to;
    std::string applied() const {
        std::string text = device;
        return from.empty() ? text + to : text.replace(text.find(from), from.size(), to);
    }
};

struct ToolCase {
    std::vector<std::string> args; // FILE stands for the test file
    int status;
    std::string out;
    std::string err; // a part of standard error; empty: nothing at all
    Change change;
};

class Tool : public FileTest {
  protected:
    Outcome call(std::vector<std::string> args) {
        std::replace(args.begin(), args.end(), std::string("FILE"), path);
        return run(args);
    }
};

TEST_F(Tool, CommandsPrintExitAndEdit) {
    const ToolCase cases[] = {
        {{"get", "FILE", "net", "port"}, 0, "80\n", "", {}},
        {{"get", "FILE", "net", "host"}, 0, "\"gw 1\"\n", "", {}},
        {{"get", "FILE", "net", "host", "--type", "string"}, 0, "gw 1\n", "", {}},
        {{"get", "FILE", "net", "port", "--type=long"}, 0, "80\n", "", {}},
        {{"get", "FILE", "log", "flags", "--type", "bin"}, 0, "5\n", "", {}},
        {{"get", "FILE", "net", "mode", "--type", "long"},
         2,
         "",
         "mode: the value is not a long",
         {}},
        {{"get", "FILE", "net", "late"}, 1, "", "", {}},
        {{"get", "FILE", "net", "late", "--default", "7"}, 0, "7\n", "", {}},
        {{"get", "FILE", "*", "p"}, 0, "1\n", "", {}},
        {{"set", "FILE", "net", "port", "8080"}, 0, "", "", {"port = 80\n", "port=8080\n"}},
        {{"set", "FILE", "log", "m", "0xff", "--type", "hex"}, 0, "", "", {"", "m=0xFF\n"}},
        {{"set", "FILE", "log", "m", "5", "--type", "bin"}, 0, "", "", {"", "m=" + bits5 + "\n"}},
        {{"set", "FILE", "new", "s", "a b", "--type", "string"},
         0,
         "",
         "",
         {"", "[new]\ns=\"a b\"\n"}},
        {{"set", "FILE", "net", "k=x", "1"}, 2, "", "the key must not hold '='", {}},
        {{"set", "FILE", "net", "port", "12x", "--type", "long"}, 2, "", "12x is not a long", {}},
        {{"del", "FILE", "net", "mode"}, 0, "", "", {"mode=dhcp\n", ""}},
        {{"del", "FILE", "ntp"}, 0, "", "", {"[ntp]\na.example\n\nb.example\n", ""}},
        {{"sections", "FILE"}, 0, "net\nntp\nlog\n", "", {}},
        {{"keys", "FILE", "net"}, 0, "port\nhost\nmode\n", "", {}},
        {{"keys", "FILE", "nope"}, 1, "", "", {}},
        {{"entries", "FILE", "ntp"}, 0, "a.example\nb.example\n", "", {}},
        {{"first", "FILE", "ntp"}, 0, "a.example\n", "", {}},
        {{"has", "FILE", "ntp", " b.example "}, 0, "", "", {}},
        {{"has", "FILE", "ntp", "c.example"}, 1, "", "", {}},
        {{"next", "FILE", "ntp", "a.example"}, 0, "", "", {}}, // the blank line: not printed
        {{"prev", "FILE", "ntp", "a.example"}, 1, "", "", {}},
        {{"add", "FILE", "ntp", "c.example"}, 0, "", "", {"b.example\n", "b.example\nc.example\n"}},
        {{"add", "FILE", "ntp", "  [x"}, 2, "", "must not start with '['", {}},
        {{"remove", "FILE", "ntp", "a.example"}, 0, "", "", {"a.example\n", ""}},
        {{"get", "FILE", "net"}, 2, "", "usage: iniplace get", {}},
        {{"del", "FILE", "net", "--type", "long"}, 2, "", "del takes no --type", {}},
        {{"frob", "FILE"}, 2, "", "unknown command 'frob'", {}},
    };
    for (const auto &c : cases) {
        put(device);
        const Outcome result = call(c.args);
        std::string where;
        for (const auto &arg : c.args)
            where += arg + " ";
        EXPECT_EQ(result.status, c.status) << where << result.err;
        EXPECT_EQ(result.out, c.out) << where;
        if (c.err.empty())
            EXPECT_EQ(result.err, "") << where;
        else
            EXPECT_NE(result.err.find(c.err), std::string::npos) << where << result.err;
        EXPECT_EQ(contents(), c.change.applied()) << where;
    }
}

TEST_F(Tool, FileErrorsNameTheFileAndCreateNothing) {
    const std::string missing = dir + "/missing.ini";
    const struct {
        std::vector<std::string> args;
        int status;
        const char *err;
    } cases[] = {
        {{"get", missing, "s", "k"}, 3, "missing.ini: No such file"},
        {{"get", missing, "s", "k", "--default", "d"}, 0, ""},
        {{"entries", missing, "s"}, 3, "missing.ini"},
        {{"del", missing, "s"}, 3, "missing.ini"},
        {{"remove", missing, "s", "e"}, 3, "missing.ini"},
        {{"set", missing, "s", "", "v"}, 2, "the key must be a name"},
        {{"add", missing, "s", "   "}, 2, "must not be blank"},
        {{"get", dir, "s", "k"}, 3, "not a regular file"},
    };
    for (const auto &c : cases) {
        const Outcome result = run(c.args);
        EXPECT_EQ(result.status, c.status) << c.args[0];
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.args[0] << ": " << result.err;
        EXPECT_FALSE(exists(missing)) << c.args[0];
    }
    EXPECT_EQ(run({"add", missing, "s", "e"}).status, 0);
    EXPECT_EQ(contents(missing), "[s]\ne\n");
}

TEST_F(Tool, HelpAndVersion) {
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    const Outcome add_help = run({"add", "--help"});
    EXPECT_EQ(add_help.status, 0);
    EXPECT_EQ(add_help.out.rfind("usage: iniplace add FILE SECTION ENTRY", 0), 0u);
    EXPECT_EQ(run({"--version"}).out, "iniplace 1.0.0\n");
    EXPECT_EQ(run({}).status, 2);
}

// Parallel editors of one file are serialised by the tool's lock: none of
// them loses another's entry.
TEST_F(Tool, ParallelAddsAllLandOnce) {
    constexpr int editors = 200;
    put("[list]\n");
    const int null_fd = open("/dev/null", O_WRONLY);
    std::vector<pid_t> pids;
    for (int i = 0; i < editors; ++i)
        pids.push_back(
            spawn({"add", path, "list", "entry-" + std::to_string(i)}, null_fd, null_fd));
    int failures = 0;
    for (const pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    close(null_fd);
    EXPECT_EQ(failures, 0);
    std::vector<std::string> lines;
    std::istringstream text(contents());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), editors + 1u);
    EXPECT_EQ(lines[0], "[list]");
    std::sort(lines.begin() + 1, lines.end());
    for (int i = 0; i < editors; ++i)
        EXPECT_TRUE(
            std::binary_search(lines.begin() + 1, lines.end(), "entry-" + std::to_string(i)))
            << i;
}

} // namespace
