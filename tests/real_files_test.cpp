// The tool on files like those people keep (tests/real): a Samba, PHP and
// MySQL configuration, a systemd unit, a git config, a Windows file with
// CRLF line ends and a byte-order mark, a desktop entry, a file with a
// repeated section. Each task's output and the file's bytes afterwards are
// checked whole; and what the tool lists of the file, before and after,
// against what Python's configparser reads in it. (The examples of the
// tool's manual run on the same files: tests/docs_agree.py.)
#include "tool.h"

namespace {

using Change = std::vector<std::pair<std::string, std::string>>;
using Args = std::vector<std::string>;

struct Task {
    const char *file;
    Args args; // FILE stands for the file
    int status;
    std::string out;
    Change change; // each from -> to in the file; an empty from appends
    std::string input = "";
};

// A task that prints `out` and changes nothing; one that changes the file.
Task reads(const char *file, Args args, std::string out) {
    return {file, std::move(args), 0, std::move(out), {}};
}
Task edits(const char *file, Args args, Change change, std::string input = "") {
    return {file, std::move(args), 0, "", std::move(change), std::move(input)};
}

std::string original(const std::string &name) {
    return contents(std::string(INIPLACE_TEST_DATA) + "/" + name);
}

std::string changed(const Task &task) {
    std::string text = original(task.file);
    for (const auto &[from, to] : task.change)
        from.empty() ? text += to : text.replace(text.find(from), from.size(), to);
    return text;
}

class RealFiles : public FileTest {
  protected:
    // Keeps the file as a task left it, and what the tool lists of it.
    void keep(std::size_t task) {
        const std::string kept = dir + "/" + std::to_string(task);
        put(kept + ".ini", contents());
        put(kept + ".json", run({"list", "--format", "json", path}).out);
        kept_ += " " + kept + ".ini " + kept + ".json";
    }
    // Whether configparser reads in each file kept what the tool listed.
    void expect_configparser_agrees() {
        if (std::string(INIPLACE_PYTHON).empty()) {
            std::printf("[ skipped  ] no python3: the listings were not checked\n");
            return;
        }
        const std::string command = std::string(INIPLACE_PYTHON) +
                                    " " INIPLACE_TEST_DATA "/../configparser_reads.py" + kept_ +
                                    " > " + dir + "/differences";
        EXPECT_EQ(std::system(command.c_str()), 0) << contents(dir + "/differences");
    }

    std::string kept_;
};

TEST_F(RealFiles, ReadAndEditedAsTheCommonToolsDo) {
    const std::string smb_global = "[global]\n   workgroup = WORKGROUP\n   server string = Samba "
                                   "%v\n   log file = /var/log/samba/log.%m\n   max log size = "
                                   "1000\n   server role = standalone server\n\n";
    const Task tasks[] = {
        reads("smb.conf", {"keys", "FILE", "global"},
              "workgroup\nserver string\nlog file\nmax log size\nserver role\n"),
        edits("smb.conf", {"set", "FILE", "global", "server", "foo"},
              {{"standalone server\n", "standalone server\n   server = foo\n"}}),
        edits("smb.conf", {"set", "FILE", "global", "server string", "Samba"},
              {{"string = Samba %v", "string = Samba"}}),
        edits("smb.conf", {"del", "FILE", "global", "log"}, {}),
        edits("smb.conf", {"del", "FILE", "global", "log file"},
              {{"   log file = /var/log/samba/log.%m\n", ""}}),
        edits("smb.conf", {"apply", "FILE"}, {{"standalone server", "member server"}},
              "[global]\nserver role = member server\n"),
        edits("smb.conf", {"del", "FILE", "global"}, {{smb_global, ""}}),
        edits("php.ini", {"set", "FILE", "PHP", "upload_max_filesize", "2M"},
              {{"DEPRECATED\n", "DEPRECATED\nupload_max_filesize = 2M\n"}}),
        edits("php.ini", {"del", "FILE", "PHP"},
              {{"[PHP]\n; Maximum amount of memory a script may consume\nmemory_limit = 128M\n"
                "max_execution_time = 30\nerror_reporting = E_ALL & ~E_DEPRECATED\n\n",
                ""}}),
        reads("my.cnf", {"get", "FILE", "mysqld", "user"}, "mysql\n"),
        edits("my.cnf", {"set", "FILE", "mysqld", "max_connections", "200"},
              {{"", "max_connections = 200\n"}}),
        reads("gwd.service", {"get", "FILE", "Service", "Environment"}, "B=2\n"),
        {"gwd.service", {"set", "FILE", "Service", "Environment", "C=3"}, 2, "", {}},
        edits("gitconfig", {"set", "FILE", "core", "editor", "nano"}, {{"= vim", "= nano"}}),
        edits("gitconfig", {"set", "FILE", "core", "pager", "less"}, {{"", "\tpager = less\n"}}),
        reads("windows.ini", {"get", "FILE", "Settings", "Language"}, "en\n"),
        edits("windows.ini", {"set", "FILE", "Window", "Left", "10"}, {{"", "Left=10\r\n"}}),
        edits("windows.ini", {"set", "FILE", "New", "k", "v"}, {{"", "\r\n[New]\r\nk=v\r\n"}}),
        edits("windows.ini", {"set", "FILE", "settings", "theme", "x", "--ignore-case"},
              {{"Theme=dark", "Theme=x"}}),
        edits("gateway.desktop", {"set", "FILE", "Desktop Entry", "Name[fr]", "Passerelle"},
              {{"", "Name[fr]=Passerelle\n"}}),
        reads("gateway.desktop", {"get", "FILE", "Desktop Entry", "Name"}, "Gateway\n"),
        reads("dup.ini", {"get", "FILE", "db", "user"}, "admin\n"),
        edits("dup.ini", {"set", "FILE", "db", "user", "root"}, {{"= admin", "= root"}}),
        reads("dup.ini", {"list", "FILE", "db"}, "db.host=db.example\ndb.user=admin\n"),
    };
    for (std::size_t i = 0; i < std::size(tasks); ++i) {
        const Task &task = tasks[i];
        put(original(task.file));
        std::vector<std::string> args = task.args;
        std::replace(args.begin(), args.end(), std::string("FILE"), path);
        const Outcome result = run(args, task.input);
        const std::string where = std::string(task.file) + " " + testing::PrintToString(task.args);
        EXPECT_EQ(result.status, task.status) << where << result.err;
        EXPECT_EQ(result.out, task.out) << where;
        EXPECT_EQ(contents(), changed(task)) << where;
        keep(i);
    }
    expect_configparser_agrees();
}

} // namespace
