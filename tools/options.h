// The options: their table, the names of --type and --format values, and
// the reading of the command line into what to do.
#pragma once

#include "tool.h"

namespace tool {

struct OptionInfo {
    Opt id;
    const char *name;
    const char *value; // what the option takes; null for a flag
    const char *help;
};

struct OptionTable {
    const OptionInfo *first, *last;
    const OptionInfo *begin() const { return first; }
    const OptionInfo *end() const { return last; }
};
OptionTable option_table();
bool takes(const Command &command, Opt id);

constexpr unsigned type_bit(Type type) {
    return 1u << static_cast<unsigned>(type);
}
constexpr unsigned format_bit(Format format) {
    return 1u << static_cast<unsigned>(format);
}
// The type a --type value names, if any.
std::optional<Type> type_named(std::string_view name);
// The names of the --type or --format values in `bits`, separated by `joint`.
std::string type_names(unsigned bits, const char *joint = " ");
std::string format_names(unsigned bits, const char *joint = " ");

// What the command line asks for.
enum class Action { run, usage, help, version, manual, completion };

struct Request {
    Action action = Action::run;
    Call call;
};

// Reads the words after the program's name: options anywhere, before the
// command too; -- ends them, and - or a word of - and a digit is an operand.
Request read_command_line(const std::vector<std::string> &words);

} // namespace tool
