// The tool on files like those people keep (tests/real), in each dialect: a
// Samba, PHP, MySQL, supervisord and ODBC configuration, Python's setup.cfg,
// tox.ini and pip.conf, a package repository, systemd units, a git config,
// a Windows file with CRLF line ends and a byte-order mark, a desktop entry,
// a file with a repeated section; values over several lines, : separators,
// keys without values, comments after values, !include lines and aligned
// separators. Each task's output and the file's bytes afterwards are
// checked whole; and what the tool lists of the file, after each task,
// against what the dialect's reader (configparser, git config) finds in it
// (tests/readers_agree.py). (The examples of the tool's manual run on the
// same files: tests/docs_agree.py.)
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
    // Keeps the file as a task left it, under its name, and what the tool
    // lists of it.
    void keep(std::size_t task, const std::string &name) {
        const std::string kept = dir + "/" + std::to_string(task);
        std::filesystem::create_directory(kept);
        put(kept + "/" + name, contents(dir + "/" + name));
        put(kept + ".json", run({"list", "--format", "json", kept + "/" + name}).out);
        kept_ += " " + kept + "/" + name + " " + kept + ".json";
    }
    // Whether the dialect's reader finds in each file kept what the tool
    // listed.
    void expect_readers_agree() {
        if (std::string(INIPLACE_PYTHON).empty()) {
            std::printf("[ skipped  ] no python3: the listings were not checked\n");
            return;
        }
        const std::string command = std::string(INIPLACE_PYTHON) +
                                    " " INIPLACE_TEST_DATA "/../readers_agree.py" + kept_ + " > " +
                                    dir + "/differences";
        EXPECT_EQ(std::system(command.c_str()), 0) << contents(dir + "/differences");
    }

    std::string kept_;
};

TEST_F(RealFiles, ReadAndEditedAsTheirProgramsDo) {
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
        // Lines of 998 bytes, the library's longest, and one more.
        edits("php.ini", {"set", "FILE", "Date", "k", std::string(993, 'v')},
              {{"", "k = " + std::string(993, 'v') + "\n"}}),
        {"php.ini", {"set", "FILE", "Date", "k", std::string(994, 'v')}, 2, "", {}},
        edits("php.ini", {"set", "FILE", "PHP", "max_execution_time", std::string(976, 'v')},
              {{"= 30", "= " + std::string(976, 'v')}}),
        {"php.ini", {"set", "FILE", "PHP", "max_execution_time", std::string(977, 'v')}, 2, "", {}},
        edits("php.ini", {"del", "FILE", "PHP"},
              {{"[PHP]\n; Maximum amount of memory a script may consume\nmemory_limit = 128M\n"
                "max_execution_time = 30\nerror_reporting = E_ALL & ~E_DEPRECATED\n\n",
                ""}}),
        reads("my.cnf", {"get", "FILE", "mysqld", "user"}, "mysql\n"),
        edits("my.cnf", {"set", "FILE", "mysqld", "max_connections", "200"},
              {{"imports\n", "imports\nmax_connections = 200\n"}}),
        edits("my.cnf", {"set", "FILE", "mysqld", "max_allowed_packet", "1G"}, {{"64M", "1G"}}),
        edits("my.cnf", {"del", "FILE", "mysqld", "skip-external-locking"},
              {{"skip-external-locking\n", ""}}),
        edits("my.cnf", {"del", "FILE", "mysqld"},
              {{"[mysqld] # server settings\nuser = mysql\nskip-external-locking\nbind-address = "
                "127.0.0.1\nmax_allowed_packet = 64M   # for imports\n\n",
                ""}}),
        reads("setup.cfg", {"get", "FILE", "options", "install_requires"},
              "\nrequests>=2.25\nclick>=8.0\n"),
        reads("setup.cfg", {"keys", "FILE", "options"}, "packages\ninstall_requires\nzip_safe\n"),
        edits("setup.cfg", {"set", "FILE", "options", "install_requires", "requests>=2.31"},
              {{"=\n    requests>=2.25\n    click>=8.0", "= requests>=2.31"}}),
        edits("setup.cfg", {"set", "FILE", "options", "install_requires", "a\n\nb"},
              {{"=\n    requests>=2.25\n    click>=8.0", "= a\n\n    b"}}),
        edits("setup.cfg", {"del", "FILE", "flake8", "exclude"},
              {{"exclude =\n    .git,\n    build\n", ""}}),
        edits("setup.cfg", {"set", "FILE", "flake8", "max-line-length", "120"}, {{"100", "120"}}),
        edits("setup.cfg", {"set", "FILE", "flake8", "select", "E,W"}, {{"", "select: E,W\n"}}),
        {"setup.cfg", {"set", "FILE", "flake8", "exclude", "a ;b"}, 2, "", {}},
        {"setup.cfg", {"set", "FILE", "flake8", "a:b", "1"}, 2, "", {}},
        reads("tox.ini", {"keys", "FILE", "testenv"}, "deps\ncommands\nsetenv\n"),
        edits("tox.ini", {"set", "FILE", "testenv", "passenv", "HOME"}, {{"", "passenv = HOME\n"}}),
        edits("pip.conf", {"remove", "FILE", "global", "trusted-host = mirror1.example"},
              {{"trusted-host = mirror1.example\n    mirror2.example\n", ""}}),
        edits("pip.conf", {"add", "FILE", "global", "  https://m3.example/simple"},
              {{"", "https://m3.example/simple\n"}}),
        edits("pip.conf", {"set", "FILE", "global", "trusted-host", "m1\nm3"},
              {{"mirror1.example\n    mirror2.example", "m1\n    m3"}}),
        edits("weather.repo", {"set", "FILE", "weather-stable", "gpgkey", "k3"},
              {{"https://repo.example/key1.asc\n       https://repo.example/key2.asc", "k3"}}),
        edits(
            "weather.repo", {"del", "FILE", "weather-stable", "gpgkey"},
            {{"gpgkey=https://repo.example/key1.asc\n       https://repo.example/key2.asc\n", ""}}),
        reads("backupd.service", {"get", "FILE", "Service", "ExecStart"},
              "/usr/bin/backupd      --config /etc/backupd.conf      --verbose\n"),
        reads("backupd.service", {"get", "--all", "FILE", "Service", "Environment"}, "B=2\n"),
        edits("backupd.service", {"del", "--all", "FILE", "Service", "ExecStart"},
              {{"ExecStart=/usr/bin/backupd \\\n    --config /etc/backupd.conf \\\n    --verbose\n",
                ""}}),
        {"backupd.service", {"set", "FILE", "Service", "ExecStart", "/bin/b \\"}, 2, "", {}},
        edits("supervisord.conf", {"set", "FILE", "unix_http_server", "chmod", "0770"},
              {{"0700", "0770"}}),
        edits("supervisord.conf", {"set", "FILE", "program:worker", "command", "/bin/w"},
              {{"worker\n", "worker\ncommand = /bin/w\n"}}),
        // After the blank line the file ends with, no second one.
        edits("supervisord.conf", {"set", "FILE", "program:web", "command", "/bin/web"},
              {{"", "[program:web]\ncommand = /bin/web\n"}}),
        edits("odbc.ini", {"set", "FILE", "reports", "SSLmode", "require"},
              {{"", "SSLmode     = require\n"}}),
        edits("odbc.ini", {"set", "FILE", "reports", "Username", "report"},
              {{"Username    = \n", "Username    = report\n"}}),
        reads("gwd.service", {"get", "FILE", "Service", "Environment"}, "B=2\n"),
        {"gwd.service", {"set", "FILE", "Service", "Environment", "C=3"}, 2, "", {}},
        edits("gitconfig", {"set", "FILE", "core", "editor", "nano"}, {{"= vim", "= nano"}}),
        edits("gitconfig", {"set", "FILE", "core", "pager", "less"}, {{"", "\tpager = less\n"}}),
        reads("gitconfig", {"get", "FILE", "Alias", "ST"}, "status --short\n"),
        reads("gitconfig", {"list", "FILE", "alias"},
              "alias.lg=log --graph       --oneline\n"
              "alias.st=status --short\n"),
        edits("gitconfig", {"set", "FILE", "alias", "st", "status -sb"},
              {{"\"status --short\"", "status -sb"}}),
        edits("gitconfig", {"set", "FILE", "core", "bare", "a;b"},
              {{"\tbare\n", "\tbare = \"a;b\"\n"}}),
        edits("gitconfig", {"add", "FILE", "alias", "co = checkout"},
              {{"one\n", "one\nco = checkout\n"}}),
        {"gitconfig", {"add", "FILE", "alias", "co checkout"}, 2, "", {}},
        edits("gitconfig", {"del", "FILE", "alias", "lg"},
              {{"\tlg = log --graph \\\n\t     --oneline\n", ""}}),
        edits("gitconfig", {"set", "FILE", "remote.up", "url", "u"},
              {{"", "[remote \"up\"]\n\turl = u\n"}}),
        reads("windows.ini", {"get", "FILE", "Settings", "Language"}, "en\n"),
        edits("windows.ini", {"set", "FILE", "Window", "Left", "10"}, {{"", "Left=10\r\n"}}),
        edits("windows.ini", {"set", "FILE", "New", "k", "v"}, {{"", "\r\n[New]\r\nk=v\r\n"}}),
        edits("windows.ini", {"del", "FILE", "Settings"},
              {{"[Settings]\r\nLanguage=en\r\nTheme=dark\r\n\r\n", ""}}),
        edits("windows.ini", {"set", "FILE", "settings", "theme", "x", "--ignore-case"},
              {{"Theme=dark", "Theme=x"}}),
        edits("gateway.desktop", {"set", "FILE", "Desktop Entry", "Name[fr]", "Passerelle"},
              {{"", "Name[fr]=Passerelle\n"}}),
        reads("gateway.desktop", {"get", "FILE", "Desktop Entry", "Name"}, "Gateway\n"),
        reads("dup.ini", {"get", "FILE", "db", "user"}, "admin\n"),
        edits("dup.ini", {"set", "FILE", "db", "user", "root"}, {{"= admin", "= root"}}),
        {"dup.ini", {"set", "FILE", "", "k", "v"}, 2, "", {}},
        reads("dup.ini", {"list", "FILE", "db"}, "db.host=db.example\ndb.user=admin\n"),
    };
    for (std::size_t i = 0; i < std::size(tasks); ++i) {
        // The file under its own name, which chooses its dialect.
        const Task &task = tasks[i];
        const std::string file = dir + "/" + task.file;
        put(file, original(task.file));
        std::vector<std::string> args = task.args;
        std::replace(args.begin(), args.end(), std::string("FILE"), file);
        const Outcome result = run(args, task.input);
        const std::string where = std::string(task.file) + " " + testing::PrintToString(task.args);
        EXPECT_EQ(result.status, task.status) << where << result.err;
        EXPECT_EQ(result.out, task.out) << where;
        EXPECT_EQ(contents(file), changed(task)) << where;
        keep(i, task.file);
    }
    expect_readers_agree();
}

} // namespace
