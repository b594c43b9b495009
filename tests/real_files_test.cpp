// The tool on files like those people keep (tests/real): a Samba, PHP and
// MySQL configuration, a systemd unit, a git config, a Windows file with
// CRLF line ends and a byte-order mark, a desktop entry, a file with a
// repeated section. Each task's output and the file's bytes afterwards are
// checked whole; and what the tool lists of the file, before and after,
// against what Python's configparser reads in it.
#include "tool.h"

namespace {

using Change = std::vector<std::pair<std::string, std::string>>;

struct Task {
    const char *file;
    std::vector<std::string> args; // FILE stands for the file
    int status;
    std::string out;
    Change change; // each from -> to in the file; an empty from appends
    std::string input = "";
};

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
    const Task tasks[] = {
        {"smb.conf", {"get", "FILE", "global", "server string"}, 0, "Samba %v\n", {}},
        {"smb.conf",
         {"keys", "FILE", "global"},
         0,
         "workgroup\nserver string\nlog file\nmax log size\nserver role\n",
         {}},
        {"smb.conf",
         {"set", "FILE", "global", "server", "foo"},
         0,
         "",
         {{"standalone server\n", "standalone server\n   server = foo\n"}}},
        {"smb.conf",
         {"set", "FILE", "global", "server string", "Samba"},
         0,
         "",
         {{"string = Samba %v", "string = Samba"}}},
        {"smb.conf", {"del", "FILE", "global", "log"}, 0, "", {}},
        {"smb.conf",
         {"del", "FILE", "global", "log file"},
         0,
         "",
         {{"   log file = /var/log/samba/log.%m\n", ""}}},
        {"smb.conf",
         {"apply", "FILE"},
         0,
         "",
         {{"standalone server", "member server"}},
         "[global]\nserver role = member server\n"},
        {"smb.conf",
         {"del", "FILE", "global"},
         0,
         "",
         {{"[global]\n   workgroup = WORKGROUP\n   server string = Samba %v\n   log file = "
           "/var/log/samba/log.%m\n   max log size = 1000\n   server role = standalone server\n\n",
           ""}}},
        {"php.ini", {"set", "FILE", "PHP", "memory_limit", "256M"}, 0, "", {{"= 128M", "= 256M"}}},
        {"php.ini",
         {"set", "FILE", "PHP", "upload_max_filesize", "2M"},
         0,
         "",
         {{"DEPRECATED\n", "DEPRECATED\nupload_max_filesize = 2M\n"}}},
        {"php.ini",
         {"del", "FILE", "PHP"},
         0,
         "",
         {{"[PHP]\n; Maximum amount of memory a script may consume\nmemory_limit = 128M\n"
           "max_execution_time = 30\nerror_reporting = E_ALL & ~E_DEPRECATED\n\n",
           ""}}},
        {"my.cnf", {"get", "FILE", "mysqld", "user"}, 0, "mysql\n", {}},
        {"my.cnf",
         {"set", "FILE", "mysqld", "max_connections", "200"},
         0,
         "",
         {{"", "max_connections = 200\n"}}},
        {"my.cnf",
         {"entries", "FILE", "mysqld"},
         0,
         "user = mysql\nskip-external-locking\nbind-address = 127.0.0.1\n",
         {}},
        {"gwd.service", {"get", "FILE", "Service", "Environment"}, 0, "B=2\n", {}},
        {"gwd.service", {"get", "--all", "FILE", "Service", "Environment"}, 0, "A=1\nB=2\n", {}},
        {"gwd.service", {"set", "FILE", "Service", "Environment", "C=3"}, 2, "", {}},
        {"gwd.service",
         {"set", "FILE", "Service", "Restart", "always"},
         0,
         "",
         {{"on-failure", "always"}}},
        {"gitconfig",
         {"keys", "FILE", "core"},
         0,
         "repositoryformatversion\nfilemode\neditor\n",
         {}},
        {"gitconfig", {"set", "FILE", "core", "editor", "nano"}, 0, "", {{"= vim", "= nano"}}},
        {"gitconfig", {"set", "FILE", "core", "pager", "less"}, 0, "", {{"", "\tpager = less\n"}}},
        {"gitconfig",
         {"get", "FILE", "remote \"origin\"", "url"},
         0,
         "https://example.org/repo.git\n",
         {}},
        {"windows.ini", {"get", "FILE", "Settings", "Language"}, 0, "en\n", {}},
        {"windows.ini",
         {"set", "FILE", "Settings", "Theme", "light"},
         0,
         "",
         {{"Theme=dark", "Theme=light"}}},
        {"windows.ini", {"set", "FILE", "Window", "Left", "10"}, 0, "", {{"", "Left=10\r\n"}}},
        {"windows.ini", {"set", "FILE", "New", "k", "v"}, 0, "", {{"", "\r\n[New]\r\nk=v\r\n"}}},
        {"windows.ini",
         {"set", "FILE", "settings", "theme", "x", "--ignore-case"},
         0,
         "",
         {{"Theme=dark", "Theme=x"}}},
        {"gateway.desktop",
         {"set", "FILE", "Desktop Entry", "Name[fr]", "Passerelle"},
         0,
         "",
         {{"", "Name[fr]=Passerelle\n"}}},
        {"gateway.desktop", {"get", "FILE", "Desktop Entry", "Name"}, 0, "Gateway\n", {}},
        {"dup.ini", {"get", "FILE", "db", "user"}, 0, "admin\n", {}},
        {"dup.ini", {"set", "FILE", "db", "user", "root"}, 0, "", {{"= admin", "= root"}}},
        {"dup.ini", {"sections", "FILE"}, 0, "db\ncache\n", {}},
        {"dup.ini", {"list", "FILE", "db"}, 0, "db.host=db.example\ndb.user=admin\n", {}},
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
