// The iniplace tool's shared parts: the exit statuses, the commands and a
// call of one, and the one way a command fails. Each group of commands has
// its own file; main.cpp holds the command table that --help, the manual
// page and the completion are made from.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

constexpr int exit_done = 0;
constexpr int exit_not_found = 1;
constexpr int exit_usage = 2;
constexpr int exit_file = 3;

// What a command does with its file, and so which lock it takes.
enum class Use { read, edit, create };

// The options of the commands. type, format, verbose and check follow from
// a command's other fields; the rest a command lists in `extras`.
enum class Opt { type, default_value, format, prefix, all, verbose, check };

constexpr unsigned bit(Opt id) {
    return 1u << static_cast<unsigned>(id);
}

struct Call;

struct Command {
    const char *name;
    const char *operands; // optional ones in brackets
    Use use;
    unsigned extras;     // bits of the options default, prefix and all
    const char *types;   // accepted --type values, space separated; null: none
    const char *formats; // accepted --format values; null: none
    const char *summary;
    const char *help;
    int (*run)(const Call &);
};

struct OptionInfo {
    Opt id;
    const char *name;
    const char *value; // what the option takes; null for a flag
    const char *help;
};

// A table of the tool: its entries in order.
template <typename Entry> struct Table {
    const Entry *first;
    const Entry *last;
    const Entry *begin() const { return first; }
    const Entry *end() const { return last; }
};

Table<Command> command_table();
Table<OptionInfo> option_table();
bool takes(const Command &command, Opt id);

struct Call {
    explicit Call(const Command &to_run) : command(to_run) {}

    const Command &command;
    std::vector<std::string> args; // FILE first
    std::string type;
    std::string format = "lines";
    std::string prefix;
    std::optional<std::string> default_value;
    bool all = false;
    bool verbose = false;
    bool check = false;

    const std::string &file() const { return args[0]; }
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
[[noreturn]] void usage_error(std::string_view message);
// A line on standard error that does not end the command.
void warn(std::string_view file, std::string_view message);

// Whether standard input was closed when the tool started (a descriptor
// of /dev/null holds its place).
bool input_closed();

// Reads the options and operands after the command name.
// False when it printed the help of the command (-h, --help).
bool read_options(Call &call, const std::vector<std::string> &words);

// The commands, by group: keys.cpp, entries.cpp, list.cpp, apply.cpp.
int cmd_get(const Call &call);
int cmd_set(const Call &call);
int cmd_del(const Call &call);
int cmd_keys(const Call &call);
int cmd_sections(const Call &call);
int cmd_list(const Call &call);
int cmd_entries(const Call &call);
int cmd_first(const Call &call);
int cmd_has(const Call &call);
int cmd_next(const Call &call);
int cmd_prev(const Call &call);
int cmd_add(const Call &call);
int cmd_remove(const Call &call);
int cmd_apply(const Call &call);

// help.cpp: the texts made from the tables.
void print_usage(bool to_stdout);
void print_command_help(const Command &command);
void print_manual();
void print_completion();
std::string synopsis(const Command &command);

} // namespace tool
