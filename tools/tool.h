// The iniplace tool's shared parts: the exit statuses, a command and a call
// of one, the options parsed into their values, and the one way a command
// fails. Each group of commands has its own file, with each command's
// usage and help next to its code; main.cpp lists them in the one command
// table behind --help, the manual page and the completion.
#pragma once

#include "dialect.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

constexpr bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}
constexpr bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

constexpr int exit_done = 0;
constexpr int exit_not_found = 1;
constexpr int exit_usage = 2;
constexpr int exit_file = 3;

// The options. Which a command takes is a set of these bits.
enum class Opt : unsigned {
    type,
    default_value,
    format,
    prefix,
    all,
    ignore_case,
    verbose,
    check,
    diff,
    dialect,
};

constexpr unsigned bit(Opt id) {
    return 1u << static_cast<unsigned>(id);
}
// The options every edit takes.
constexpr unsigned edit_options =
    bit(Opt::ignore_case) | bit(Opt::verbose) | bit(Opt::check) | bit(Opt::diff);

// How a value is read or written (--type), and how a listing is printed
// (--format).
enum class Type { text, string, long_number, ulong_number, hex, bin };
enum class Format { lines, sh, json };

struct Call;

struct Command {
    const char *name;
    const char *operands; // optional ones in brackets
    unsigned options;     // the Opt bits it takes
    unsigned types;       // the Type bits --type takes (1 << Type)
    unsigned formats;     // the Format bits --format takes
    const char *summary;
    const char *help;
    int (*run)(const Call &);
};

// The commands, in the order --help lists them.
struct CommandTable {
    const Command *const *first;
    const Command *const *last;
    const Command *const *begin() const { return first; }
    const Command *const *end() const { return last; }
};
CommandTable command_table();
const Command *find_command(std::string_view name);

// The commands, by group: keys.cpp, list.cpp, entries.cpp, apply.cpp.
extern const Command get_command, set_command, del_command;
extern const Command keys_command, sections_command, list_command;
extern const Command entries_command, first_command, has_command, next_command, prev_command,
    add_command, remove_command;
extern const Command apply_command;

struct Call {
    const Command *command = nullptr;
    std::vector<std::string> operands; // FILE first
    Type type = Type::text;
    Format format = Format::lines;
    std::string prefix;
    std::optional<std::string> default_value;
    bool all = false;
    bool ignore_case = false;
    bool verbose = false;
    bool check = false;
    bool diff = false;
    std::optional<Dialect> given_dialect; // --dialect

    const std::string &file() const { return operands[0]; }
    // The dialect FILE is read in: --dialect, else by its name.
    Dialect dialect() const { return given_dialect ? *given_dialect : dialect_of(file()); }
    const std::string &section() const { return operands[1]; }
    // The operand after SECTION (KEY or ENTRY), or none.
    const std::string &name() const { return operands[2]; }
    bool has_name() const { return operands.size() > 2; }
    const std::string &value() const { return operands[3]; }
};

// A command that cannot go on: its exit status and the one line that says
// why, naming the file (none for a usage error). Thrown up to main, which
// prints it.
struct Failure {
    int status;
    std::string file;
    std::string message;
};

[[noreturn]] void fail(int status, std::string_view file, std::string_view message);
// How messages name a section, and a key of it: [net], [net] port.
inline std::string setting_name(std::string_view section) {
    return "[" + std::string(section) + "]";
}
inline std::string setting_name(std::string_view section, std::string_view key) {
    return setting_name(section) + " " + std::string(key);
}
[[noreturn]] void usage_error(std::string_view message);
// Inside a catch block: what the exception caught means, a Failure as it
// is, anything else (no memory) status 3 in its own words.
Failure caught_failure();
// A line on standard error that does not end the command.
void warn(std::string_view file, std::string_view message);

// Whether standard input was closed when the tool started (a descriptor
// of /dev/null holds its place).
bool input_closed();

} // namespace tool
