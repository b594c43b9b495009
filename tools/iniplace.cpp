// iniplace: read and edit INI files from shell scripts.
//
// Every command checks its arguments first, then opens and locks the file,
// reads it with the library's scanners and the shared format rules, and
// edits it with one library call per line to change. The command table
// below is the one source of --help, the manual page and the completion.
#include "iniplace.h"
#include "numbers.h"
#include "scan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <getopt.h>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

using namespace iniplace;

constexpr int exit_done = 0;
constexpr int exit_not_found = 1;
constexpr int exit_usage = 2;
constexpr int exit_file = 3;

// What a command does with its file, and so which lock it takes.
enum class Use { read, edit, create };

struct Call;

struct Command {
    const char *name;
    const char *operands; // optional ones in brackets
    Use use;
    bool takes_default;
    const char *types;   // accepted --type values, space separated; null: none
    const char *formats; // accepted --format values; null: none
    const char *summary;
    const char *help;
    int (*run)(const Call &);
};

enum class Opt { type, default_value, format, verbose, check };

struct OptionInfo {
    Opt id;
    const char *name;
    const char *value; // what the option takes; null for a flag
    const char *help;
};

const OptionInfo option_table[] = {
    {Opt::type, "type", "TYPE", "read or write the value as TYPE (see Numbers)"},
    {Opt::default_value, "default", "VALUE",
     "print VALUE when the key, its section or the file is missing"},
    {Opt::format, "format", "FORMAT", "print lines (the default), json or, with list, sh"},
    {Opt::verbose, "verbose", nullptr, "say changed or unchanged on standard error"},
    {Opt::check, "check", nullptr, "write nothing; status 0 if it would change the file, 1 if not"},
};

// Options every command takes, and the end of the options.
const std::pair<const char *, const char *> general_options[] = {
    {"--help, -h", "print this help, or with a COMMAND its help"},
    {"--version", "print the version"},
    {"--", "end the options: later arguments are taken as they are, even\n"
           "when they start with -: iniplace set --type long f.ini net n -- -5"},
};

bool takes(const Command &command, Opt id) {
    switch (id) {
    case Opt::type:
        return command.types != nullptr;
    case Opt::default_value:
        return command.takes_default;
    case Opt::format:
        return command.formats != nullptr;
    case Opt::verbose:
    case Opt::check:
        return command.use != Use::read;
    }
    return false;
}

const char *const description =
    "Reads and edits an INI file in place. Values go to standard output, one\n"
    "per line; errors go to standard error, one line naming the file.";

// Topics of the help and the manual page.
const std::pair<const char *, const char *> topics[] = {
    {"Sections and keys",
     "SECTION names a section by its header: [net] is the section net. Only\n"
     "the first header of a name counts; lines under a later header of the\n"
     "same name are never read. The section * stands for the preamble, the\n"
     "lines before the first header: get, set, del with a KEY, keys, list,\n"
     "entries, add and remove work on it as on a section, and apply puts the\n"
     "lines before the fragment's first header there. del without KEY refuses\n"
     "* (status 2, nothing deleted), and so do first, has, next and prev.\n"
     "A KEY is a name: get, set and del refuse an empty key, *, a key holding\n"
     "= or starting with [, a space or a tab; keys and list leave out lines\n"
     "with such keys (=1, *=2), which get can never read."},
    {"Numbers", "The file's values are read as numbers the library's way: long and ulong\n"
                "take decimal digits (never octal: 010 is 10), else hexadecimal digits\n"
                "with or without 0x (ff and 0xff are 255, 1e3 is 483); bin takes binary\n"
                "digits without a prefix (101 is 5). A number given to the tool (the\n"
                "VALUE of set, --default) is read by the same rule for its type (hex by\n"
                "that of ulong), with two refusals (status 2): a minus sign for ulong,\n"
                "hex and bin, which the file rule would wrap around, and a leading 0b,\n"
                "which the file rule reads as hexadecimal digits (0b101 is 45313): give\n"
                "binary digits with --type bin. set writes long and ulong in decimal,\n"
                "hex as 0x and upper-case digits, bin as 32 binary digits (a value of\n"
                "more than 32 bits is refused)."},
    {"Output", "list prints SECTION.KEY=VALUE lines (the preamble is *); --format sh\n"
               "prints KEY='VALUE' lines for eval and needs a SECTION (keys that are\n"
               "not shell names, and names in upper case like PATH or IFS, are\n"
               "skipped with a warning); --format json prints one\n"
               "object of sections, each an object of keys with string values, the\n"
               "preamble under \"\" when it holds keys. Each key is listed once, with\n"
               "the value get reads. keys, sections and entries print one item per\n"
               "line, or a JSON array of strings. JSON strings carry valid UTF-8 as it\n"
               "is; control bytes and bytes that are not valid UTF-8 are written as\n"
               "\\u00XX, one escape per byte."},
    {"Edits", "An edit that changes nothing writes nothing: set when the key line\n"
              "already reads exactly KEY=VALUE, add when the entry is there, del and\n"
              "remove when there is nothing to delete; the file keeps its bytes and\n"
              "its modification time. After every edit the tool reads the file\n"
              "back and fails (status 3) if a line written is not there, or the file\n"
              "a line was removed from is no shorter, as on a full disk or over a\n"
              "file-size limit; a file\n"
              "it created for the edit is removed. iniplace processes on one file\n"
              "take turns: each holds an advisory lock (flock) on it, shared for\n"
              "reads, exclusive for edits. A file that cannot be locked is an error,\n"
              "never edited unlocked."},
    {"Exit status", "0 done or found; 1 not found (with --check: nothing would change);\n"
                    "2 usage error or rejected input, nothing written; 3 the file could not\n"
                    "be opened, locked, read or written, or standard input could not be\n"
                    "read or standard output written (a closed one included). Writing into\n"
                    "a closed pipe ends the tool by SIGPIPE, as it does other filters;\n"
                    "where SIGPIPE is ignored, that is status 3."},
};

struct Call {
    explicit Call(const Command &to_run) : command(to_run) {}

    const Command &command;
    std::vector<std::string> args; // FILE first
    std::string type;
    std::string format = "lines";
    std::optional<std::string> default_value;
    bool verbose = false;
    bool check = false;

    const char *file() const { return args[0].c_str(); }
    const char *arg(std::size_t i) const { return args[i].c_str(); }
};

// A failure of the file itself (status 3), carried up to main.
struct FileError {
    std::string what;
};

// Standard output, with the first write error kept for the exit status.
int output_error = 0;

void out(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && output_error == 0)
        output_error = errno != 0 ? errno : EIO;
}

// A message is one line: control bytes in names and values show as '?'.
std::string one_line(std::string_view text) {
    std::string line(text);
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return line;
}

int fail(int code, std::string_view file, std::string_view message) {
    std::fprintf(stderr, "iniplace: %s: %s\n", one_line(file).c_str(), one_line(message).c_str());
    return code;
}

void warn(std::string_view file, std::string_view message) {
    fail(exit_done, file, message);
}

int usage_error(const std::string &message) {
    std::fprintf(stderr, "iniplace: %s (see 'iniplace --help')\n", one_line(message).c_str());
    return exit_usage;
}

// What the library refuses to write, in words.
std::string refusal_text(Refusal refusal) {
    switch (refusal) {
    case Refusal::key_empty:
        return "the key must not be empty or *";
    case Refusal::key_character:
        return "the key must not hold '=' or a line feed";
    case Refusal::key_start:
        return "the key must not start with '[', a space or a tab";
    case Refusal::line_feed:
        return "the section, value or entry must not hold a line feed";
    case Refusal::entry_empty:
        return "the entry must not be blank";
    case Refusal::entry_header:
        return "the entry must not start with '['";
    case Refusal::too_long:
        return "the line would be longer than " + std::to_string(text_max) + " bytes";
    case Refusal::none:
        break;
    }
    return "rejected by the library";
}

int refuse(const Call &call, std::string_view what, Refusal refusal) {
    return fail(exit_usage, call.file(), std::string(what) + ": " + refusal_text(refusal));
}

std::string section_key(const Call &call) {
    return "[" + call.args[1] + "] " + call.args[2];
}

bool listed(const char *list, std::string_view word) {
    for (std::string_view rest = list != nullptr ? list : ""; !rest.empty();) {
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (rest.substr(0, end) == word)
            return true;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return false;
}

// Numbers

// Reads a number given on the command line by the rule the library reads
// the file's values with, and refuses two texts that rule would take
// otherwise than a user means them: a minus sign for unsigned types, which
// it wraps around, and a leading 0b, which it takes for hexadecimal digits.
template <typename Number> bool read_number(std::string_view text, Radix radix, Number &out) {
    std::string_view digits = text;
    digits.remove_prefix(std::min(digits.find_first_not_of(" \t\n\v\f\r"), digits.size()));
    const bool minus = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
        digits.remove_prefix(1);
    if ((minus && std::is_unsigned_v<Number>) || digits.empty() || digits[0] == '-' ||
        digits[0] == '+' || (digits.size() >= 2 && digits[0] == '0' && (digits[1] | 0x20) == 'b'))
        return false;
    return parse_number(std::string(text).c_str(), radix, out);
}

// The value text set writes for VALUE and the --type.
bool value_text(const Call &call, std::string &text) {
    const std::string &value = call.args[3];
    long signed_number = 0;
    unsigned long number = 0;
    constexpr unsigned long bin_max = 0xFFFFFFFFul;
    if (call.type.empty())
        text = value;
    else if (call.type == "string")
        text = quoted_text(value).line();
    else if (call.type == "long" && read_number(value, Radix::decimal_then_hex, signed_number))
        text = number_text(signed_number).line();
    else if ((call.type == "ulong" || call.type == "hex") &&
             read_number(value, Radix::decimal_then_hex, number))
        text = number_text(number, call.type == "hex" ? Base::hex : Base::decimal).line();
    else if (call.type == "bin" && read_number(value, Radix::binary, number) && number <= bin_max)
        text = binary_text(number).line();
    else
        return false;
    return true;
}

// The file

// The tool's hold on the file: opened, known to be a regular file, and
// locked with flock, shared for reads and exclusive for edits. A file that
// cannot be locked is not used at all. A missing file is created (empty)
// only for an edit that creates files, and removed again unless the edit
// wrote to it.
class FileLock {
  public:
    FileLock(const char *path, Use use, bool dry_run) : path_(path) {
        constexpr int attempts = 100;
        for (int attempt = 0; attempt < attempts; ++attempt)
            if (take(use, dry_run))
                return;
        error_ = "the file keeps being replaced; not locked";
    }
    ~FileLock() {
        FileInfo info;
        if (created_ && io::stat(fd_.get(), info).ok() && info.size == 0)
            (void)io::unlink(path_);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    int fd() const { return fd_.get(); }
    bool locked() const { return static_cast<bool>(fd_); }
    // The file does not exist (and no lock was taken).
    bool missing() const { return missing_; }
    const std::string &error() const { return error_; }
    void discard_created() {
        if (created_)
            (void)io::unlink(path_);
        created_ = false;
    }

  private:
    // Returns false to try again: the path no longer names the file locked.
    bool take(Use use, bool dry_run) {
        const bool creates = use == Use::create;
        missing_ = false;
        // An exclusive lock asks for a descriptor open for writing on some
        // file systems (NFS).
        const bool exclusive = use != Use::read && !dry_run;
        Status opened = io::open(path_, exclusive ? Open::update : Open::read, fd_);
        if (!opened.ok() && opened.error == ENOENT) {
            FileInfo link;
            if (creates && io::stat(path_, false, link).ok() && link.link)
                return give_up("a symbolic link to a missing file; its target is not created");
            missing_ = true;
            if (!creates || dry_run)
                return give_up(std::strerror(ENOENT));
            opened = io::open(path_, Open::create_new, fd_);
            if (!opened.ok() && opened.error == EEXIST)
                return false;
            created_ = opened.ok();
            missing_ = false;
        }
        if (!opened.ok())
            return give_up(std::strerror(opened.error));
        FileInfo info;
        if (const Status known = io::stat(fd_.get(), info); !known.ok())
            return give_up(std::strerror(known.error));
        if (!info.regular)
            return give_up("not a regular file");
        if (const Status locked = io::lock(fd_.get(), exclusive ? Lock::exclusive : Lock::shared);
            !locked.ok())
            return give_up(std::string("cannot be locked: ") + std::strerror(locked.error));
        // A creator may have removed the file it made while this call waited.
        FileInfo named;
        if (io::stat(path_, true, named).ok() && named.device == info.device &&
            named.inode == info.inode)
            return recovered();
        fd_.reset();
        created_ = false;
        return false;
    }
    // The tool reads the file itself. A library built durable puts back an
    // edit a crash interrupted when a call opens the file, so the tool makes
    // one first.
    bool recovered() {
        File file;
        const Status opened = file.open(path_, Access::read);
        if (opened.ok())
            return true;
        return give_up("cannot be read (or an interrupted edit cannot be put back)");
    }
    bool give_up(std::string why) {
        error_ = std::move(why);
        discard_created();
        fd_.reset();
        return true;
    }

    const char *path_;
    Descriptor fd_;
    bool created_ = false;
    bool missing_ = false;
    std::string error_;
};

void require(const FileLock &lock) {
    if (!lock.locked())
        throw FileError{lock.error()};
}

// Reads the locked file with the library's scanner: `read(scan)`. Without
// a file (descriptor -1) it reads as an empty one.
template <typename Read> auto read_locked(int fd, Read read) {
    FileInfo info;
    if (const Status known = fd < 0 ? Status() : io::stat(fd, info); !known.ok())
        throw FileError{std::string("cannot be read: ") + std::strerror(known.error)};
    FileScan scan(Io(fd), info.size);
    const auto result = read(scan);
    if (!scan.in.status().ok())
        throw FileError{std::string("cannot be read: ") + std::strerror(scan.in.status().error)};
    return result;
}

struct Line {
    const std::string *section; // null under a header that no command reaches
    std::string_view text;      // trimmed
    bool header;
};

// Passes every line of the file, trimmed, to `visit` until it returns
// false: the library's walk, which reaches a section by the first header of
// its name only; the preamble is "*", so a header [*] is never reached.
template <typename Visit> void walk(int fd, Visit visit) {
    read_locked(fd, [&](FileScan &scan) {
        std::set<std::string, std::less<>> seen;
        std::string section;
        walk_sections(
            scan, [&](std::string_view name) { return seen.emplace(name).second; },
            [&](const iniplace::Line &line, bool header, const std::string_view *name) {
                if (name != nullptr)
                    section = *name;
                return visit(Line{name != nullptr ? &section : nullptr, line.text, header});
            });
        return 0;
    });
}

// Visits the lines of one section ("*": the preamble); false if the file
// has no such section.
template <typename Visit> bool walk_section(int fd, std::string_view section, Visit visit) {
    bool inside = is_wildcard(section);
    bool found = inside;
    walk(fd, [&](const Line &line) {
        if (line.header) {
            if (inside)
                return false;
            inside = line.section != nullptr && *line.section == section;
            found = found || inside;
        } else if (inside) {
            visit(line.text);
        }
        return true;
    });
    return found;
}

struct KeyLine {
    std::string key;
    std::string value;
};

// The key lines of a section that get reads, in file order.
struct KeyLines {
    std::vector<KeyLine> lines;
    std::set<std::string, std::less<>> seen;
};

// Keeps a line if it is the key line get reads for its key: the first line
// of a key the library accepts.
void add_key_line(KeyLines &keys, std::string_view line) {
    if (!is_key_line(line))
        return;
    const std::string_view key = key_of(line);
    if (check_key(key) == Refusal::none && keys.seen.emplace(key).second)
        keys.lines.push_back({std::string(key), std::string(value_of(line))});
}

bool key_line_present(int fd, const char *section, const char *key) {
    return read_locked(fd, [&](FileScan &scan) {
        iniplace::Line line;
        return find_key(scan.scanner, section, key, line) == Found::match;
    });
}

// The key line get reads for `key` is exactly `wanted` and its line feed.
bool holds_key_line(int fd, const char *section, const char *key, const std::string &wanted) {
    return read_locked(fd, [&](FileScan &scan) {
        iniplace::Line line;
        return find_key(scan.scanner, section, key, line) == Found::match &&
               scan.scanner.last() == wanted + "\n";
    });
}

bool section_present(int fd, const char *section) {
    return read_locked(fd, [&](FileScan &scan) { return scan.scanner.enter(section); });
}

bool entry_present(int fd, const char *section, std::string_view entry) {
    return read_locked(fd, [&](FileScan &scan) {
        iniplace::Line line;
        return find_entry(scan.scanner, section, entry_text(entry), line) == Found::match;
    });
}

// Why the library could not open the file it was given.
std::string describe_open_failure(const char *path, bool edits) {
    FileInfo info;
    if (const Status known = io::stat(path, true, info); !known.ok())
        return std::strerror(known.error);
    if (!info.regular)
        return "not a regular file";
    return edits && access(path, W_OK) != 0 ? std::strerror(errno) : "cannot be opened or read";
}

// Edits

// One change as the tool makes it: `done` tells whether the file already
// reads as the change would leave it; `apply` makes it with the library.
struct Edit {
    std::function<bool(int fd)> done;
    std::function<int()> apply;
    bool removes; // a line goes: the file must be shorter afterwards
};

// Whether a change shows in the file: a line written is there, and a file
// a line was removed from is shorter (an equal line may well follow).
bool landed(const Edit &change, int fd, off_t size_before) {
    FileInfo info;
    if (!change.removes)
        return change.done(fd);
    return io::stat(fd, info).ok() && info.size < size_before;
}

off_t size_of(int fd) {
    FileInfo info;
    return io::stat(fd, info).ok() ? info.size : -1;
}

// Makes the edits under one exclusive lock, skipping those already done.
// `vet` may refuse the edits once the file can be read (status 2).
int edit(const Call &call, const std::vector<Edit> &edits,
         const std::function<int(int fd)> &vet = nullptr) {
    FileLock lock(call.file(), call.command.use, call.check);
    const bool creates = call.command.use == Use::create;
    if (!(lock.locked() || (call.check && creates && lock.missing())))
        throw FileError{lock.error()};
    if (vet)
        if (const int status = vet(lock.fd()); status != exit_done)
            return status;
    bool changed = false;
    for (const Edit &change : edits) {
        if (change.done(lock.fd()))
            continue;
        changed = true;
        if (call.check)
            continue;
        const off_t size_before = size_of(lock.fd());
        const int status = change.apply();
        // Everything else was checked before the file was opened: the
        // library refuses only a new section whose header does not fit.
        if (status == INI_EINVAL)
            return fail(exit_usage, call.file(), refusal_text(Refusal::too_long));
        if (status != INI_OK)
            throw FileError{describe_open_failure(call.file(), true)};
        if (!landed(change, lock.fd(), size_before)) {
            lock.discard_created();
            throw FileError{"the edit did not take effect (disk full or size limit?)"};
        }
    }
    if (call.verbose)
        std::fputs(changed ? "changed\n" : "unchanged\n", stderr);
    return call.check && !changed ? exit_not_found : exit_done;
}

Edit set_edit(const Call &call, std::string section, std::string key, std::string text) {
    std::string line = key + "=" + text;
    const char *path = call.file();
    return {[=](int fd) { return holds_key_line(fd, section.c_str(), key.c_str(), line); },
            [=] { return ini_setkey(path, section.c_str(), key.c_str(), text.c_str()); }, false};
}

Edit add_edit(const Call &call, std::string section, std::string entry) {
    const char *path = call.file();
    return {[=](int fd) { return entry_present(fd, section.c_str(), entry); },
            [=] { return ini_setsection_string(path, section.c_str(), entry.c_str()); }, false};
}

// Commands

template <typename Number>
int get_number(const Call &call,
               int (*getter)(const char *, const char *, const char *, Number *, Number)) {
    const Radix radix = call.type == "bin" ? Radix::binary : Radix::decimal_then_hex;
    Number def = 0;
    if (call.default_value && !read_number(*call.default_value, radix, def))
        return fail(exit_usage, call.file(), *call.default_value + " is not a " + call.type);
    const FileLock lock(call.file(), Use::read, false);
    Number value = def;
    int status = INI_NOT_FOUND;
    if (lock.locked())
        status = getter(call.file(), call.arg(1), call.arg(2), &value, def);
    else if (!lock.missing() || !call.default_value)
        throw FileError{lock.error()};
    if (status == INI_NOT_FOUND && !call.default_value)
        return exit_not_found;
    if (status == INI_OK || status == INI_NOT_FOUND) {
        out(std::to_string(status == INI_OK ? value : def) + "\n");
        return exit_done;
    }
    if (status == INI_EINVAL)
        return fail(exit_usage, call.file(),
                    section_key(call) + ": the value is not a " + call.type);
    throw FileError{describe_open_failure(call.file(), false)};
}

int cmd_get(const Call &call) {
    if (const Refusal refusal = check_key(call.args[2]); refusal != Refusal::none)
        return refuse(call, section_key(call), refusal);
    if (call.type == "long")
        return get_number<long>(call, ini_getkey_long);
    if (call.type == "ulong")
        return get_number<unsigned long>(call, ini_getkey_ulong);
    if (call.type == "bin")
        return get_number<unsigned long>(call, ini_getkey_bin);
    const FileLock lock(call.file(), Use::read, false);
    char value[line_size];
    int status = INI_NOT_FOUND;
    if (lock.locked())
        status = call.type == "string"
                     ? ini_getkey_string(call.file(), call.arg(1), call.arg(2), value,
                                         sizeof value - 1, nullptr)
                     : ini_getkey(call.file(), call.arg(1), call.arg(2), value, sizeof value);
    else if (!lock.missing() || !call.default_value)
        throw FileError{lock.error()};
    value[sizeof value - 1] = '\0';
    if (status == INI_OK || (status == INI_NOT_FOUND && call.default_value)) {
        out((status == INI_OK ? std::string(value) : *call.default_value) + "\n");
        return exit_done;
    }
    if (status == INI_NOT_FOUND)
        return exit_not_found;
    throw FileError{describe_open_failure(call.file(), false)};
}

int cmd_set(const Call &call) {
    std::string text;
    if (call.type == "string" && !quoted_text(call.args[3]).fits())
        return refuse(call, section_key(call), Refusal::too_long);
    if (!value_text(call, text))
        return fail(exit_usage, call.file(), call.args[3] + " is not a " + call.type);
    if (const Refusal refusal = key_line(call.args[1], call.args[2], text).refusal;
        refusal != Refusal::none)
        return refuse(call, section_key(call), refusal);
    return edit(call, {set_edit(call, call.args[1], call.args[2], text)});
}

int cmd_del(const Call &call) {
    const char *path = call.file();
    const char *section = call.arg(1);
    if (call.args.size() == 2) {
        if (is_wildcard(section))
            return fail(exit_usage, path,
                        "del needs a section name, not *: delete the preamble's keys one by one");
        return edit(call, {{[=](int fd) { return !section_present(fd, section); },
                            [=] { return ini_delsect(path, section); }, true}});
    }
    const char *key = call.arg(2);
    if (const Refusal refusal = check_key(key); refusal != Refusal::none)
        return refuse(call, section_key(call), refusal);
    return edit(call, {{[=](int fd) { return !key_line_present(fd, section, key); },
                        [=] { return ini_delkey(path, section, key); }, true}});
}

int cmd_add(const Call &call) {
    Refusal refusal = entry_line(call.args[1], call.args[2]).refusal;
    // The library adds a blank entry that keeps a carriage return; the
    // tool, which leaves blank lines out of its listings, refuses it.
    if (refusal == Refusal::none && is_blank_line(entry_text(call.args[2])))
        refusal = Refusal::entry_empty;
    if (refusal != Refusal::none)
        return refuse(call, "[" + call.args[1] + "]", refusal);
    return edit(call, {add_edit(call, call.args[1], call.args[2])});
}

int cmd_remove(const Call &call) {
    const char *path = call.file();
    const char *section = call.arg(1);
    const char *entry = call.arg(2);
    return edit(call, {{[=](int fd) { return !entry_present(fd, section, entry); },
                        [=] { return ini_delsection_string(path, section, entry); }, true}});
}

int entry_lookup(const Call &call, int mode) {
    if (is_wildcard(call.args[1]))
        return fail(exit_usage, call.file(),
                    std::string(call.command.name) + " needs a section name, not *");
    const FileLock lock(call.file(), Use::read, false);
    require(lock);
    char entry[line_size];
    const char *ref = call.args.size() > 2 ? call.arg(2) : nullptr;
    const int status = ini_getsection(call.file(), call.arg(1), ref, mode, entry, sizeof entry);
    if (status == INI_NOT_FOUND)
        return exit_not_found;
    if (status != INI_OK)
        throw FileError{describe_open_failure(call.file(), false)};
    if (mode != INI_ENTRY_MATCH && !is_blank_line(trimmed(entry)))
        out(std::string(trimmed(entry)) + "\n");
    return exit_done;
}

int cmd_first(const Call &call) {
    return entry_lookup(call, INI_ENTRY_FIRST);
}
int cmd_has(const Call &call) {
    return entry_lookup(call, INI_ENTRY_MATCH);
}
int cmd_next(const Call &call) {
    return entry_lookup(call, INI_ENTRY_NEXT);
}
int cmd_prev(const Call &call) {
    return entry_lookup(call, INI_ENTRY_PREV);
}

// JSON and shell output

// The length of the valid UTF-8 sequence at the start of `text`, 0 if none.
std::size_t utf8_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t length = 0;
    if (byte(0) >= 0xC2 && byte(0) <= 0xDF)
        length = 2;
    else if (byte(0) >= 0xE0 && byte(0) <= 0xEF)
        length = 3;
    else if (byte(0) >= 0xF0 && byte(0) <= 0xF4)
        length = 4;
    if (length == 0 || text.size() < length)
        return 0;
    unsigned long code = byte(0) & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i) & 0x3Fu);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : length;
}

std::string json_string(std::string_view text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte >= 0x80 ? utf8_length(text.substr(i)) : 1;
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += static_cast<char>(byte);
        } else if (byte < 0x20 || length == 0) {
            char escape[sizeof "\\u00XX"];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            json += escape;
        } else {
            json.append(text.substr(i, length));
        }
        i += std::max<std::size_t>(length, 1);
    }
    return json + "\"";
}

std::string json_array(const std::vector<std::string> &items) {
    std::string json = "[";
    for (const std::string &item : items)
        json += (json.size() > 1 ? "," : "") + json_string(item);
    return json + "]";
}

bool shell_name(std::string_view name) {
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (name.empty() || !letter(name[0]))
        return false;
    for (const char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9'))
            return false;
    return true;
}

// A name in upper case, as environment and shell variables are (PATH, IFS,
// LD_PRELOAD), or one of the lower-case names shells tie to such variables:
// a file must not set those through eval.
bool environment_name(std::string_view name) {
    constexpr std::string_view tied[] = {"path",     "fpath",       "cdpath",    "manpath",
                                         "mailpath", "module_path", "histchars", "auto_resume"};
    return std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }) ||
           std::find(std::begin(tied), std::end(tied), name) != std::end(tied);
}

std::string shell_quoted(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void print_items(const Call &call, const std::vector<std::string> &items) {
    if (call.format == "json") {
        out(json_array(items) + "\n");
        return;
    }
    for (const std::string &item : items)
        out(item + "\n");
}

// Listings

int cmd_sections(const Call &call) {
    const FileLock lock(call.file(), Use::read, false);
    require(lock);
    std::vector<std::string> names;
    walk(lock.fd(), [&](const Line &line) {
        if (line.header && line.section != nullptr)
            names.push_back(*line.section);
        return true;
    });
    print_items(call, names);
    return exit_done;
}

int cmd_keys(const Call &call) {
    const FileLock lock(call.file(), Use::read, false);
    require(lock);
    KeyLines keys;
    if (!walk_section(lock.fd(), call.args[1],
                      [&](std::string_view line) { add_key_line(keys, line); }))
        return exit_not_found;
    std::vector<std::string> names;
    for (const KeyLine &line : keys.lines)
        names.push_back(line.key);
    print_items(call, names);
    return exit_done;
}

int cmd_entries(const Call &call) {
    const FileLock lock(call.file(), Use::read, false);
    require(lock);
    std::vector<std::string> entries;
    if (!walk_section(lock.fd(), call.args[1], [&](std::string_view line) {
            if (!is_blank_line(line))
                entries.emplace_back(line);
        }))
        return exit_not_found;
    print_items(call, entries);
    return exit_done;
}

struct Section {
    std::string name;
    KeyLines keys;
};

void print_json(const Call &call, const std::vector<Section> &sections) {
    std::string json = "{";
    for (const Section &section : sections) {
        const bool preamble = is_wildcard(section.name);
        if (preamble && section.keys.lines.empty())
            continue;
        if (section.name.empty()) {
            warn(call.file(), "the section [] is left out: \"\" is the preamble");
            continue;
        }
        json += (json.size() > 1 ? "," : "") + json_string(preamble ? "" : section.name) + ":{";
        for (std::size_t i = 0; i < section.keys.lines.size(); ++i)
            json += (i > 0 ? "," : "") + json_string(section.keys.lines[i].key) + ":" +
                    json_string(section.keys.lines[i].value);
        json += "}";
    }
    out(json + "}\n");
}

int cmd_list(const Call &call) {
    const bool one = call.args.size() > 1;
    if (call.format == "sh" && !one)
        return usage_error("list --format sh needs a SECTION");
    const FileLock lock(call.file(), Use::read, false);
    require(lock);
    std::vector<Section> sections;
    const auto wanted = [&](std::string_view name) { return !one || call.args[1] == name; };
    if (wanted(wildcard))
        sections.push_back({std::string(wildcard), {}});
    bool current = !sections.empty();
    walk(lock.fd(), [&](const Line &line) {
        if (!line.header) {
            if (current)
                add_key_line(sections.back().keys, line.text);
            return true;
        }
        if (current && one)
            return false;
        current = line.section != nullptr && wanted(*line.section);
        if (current)
            sections.push_back({*line.section, {}});
        return true;
    });
    if (sections.empty())
        return exit_not_found;
    if (call.format == "json") {
        print_json(call, sections);
    } else {
        for (const Section &section : sections)
            for (const KeyLine &line : section.keys.lines)
                if (call.format == "lines")
                    out(section.name + "." + line.key + "=" + line.value + "\n");
                else if (!shell_name(line.key))
                    warn(call.file(),
                         "[" + section.name + "] " + line.key + ": not a shell name, left out");
                else if (environment_name(line.key))
                    warn(call.file(), "[" + section.name + "] " + line.key +
                                          ": an environment-style name, left out");
                else
                    out(line.key + "=" + shell_quoted(line.value) + "\n");
    }
    return exit_done;
}

// apply

struct FragmentLine {
    std::size_t number;
    std::string section;
    std::string key; // empty for an entry
    std::string text;
};

// Reads the fragment into edits, or reports its first line that would be
// rejected.
int read_fragment(std::string_view text, std::string_view name, std::vector<FragmentLine> &lines) {
    std::string section(wildcard);
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view raw = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = std::string(name) + ":" + std::to_string(number);
        const std::string_view line = trimmed(raw);
        Refusal refusal = Refusal::none;
        if (raw.find('\0') != std::string_view::npos)
            return fail(exit_usage, where, "the line holds a zero byte");
        if (is_blank_line(line))
            continue;
        if (is_header(line)) {
            if (!header_names(line, header_name(line)))
                return fail(exit_usage, where, "the header names no section");
            section = header_name(line);
        } else if (is_key_line(line)) {
            const std::string_view key = key_of(line);
            const std::string_view value = value_of(line);
            refusal = key_line(section, key, value).refusal;
            lines.push_back({number, section, std::string(key), std::string(value)});
        } else {
            refusal = entry_line(section, line).refusal;
            lines.push_back({number, section, "", std::string(line)});
        }
        if (refusal != Refusal::none)
            return fail(exit_usage, where, refusal_text(refusal));
    }
    return exit_done;
}

int cmd_apply(const Call &call) {
    const bool from_stdin = call.args.size() < 2 || call.args[1] == "-";
    const std::string name = from_stdin ? "standard input" : call.args[1];
    FILE *in = from_stdin ? stdin : std::fopen(call.arg(1), "rb");
    if (in == nullptr)
        return fail(exit_file, name, std::strerror(errno));
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        text.append(chunk, n);
    const bool read_failed = std::ferror(in) != 0;
    if (!from_stdin)
        std::fclose(in);
    if (read_failed)
        return fail(exit_file, name, "cannot be read");
    std::vector<FragmentLine> lines;
    if (const int status = read_fragment(text, name, lines); status != exit_done)
        return status;
    std::vector<Edit> edits;
    for (const FragmentLine &line : lines)
        edits.push_back(line.key.empty() ? add_edit(call, line.section, line.text)
                                         : set_edit(call, line.section, line.key, line.text));
    // A new section is written with its first line: both must fit.
    const auto vet = [&](int fd) {
        std::set<std::string> present{std::string(wildcard)};
        walk(fd, [&](const Line &line) {
            if (line.section != nullptr)
                present.insert(*line.section);
            return true;
        });
        for (const FragmentLine &line : lines) {
            const Written written = line.key.empty() ? entry_line(line.section, line.text)
                                                     : key_line(line.section, line.key, line.text);
            if (present.insert(line.section).second &&
                !text_at(line.section, written.text.line(), true, false).fits())
                return fail(exit_usage, name + ":" + std::to_string(line.number),
                            refusal_text(Refusal::too_long) + " with its new header");
        }
        return exit_done;
    };
    return edit(call, edits, vet);
}

const Command commands[] = {
    {"get", "FILE SECTION KEY", Use::read, true, "string long ulong bin", nullptr,
     "print the value of KEY in SECTION",
     "Prints the value of KEY in SECTION: the text after the first = of its\n"
     "key line, trimmed; quotes are kept unless --type string. With --type\n"
     "long, ulong or bin the value is read as a number (see Numbers) and\n"
     "printed in decimal; a value that is no such number is status 2.\n"
     "--default VALUE is printed when the key, the section or the file is\n"
     "missing.",
     cmd_get},
    {"set", "FILE SECTION KEY VALUE", Use::create, false, "string long ulong hex bin", nullptr,
     "write KEY=VALUE, creating file and section",
     "Writes the line KEY=VALUE: replaces the key line get reads, or adds the\n"
     "line at the end of SECTION, or appends the section; creates FILE if\n"
     "missing. --type string writes the value in double quotes; long, ulong,\n"
     "hex and bin read VALUE as a number (see Numbers) and write it in\n"
     "decimal, as 0x and upper-case digits, or as 32 binary digits.\n"
     "Rejected input (status 2) leaves the file untouched.",
     cmd_set},
    {"del", "FILE SECTION [KEY]", Use::edit, false, nullptr, nullptr,
     "delete a key line, or a whole section",
     "Deletes the key line get reads for KEY, or without KEY the whole\n"
     "section from its header up to the next header. Deleting what is not\n"
     "there succeeds.",
     cmd_del},
    {"keys", "FILE SECTION", Use::read, false, nullptr, "lines json", "print the keys of SECTION",
     "Prints each key of SECTION once, in file order: the keys get can read.\n"
     "Status 1 if the section is missing.",
     cmd_keys},
    {"sections", "FILE", Use::read, false, nullptr, "lines json", "print the section names",
     "Prints each section name once, in file order.", cmd_sections},
    {"list", "FILE [SECTION]", Use::read, false, nullptr, "lines sh json",
     "print the key lines of the file or of SECTION",
     "Prints the key lines of the file, or of SECTION, in file order: each\n"
     "key once, with the value get reads (see Output). Status 1 if SECTION\n"
     "is missing.",
     cmd_list},
    {"entries", "FILE SECTION", Use::read, false, nullptr, "lines json",
     "print the entries of SECTION",
     "Prints the entries of SECTION, trimmed, in file order; blank lines are\n"
     "left out. Status 1 if the section is missing.",
     cmd_entries},
    {"first", "FILE SECTION", Use::read, false, nullptr, nullptr,
     "print the first entry of SECTION",
     "Prints the first entry of SECTION (nothing when it is a blank line).", cmd_first},
    {"has", "FILE SECTION ENTRY", Use::read, false, nullptr, nullptr,
     "succeed if SECTION holds ENTRY",
     "Succeeds (status 0) if SECTION holds ENTRY, compared after trimming;\n"
     "status 1 if not.",
     cmd_has},
    {"next", "FILE SECTION ENTRY", Use::read, false, nullptr, nullptr,
     "print the entry after ENTRY", "Prints the entry after the first one equal to ENTRY.",
     cmd_next},
    {"prev", "FILE SECTION ENTRY", Use::read, false, nullptr, nullptr,
     "print the entry before ENTRY", "Prints the entry before the first one equal to ENTRY.",
     cmd_prev},
    {"add", "FILE SECTION ENTRY", Use::create, false, nullptr, nullptr,
     "append ENTRY unless it is there",
     "Adds ENTRY as the last line of SECTION unless an equal entry is there;\n"
     "appends the section and creates FILE if missing. A blank entry or one\n"
     "starting with [ is rejected (status 2).",
     cmd_add},
    {"remove", "FILE SECTION ENTRY", Use::edit, false, nullptr, nullptr,
     "remove the first line equal to ENTRY",
     "Removes the first line of SECTION equal to ENTRY (after trimming);\n"
     "succeeds if there is none.",
     cmd_remove},
    {"apply", "FILE [FRAGMENT]", Use::create, false, nullptr, nullptr,
     "bring FILE in line with an INI fragment",
     "Reads an INI fragment from FRAGMENT, or from standard input when it is\n"
     "- or absent, and brings FILE in line with it under one lock: each key\n"
     "line is set (KEY=VALUE, the value trimmed), each other non-blank line\n"
     "added as an entry of its section unless present. The whole fragment is\n"
     "checked first: if any line would be rejected, nothing is written\n"
     "(status 2, naming the line). A failure of the file part way (status 3)\n"
     "can leave the lines before it applied.",
     cmd_apply},
};

const Command *find_command(std::string_view name) {
    for (const Command &command : commands)
        if (name == command.name)
            return &command;
    return nullptr;
}

// Help, manual page and completion, all from the tables above.

std::string alternatives(const char *list) {
    std::string text = list;
    for (char &c : text)
        if (c == ' ')
            c = '|';
    return text;
}

std::string option_synopsis(const Command &command, const OptionInfo &option) {
    std::string text = std::string("--") + option.name;
    if (option.id == Opt::type)
        return text + " " + alternatives(command.types);
    if (option.id == Opt::format)
        return text + " " + alternatives(command.formats);
    return option.value != nullptr ? text + " " + option.value : text;
}

std::string synopsis(const Command &command) {
    std::string text = std::string("iniplace ") + command.name;
    for (const OptionInfo &option : option_table)
        if (takes(command, option.id))
            text += " [" + option_synopsis(command, option) + "]";
    return text + " " + command.operands;
}

std::string indented(std::string_view text, std::size_t width) {
    std::string result;
    const std::string margin(width, ' ');
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        result += margin + std::string(text.substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return result;
}

std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size() + 1, width), ' ');
    return text;
}

std::string option_help(const OptionInfo &option) {
    std::string name = std::string("--") + option.name;
    return padded(option.value != nullptr ? name + " " + option.value : name, 18) + option.help;
}

void print_usage(FILE *to) {
    std::string text = "usage: iniplace COMMAND [OPTIONS] FILE [ARGS...]\n\n" +
                       std::string(description) + "\n\nCommands:\n";
    for (const Command &command : commands)
        text += "  " + padded(std::string(command.name) + " " + command.operands, 30) +
                command.summary + "\n";
    text += "\nOptions (see 'iniplace COMMAND --help' for which a command takes):\n";
    for (const OptionInfo &option : option_table)
        text += "  " + option_help(option) + "\n";
    for (const auto &[name, help] : general_options)
        text += "  " + padded(name, 18) + indented(help, 20).substr(20);
    for (const auto &[title, body] : topics)
        text += "\n" + std::string(title) + ":\n" + indented(body, 2);
    if (to == stdout)
        out(text);
    else
        std::fputs(text.c_str(), to);
}

void print_command_help(const Command &command) {
    std::string text = "usage: " + synopsis(command) + "\n\n" + command.help + "\n";
    bool heading = false;
    for (const OptionInfo &option : option_table)
        if (takes(command, option.id)) {
            text += heading ? "" : "\nOptions:\n";
            heading = true;
            text += "  " + option_help(option) + "\n";
        }
    out(text);
}

// Text for roff: backslashes, minus signs and control characters at the
// start of a line escaped.
std::string roff(std::string_view text) {
    std::string escaped;
    bool line_start = true;
    for (const char c : text) {
        if (line_start && (c == '.' || c == '\''))
            escaped += "\\&";
        escaped += c == '\\'  ? std::string("\\e")
                   : c == '-' ? std::string("\\-")
                              : std::string(1, c);
        line_start = c == '\n';
    }
    return escaped;
}

void print_manual() {
    int major = 0, minor = 0, micro = 0;
    ini_version(&major, &minor, &micro);
    std::string text = ".TH INIPLACE 1 \"\" \"iniplace " + std::to_string(major) + "." +
                       std::to_string(minor) + "." + std::to_string(micro) +
                       "\" \"User Commands\"\n"
                       ".SH NAME\niniplace \\- read and edit INI files in place\n"
                       ".SH SYNOPSIS\n.B iniplace\n.I COMMAND\n[\\fIOPTIONS\\fR] \\fIFILE\\fR "
                       "[\\fIARGS\\fR...]\n.SH DESCRIPTION\n" +
                       roff(description) + "\n.SH COMMANDS\n";
    for (const Command &command : commands)
        text += ".TP\n.B " + roff(synopsis(command)) + "\n" + roff(command.help) + "\n";
    text += ".SH OPTIONS\n";
    for (const OptionInfo &option : option_table)
        text += ".TP\n.B " + roff(std::string("--") + option.name) +
                (option.value != nullptr ? std::string(" \\fI") + option.value + "\\fR" : "") +
                "\n" + roff(option.help) + "\n";
    for (const auto &[name, help] : general_options)
        text += ".TP\n.B " + roff(name) + "\n" + roff(help) + "\n";
    for (const auto &[title, body] : topics) {
        std::string heading = title;
        for (char &c : heading)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        text += ".SH \"" + heading + "\"\n" + roff(body) + "\n";
    }
    out(text);
}

// The bash completion: commands, options and their values from the tables;
// sections, keys and entries from the file named on the command line.
void print_completion() {
    std::string names;
    std::string cases;
    for (const Command &command : commands) {
        names += std::string(command.name) + " ";
        std::string operands;
        for (const char c : std::string_view(command.operands))
            if (c != '[' && c != ']')
                operands += c;
        std::string options;
        for (const OptionInfo &option : option_table)
            if (takes(command, option.id))
                options += std::string("--") + option.name + " ";
        cases += std::string("    ") + command.name + ") operands='" + operands + "' options='" +
                 options + "--help' types='" + (command.types ? command.types : "") +
                 "' formats='" + (command.formats ? command.formats : "") + "' ;;\n";
    }
    out(R"(# bash completion for iniplace, made by 'iniplace --completion'
_iniplace() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local operands options types formats
    if [[ $cur == = ]]; then cur=; elif [[ $prev == = ]]; then prev=${COMP_WORDS[COMP_CWORD-2]}; fi
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W ')" +
        names + R"(--help --version' -- "$cur")
        return
    fi
    case ${COMP_WORDS[1]} in
)" + cases +
        R"(    *) return ;;
    esac
    case $prev in
    --type) mapfile -t COMPREPLY < <(compgen -W "$types" -- "$cur"); return ;;
    --format) mapfile -t COMPREPLY < <(compgen -W "$formats" -- "$cur"); return ;;
    --default) return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options --" -- "$cur")
        return
    fi
    local -a given=() names=($operands)
    local word skip= ended= list=
    for word in "${COMP_WORDS[@]:2:COMP_CWORD-2}"; do
        if [[ ! $ended && $word == = ]]; then skip=1; continue; fi
        if [[ $skip ]]; then skip=; continue; fi
        if [[ ! $ended && $word == -- ]]; then ended=1; continue; fi
        if [[ ! $ended && $word == -* ]]; then
            case $word in --type|--default|--format) skip=1 ;; esac
            continue
        fi
        given+=("$word")
    done
    case ${names[${#given[@]}]} in
    FILE|FRAGMENT)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return ;;
    SECTION) list=$("${COMP_WORDS[0]}" sections -- "${given[0]}" 2>/dev/null) ;;
    KEY) list=$("${COMP_WORDS[0]}" keys -- "${given[0]}" "${given[1]}" 2>/dev/null) ;;
    ENTRY) list=$("${COMP_WORDS[0]}" entries -- "${given[0]}" "${given[1]}" 2>/dev/null) ;;
    esac
    mapfile -t COMPREPLY < <(IFS=$'\n'; compgen -W "$list" -- "$cur")
}
complete -F _iniplace iniplace
)");
}

// Options

// Reads the options and operands after the command; returns -1 to go on,
// or the exit status.
int read_options(Call &call, int argc, char **argv) {
    // Past the codes getopt gives operands (1) and its own characters.
    constexpr int first_option = 256;
    std::vector<option> long_options;
    for (const OptionInfo &info : option_table)
        long_options.push_back({info.name, info.value != nullptr ? required_argument : no_argument,
                                nullptr, first_option + static_cast<int>(info.id)});
    long_options.push_back({"help", no_argument, nullptr, 'h'});
    long_options.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    optind = 1;
    const Command &command = call.command;
    // "-" keeps options and operands in order wherever options stand, also
    // when POSIXLY_CORRECT asks getopt to stop at the first operand.
    call.args.clear();
    for (int c; (c = getopt_long(argc, argv, "-:h", long_options.data(), nullptr)) != -1;) {
        if (c == 1) {
            call.args.emplace_back(optarg);
            continue;
        }
        const std::string given = argv[optind - 1];
        if (c == 'h') {
            print_command_help(command);
            return exit_done;
        }
        if (c == '?')
            return usage_error(
                "unknown option '" +
                (optopt != 0 ? std::string("-") + static_cast<char>(optopt) : given) +
                "' (put -- before values that start with -)");
        if (c == ':')
            return usage_error(given + " needs a value");
        const OptionInfo &info = option_table[c - first_option];
        if (!takes(command, info.id))
            return usage_error(std::string(command.name) + " takes no --" + info.name);
        switch (info.id) {
        case Opt::type:
            call.type = optarg;
            if (!listed(command.types, call.type))
                return usage_error(std::string(command.name) + " takes no --type " + call.type);
            break;
        case Opt::format:
            call.format = optarg;
            if (!listed(command.formats, call.format))
                return usage_error(std::string(command.name) + " takes no --format " + call.format);
            break;
        case Opt::default_value:
            call.default_value = optarg;
            break;
        case Opt::verbose:
            call.verbose = true;
            break;
        case Opt::check:
            call.check = true;
            break;
        }
    }
    call.args.insert(call.args.end(), argv + optind, argv + argc);
    std::size_t required = 0, allowed = 0;
    for (std::string_view rest = command.operands; !rest.empty();) {
        ++allowed;
        required += rest[0] != '[';
        rest.remove_prefix(std::min(rest.find(' '), rest.size() - 1) + 1);
    }
    if (call.args.size() < required || call.args.size() > allowed)
        return usage_error("usage: " + synopsis(command));
    return -1;
}

// A closed descriptor 0, 1 or 2 would be taken by the next file opened,
// and messages meant for the terminal would land in the user's file. It
// is held by /dev/null opened the other way, so that reading a closed
// standard input or writing a closed standard output still fails (status
// 3) instead of reading nothing or losing the output.
bool standard_descriptors_open() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
            return false;
    return true;
}

int finish(int status) {
    if (std::fflush(stdout) != 0 && output_error == 0)
        output_error = errno;
    if (output_error != 0)
        return fail(exit_file, "standard output", std::strerror(output_error));
    return status;
}

} // namespace

int main(int argc, char **argv) {
    if (!standard_descriptors_open())
        return exit_file;
    const std::string_view first = argc > 1 ? argv[1] : "";
    if (argc < 2) {
        print_usage(stderr);
        return exit_usage;
    }
    if (first == "--help" || first == "-h" || first == "help") {
        const Command *topic = argc > 2 ? find_command(argv[2]) : nullptr;
        if (topic != nullptr)
            print_command_help(*topic);
        else
            print_usage(stdout);
        return finish(exit_done);
    }
    if (first == "--version") {
        int major = 0, minor = 0, micro = 0;
        ini_version(&major, &minor, &micro);
        out("iniplace " + std::to_string(major) + "." + std::to_string(minor) + "." +
            std::to_string(micro) + "\n");
        return finish(exit_done);
    }
    // Used by the build to make the manual page and the bash completion.
    if (first == "--manual" || first == "--completion") {
        first == "--manual" ? print_manual() : print_completion();
        return finish(exit_done);
    }
    const Command *command = find_command(first);
    if (command == nullptr)
        return usage_error("unknown command '" + std::string(first) + "'");
    Call call(*command);
    if (const int status = read_options(call, argc - 1, argv + 1); status >= 0)
        return finish(status);
    int status = exit_done;
    try {
        status = command->run(call);
    } catch (const FileError &error) {
        status = fail(exit_file, call.file(), error.what);
    }
    return finish(status);
}
