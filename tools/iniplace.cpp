// iniplace: read and edit INI files from shell scripts.
#include "iniplace.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

constexpr int exit_found = 0;
constexpr int exit_not_found = 1;
constexpr int exit_usage = 2;
constexpr int exit_file = 3;

const char *const usage_text = R"(usage: iniplace COMMAND FILE ARGS... [OPTIONS]

Read and edit an INI file in place. Values go to standard output, one per
line; errors to standard error, one line naming the file.

Keys:
  get FILE SECTION KEY        print the value of KEY in SECTION
  set FILE SECTION KEY VALUE  write KEY=VALUE, creating file and section
  del FILE SECTION [KEY]      delete a key line, or the whole section
  keys FILE SECTION           print the keys of SECTION
  sections FILE               print the section names

Entry lists (every line of a section is an entry):
  entries FILE SECTION        print the entries of SECTION
  first FILE SECTION          print the first entry
  has FILE SECTION ENTRY      succeed if ENTRY is in SECTION
  next FILE SECTION ENTRY     print the entry after ENTRY
  prev FILE SECTION ENTRY     print the entry before ENTRY
  add FILE SECTION ENTRY      append ENTRY unless it is already there
  remove FILE SECTION ENTRY   remove the first line equal to ENTRY

The section * is the preamble, the lines before the first header.

Exit status: 0 done or found, 1 not found, 2 usage error or rejected
input, 3 the file could not be opened or is not a regular file.

Run 'iniplace COMMAND --help' for a command's options; --version prints
the version.
)";

struct Command;
struct Invocation {
    const Command *command;
    std::vector<std::string> args;
    std::string type;
    const char *default_value = nullptr;
    int locked_fd = -1; // the file, opened and locked; -1 if it could not be

    const char *file() const { return args[0].c_str(); }
    const char *arg(std::size_t i) const { return args[i].c_str(); }
};

struct Command {
    const char *name;
    const char *synopsis;
    const char *help;
    std::size_t min_args;
    std::size_t max_args;
    bool edits;        // takes the file's lock exclusively
    bool creates;      // may create a missing file
    const char *types; // accepted --type values, space separated; null: none
    int (*run)(const Invocation &);
};

int fail(int code, const std::string &file, const std::string &message) {
    std::fprintf(stderr, "iniplace: %s: %s\n", file.c_str(), message.c_str());
    return code;
}

int usage_error(const std::string &message) {
    std::fprintf(stderr, "iniplace: %s (see 'iniplace --help')\n", message.c_str());
    return exit_usage;
}

std::string describe_open_failure(const char *path) {
    struct stat info;
    if (stat(path, &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    return access(path, W_OK) != 0 ? std::strerror(errno) : "cannot be opened";
}

// Maps a library status to the exit status, reporting failures.
int report(const Invocation &call, int status, const std::string &rejected) {
    switch (status) {
    case INI_OK:
        return exit_found;
    case INI_NOT_FOUND:
        return exit_not_found;
    case INI_EOPEN:
        return fail(exit_file, call.file(), describe_open_failure(call.file()));
    case INI_EREREAD:
        return fail(exit_file, call.file(), "the file changed while it was read");
    case INI_ESECTION:
        return fail(exit_usage, call.file(), "the section must name a section, not *");
    default:
        return fail(exit_usage, call.file(), rejected);
    }
}

bool file_missing(const char *path) {
    struct stat info;
    return stat(path, &info) != 0 && errno == ENOENT;
}

// A default stands in for a missing key, section or file.
bool default_applies(const Invocation &call, int status) {
    return call.default_value != nullptr &&
           (status == INI_NOT_FOUND || (status == INI_EOPEN && file_missing(call.file())));
}

std::string section_key(const Invocation &call) {
    return std::string("[") + call.arg(1) + "] " + call.arg(2);
}

// Why a key line would not be written: the library's rules, said in words.
std::string key_rejection(const Invocation &call, std::string_view value) {
    const std::string_view key = call.arg(2);
    if (key.empty() || key == "*")
        return "the key must be a name, not empty or *";
    if (key.find_first_of("=\n") != std::string_view::npos)
        return "the key must not hold '=' or a line feed";
    if (key[0] == '[' || key[0] == ' ' || key[0] == '\t')
        return "the key must not start with '[', a space or a tab";
    if (std::strchr(call.arg(1), '\n') != nullptr || value.find('\n') != std::string_view::npos)
        return "section and value must not hold a line feed";
    return "the line would be longer than " + std::to_string(INI_MAX_TEXT) + " bytes";
}

// Reads a number given on the command line: decimal, 0x hexadecimal or 0b
// binary, whole text, in range.
template <typename Number> bool read_number(const char *text, Number &out) {
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits[0] == '-';
    if (negative || (!digits.empty() && digits[0] == '+'))
        digits.remove_prefix(1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        base = 16;
    else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B'))
        base = 2;
    if (base != 10)
        digits.remove_prefix(2);
    if (digits.empty() || !std::isalnum(static_cast<unsigned char>(digits[0])))
        return false;
    const std::string plain = (negative ? "-" : "") + std::string(digits);
    char *end = nullptr;
    errno = 0;
    if constexpr (std::is_signed_v<Number>)
        out = std::strtol(plain.c_str(), &end, base);
    else
        out = negative ? 0 : std::strtoul(plain.c_str(), &end, base);
    return errno == 0 && *end == '\0' && !(negative && !std::is_signed_v<Number>);
}

template <typename Number>
int get_number(const Invocation &call,
               int (*getter)(const char *, const char *, const char *, Number *, Number),
               const char *format) {
    Number def = 0;
    if (call.default_value != nullptr && !read_number(call.default_value, def))
        return usage_error(std::string("--default ") + call.default_value + " is not a " +
                           call.type);
    Number value = 0;
    const int status = getter(call.file(), call.arg(1), call.arg(2), &value, def);
    const bool use_default = default_applies(call, status);
    if (status == INI_OK || use_default) {
        std::printf(format, use_default ? def : value);
        return exit_found;
    }
    if (status == INI_EINVAL)
        return fail(exit_usage, call.file(),
                    section_key(call) + ": the value is not a " + call.type);
    return report(call, status, "");
}

int cmd_get(const Invocation &call) {
    if (call.type == "long")
        return get_number<long>(call, ini_getkey_long, "%ld\n");
    if (call.type == "ulong")
        return get_number<unsigned long>(call, ini_getkey_ulong, "%lu\n");
    if (call.type == "bin")
        return get_number<unsigned long>(call, ini_getkey_bin, "%lu\n");
    char value[INI_LINE_SIZE];
    const int status = call.type == "string"
                           ? ini_getkey_string(call.file(), call.arg(1), call.arg(2), value,
                                               sizeof value - 1, nullptr)
                           : ini_getkey(call.file(), call.arg(1), call.arg(2), value, sizeof value);
    value[sizeof value - 1] = '\0';
    if (status == INI_OK) {
        std::printf("%s\n", value);
        return exit_found;
    }
    if (default_applies(call, status)) {
        std::printf("%s\n", call.default_value);
        return exit_found;
    }
    return report(call, status, "");
}

template <typename Number>
int set_number(const Invocation &call,
               int (*setter)(const char *, const char *, const char *, Number)) {
    Number value = 0;
    if (!read_number(call.arg(3), value))
        return usage_error(std::string(call.arg(3)) + " is not a " + call.type);
    return report(call, setter(call.file(), call.arg(1), call.arg(2), value),
                  key_rejection(call, ""));
}

int cmd_set(const Invocation &call) {
    if (call.type == "long")
        return set_number<long>(call, ini_setkey_long);
    if (call.type == "ulong")
        return set_number<unsigned long>(call, ini_setkey_ulong);
    if (call.type == "hex")
        return set_number<unsigned long>(call, ini_setkey_hex);
    if (call.type == "bin")
        return set_number<long>(call, ini_setkey_bin);
    const int status = call.type == "string"
                           ? ini_setkey_string(call.file(), call.arg(1), call.arg(2), call.arg(3))
                           : ini_setkey(call.file(), call.arg(1), call.arg(2), call.arg(3));
    return report(call, status, key_rejection(call, call.arg(3)));
}

int cmd_del(const Invocation &call) {
    const int status = call.args.size() == 3 ? ini_delkey(call.file(), call.arg(1), call.arg(2))
                                             : ini_delsect(call.file(), call.arg(1));
    return report(call, status, "");
}

// Prints an entry without the line feed or carriage return a blank line
// keeps; blank lines are not printed.
void print_entry(const char *entry) {
    if (entry[0] != '\n' && entry[0] != '\r')
        std::printf("%s\n", entry);
}

int entry_lookup(const Invocation &call, int mode) {
    char entry[INI_LINE_SIZE];
    const char *ref = call.args.size() > 2 ? call.arg(2) : nullptr;
    const int status = ini_getsection(call.file(), call.arg(1), ref, mode, entry, sizeof entry);
    if (status == INI_OK && mode != INI_ENTRY_MATCH)
        print_entry(entry);
    return report(call, status, "");
}

int cmd_first(const Invocation &call) {
    return entry_lookup(call, INI_ENTRY_FIRST);
}
int cmd_has(const Invocation &call) {
    return entry_lookup(call, INI_ENTRY_MATCH);
}
int cmd_next(const Invocation &call) {
    return entry_lookup(call, INI_ENTRY_NEXT);
}
int cmd_prev(const Invocation &call) {
    return entry_lookup(call, INI_ENTRY_PREV);
}

std::string entry_rejection(const Invocation &call) {
    if (std::strchr(call.arg(1), '\n') != nullptr || std::strchr(call.arg(2), '\n') != nullptr)
        return "section and entry must not hold a line feed";
    const std::string_view entry = call.arg(2);
    const std::size_t start = entry.find_first_not_of(" \t");
    if (start == std::string_view::npos ||
        entry.find_first_not_of(" \t\r", start) == std::string_view::npos)
        return "the entry must not be blank";
    if (entry[start] == '[')
        return "the entry must not start with '['";
    return "the line would be longer than " + std::to_string(INI_MAX_TEXT) + " bytes";
}

int cmd_add(const Invocation &call) {
    return report(call, ini_setsection_string(call.file(), call.arg(1), call.arg(2)),
                  entry_rejection(call));
}

int cmd_remove(const Invocation &call) {
    return report(call, ini_delsection_string(call.file(), call.arg(1), call.arg(2)), "");
}

// Walks the lines of a file once with parse_section() in steps of "*":
// `visit` gets each trimmed line and whether it is a header.
template <typename Visit> int walk(const Invocation &call, const char *section, Visit visit) {
    // The lock's descriptor is known to be a regular file.
    const int fd = call.locked_fd >= 0 ? dup(call.locked_fd) : -1;
    FILE *stream = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (stream == nullptr) {
        if (fd >= 0)
            close(fd);
        return report(call, INI_EOPEN, "");
    }
    char line[INI_LINE_SIZE];
    int result = parse_section(stream, section, line, sizeof line, 0);
    const bool found = result != INI_SCAN_NONE;
    for (; result != INI_SCAN_NONE; result = parse_section(stream, "*", line, sizeof line, 0)) {
        if (!visit(trim_string(line), result == INI_SCAN_BOUNDARY))
            break;
    }
    std::fclose(stream);
    return found || std::string_view(section) == "*" ? exit_found : exit_not_found;
}

int cmd_entries(const Invocation &call) {
    return walk(call, call.arg(1), [](const char *line, bool header) {
        if (header)
            return false;
        print_entry(line);
        return true;
    });
}

int cmd_keys(const Invocation &call) {
    std::set<std::string> seen;
    return walk(call, call.arg(1), [&seen](const char *line, bool header) {
        if (header)
            return false;
        if (std::strchr(line, '=') != nullptr) {
            const std::string key(line, std::strcspn(line, " \t="));
            if (seen.insert(key).second)
                std::printf("%s\n", key.c_str());
        }
        return true;
    });
}

int cmd_sections(const Invocation &call) {
    std::set<std::string> seen;
    return walk(call, "*", [&seen](const char *line, bool header) {
        const std::string_view text = line;
        if (header && text.size() >= 2 && text.back() == ']') {
            const std::string name(text.substr(1, text.size() - 2));
            if (seen.insert(name).second)
                std::printf("%s\n", name.c_str());
        }
        return true;
    });
}

const Command commands[] = {
    {"get", "get FILE SECTION KEY [--type string|long|ulong|bin] [--default VALUE]",
     "Prints the value of KEY in SECTION (trimmed; quotes kept unless --type\n"
     "string). Numeric types print the number in decimal; a value that is not\n"
     "wholly such a number fails with status 2. --default VALUE is printed\n"
     "when the key, the section or the file is missing.",
     3, 3, false, false, "string long ulong bin", cmd_get},
    {"set", "set FILE SECTION KEY VALUE [--type string|long|ulong|hex|bin]",
     "Writes the line KEY=VALUE: replaces the key line, or adds it at the end of\n"
     "SECTION, or appends the section; creates FILE if missing. --type string\n"
     "quotes the value; numeric types take VALUE in decimal, 0x hexadecimal or\n"
     "0b binary and write it as signed or unsigned decimal, 0x-hexadecimal or\n"
     "32 binary digits. Rejected input (status 2) leaves the file untouched.",
     4, 4, true, true, "string long ulong hex bin", cmd_set},
    {"del", "del FILE SECTION [KEY]",
     "Deletes the key line of KEY, or without KEY the whole section up to the\n"
     "next header. Deleting what is not there succeeds.",
     2, 3, true, false, nullptr, cmd_del},
    {"keys", "keys FILE SECTION", "Prints each key of SECTION once, in file order.", 2, 2, false,
     false, nullptr, cmd_keys},
    {"sections", "sections FILE", "Prints each section name once, in file order.", 1, 1, false,
     false, nullptr, cmd_sections},
    {"entries", "entries FILE SECTION",
     "Prints every entry of SECTION, trimmed, in file order; blank lines are\n"
     "not printed. Status 1 if the section is missing.",
     2, 2, false, false, nullptr, cmd_entries},
    {"first", "first FILE SECTION", "Prints the first entry of SECTION.", 2, 2, false, false,
     nullptr, cmd_first},
    {"has", "has FILE SECTION ENTRY",
     "Succeeds (status 0) if SECTION holds ENTRY, compared after trimming.", 3, 3, false, false,
     nullptr, cmd_has},
    {"next", "next FILE SECTION ENTRY", "Prints the entry after ENTRY.", 3, 3, false, false,
     nullptr, cmd_next},
    {"prev", "prev FILE SECTION ENTRY", "Prints the entry before ENTRY.", 3, 3, false, false,
     nullptr, cmd_prev},
    {"add", "add FILE SECTION ENTRY",
     "Adds ENTRY as the last line of SECTION unless an equal entry is there;\n"
     "appends the section and creates FILE if missing. A blank entry or one\n"
     "starting with '[' is rejected (status 2).",
     3, 3, true, true, nullptr, cmd_add},
    {"remove", "remove FILE SECTION ENTRY",
     "Removes the first line of SECTION equal to ENTRY; succeeds if none is.", 3, 3, true, false,
     nullptr, cmd_remove},
};

// Serialises iniplace processes on one file with an advisory lock: shared
// for reads, exclusive for edits. A missing file is created (empty) only
// for an edit that creates files, and removed again if the edit does not
// write to it.
class FileLock {
  public:
    FileLock(const char *path, bool exclusive, bool may_create) : path_(path) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            fd_ = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
            if (fd_ < 0 && errno == ENOENT && may_create) {
                fd_ = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                created_ = fd_ >= 0;
                if (fd_ < 0 && errno == EEXIST)
                    continue;
            }
            if (fd_ < 0 || !is_regular(fd_))
                break;
            flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
            if (still_linked())
                return;
            close(fd_);
            fd_ = -1;
            created_ = false;
        }
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    ~FileLock() {
        if (fd_ < 0)
            return;
        struct stat info;
        if (created_ && fstat(fd_, &info) == 0 && info.st_size == 0)
            unlink(path_);
        close(fd_);
    }
    FileLock(const FileLock &) = delete;
    int fd() const { return fd_; }
    FileLock &operator=(const FileLock &) = delete;

  private:
    static bool is_regular(int fd) {
        struct stat info;
        return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    }
    // The lock counts only if the path still names the locked file: a
    // creator may have removed the file it made while this call waited.
    bool still_linked() const {
        struct stat locked, named;
        return fstat(fd_, &locked) == 0 && stat(path_, &named) == 0 &&
               locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
    }

    const char *path_;
    int fd_ = -1;
    bool created_ = false;
};

void print_help(const Command &command) {
    std::printf("usage: iniplace %s\n\n%s\n", command.synopsis, command.help);
}

const Command *find_command(std::string_view name) {
    for (const Command &command : commands)
        if (name == command.name)
            return &command;
    return nullptr;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h" ||
        std::string_view(argv[1]) == "help") {
        const Command *topic = argc > 2 ? find_command(argv[2]) : nullptr;
        if (topic != nullptr)
            print_help(*topic);
        else
            std::fputs(usage_text, argc < 2 ? stderr : stdout);
        return argc < 2 ? exit_usage : exit_found;
    }
    if (std::string_view(argv[1]) == "--version") {
        int major = 0, minor = 0, micro = 0;
        ini_version(&major, &minor, &micro);
        std::printf("iniplace %d.%d.%d\n", major, minor, micro);
        return exit_found;
    }
    Invocation call{find_command(argv[1]), {}, {}, nullptr};
    if (call.command == nullptr)
        return usage_error(std::string("unknown command '") + argv[1] + "'");
    const Command &command = *call.command;
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done || arg.size() < 2 || arg.substr(0, 2) != "--") {
            call.args.emplace_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "--help") {
            print_help(command);
            return exit_found;
        } else if (arg == "--type" || arg == "--default" || arg.substr(0, 7) == "--type=" ||
                   arg.substr(0, 10) == "--default=") {
            const std::size_t equals = arg.find('=');
            const std::string name(arg.substr(0, equals));
            const char *value = equals != std::string_view::npos ? argv[i] + equals + 1
                                : i + 1 < argc                   ? argv[++i]
                                                                 : nullptr;
            if (value == nullptr)
                return usage_error(name + " needs a value");
            if (name == "--type")
                call.type = value;
            else if (command.run == cmd_get)
                call.default_value = value;
            else
                return usage_error(std::string(command.name) + " takes no --default");
        } else {
            return usage_error("unknown option " + std::string(arg));
        }
    }
    if (call.args.size() < command.min_args || call.args.size() > command.max_args)
        return usage_error(std::string("usage: iniplace ") + command.synopsis);
    if (!call.type.empty()) {
        const std::string types = command.types != nullptr ? command.types : "";
        if (types.empty() || (" " + types + " ").find(" " + call.type + " ") == std::string::npos)
            return usage_error(std::string(command.name) + " takes no --type " + call.type);
    }
    const FileLock lock(call.file(), command.edits, command.creates);
    call.locked_fd = lock.fd();
    const int status = command.run(call);
    return std::fflush(stdout) == 0 ? status : fail(exit_file, "standard output", "write failed");
}
