// get, set and del: a key's value read, written or deleted, and a section
// deleted.
#include "driver.h"
#include "files.h"
#include "output.h"
#include "refusals.h"
#include "values.h"

namespace tool {

namespace {

std::string where(const Call &call) {
    return setting_name(call.section(), call.name());
}

// The key lines get prints: the last, or with --all every one (systemd: its
// list, from after the last empty value, which resets it).
std::vector<const Line *> printed_lines(const Call &call, const Document &document,
                                        std::vector<const Line *> lines) {
    if (!call.all && !lines.empty())
        lines = {Document::line_read(lines)};
    if (call.all && document.dialect() == Dialect::systemd)
        for (std::size_t i = lines.size(); i > 0; --i)
            if (document.value_of(*lines[i - 1]).empty()) {
                lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
    return lines;
}

int run_get(const Call &call) {
    // A key the dialect refuses to write cannot be read either.
    if (const std::optional<std::string> why = refuse_key(call.dialect(), call.name()))
        fail(exit_usage, call.file(), where(call) + ": " + *why);
    std::string printed, text;
    if (call.default_value && !printed_value(call, *call.default_value, true, printed))
        fail(exit_usage, call.file(), *call.default_value + " is not a " + type_word(call.type));
    const bool found = read_file(call, text, call.default_value.has_value());
    const Document document(std::move(text), call.dialect());
    std::vector<const Line *> lines;
    if (found)
        lines = document.key_lines(document.sections_named(call.section(), call.ignore_case),
                                   call.name(), call.ignore_case);
    if (lines.empty() && !call.default_value)
        return exit_not_found;
    if (lines.empty())
        out(printed + "\n");
    for (const Line *line : printed_lines(call, document, lines)) {
        const std::string value = document.value_of(*line);
        const std::string at = call.file() + ":" + std::to_string(line->number);
        if (value.find('\0') != std::string::npos)
            fail(exit_usage, at, where(call) + ": the value holds a zero byte");
        if (!printed_value(call, value, false, printed))
            fail(exit_usage, at, where(call) + ": the value is not a " + type_word(call.type));
        out(printed + "\n");
    }
    return exit_done;
}

int run_set(const Call &call) {
    return edit(call, Creates::yes,
                {{Intent::Kind::set, call.section(), call.name(), typed_value(call), call.all}});
}

int run_del(const Call &call) {
    if (!call.has_name()) {
        if (call.section() == preamble)
            fail(exit_usage, call.file(),
                 "del needs a section name, not *: delete the preamble's keys one by one");
        return edit(call, Creates::no, {{Intent::Kind::remove_section, call.section()}});
    }
    return edit(call, Creates::no,
                {{Intent::Kind::remove_key, call.section(), call.name(), "", call.all}});
}

} // namespace

const Command get_command = {
    "get",
    "FILE SECTION KEY",
    bit(Opt::default_value) | bit(Opt::all) | bit(Opt::ignore_case),
    type_bit(Type::string) | type_bit(Type::long_number) | type_bit(Type::ulong_number) |
        type_bit(Type::bin),
    0,
    "print the value of KEY in SECTION",
    "Prints the value of KEY in SECTION as the file's dialect reads it (see\n"
    "Dialects): the text after its separator, trimmed, with the lines that go\n"
    "on it, whole however long; quotes are kept unless --type string (git\n"
    "removes them). Of a key on several lines of the section (in all its\n"
    "parts), the last; --all prints every one (systemd: from after the last\n"
    "empty value). With --type long, ulong or bin the value is read as a\n"
    "number (see Numbers) and printed in decimal; a value that is no such\n"
    "number is status 2. --default VALUE is printed when the key, the section\n"
    "or the file is missing. FILE - reads standard input.",
    run_get};

const Command set_command = {
    "set",
    "FILE SECTION KEY VALUE",
    bit(Opt::all) | edit_options,
    type_bit(Type::string) | type_bit(Type::long_number) | type_bit(Type::ulong_number) |
        type_bit(Type::hex) | type_bit(Type::bin),
    0,
    "set KEY to VALUE, making the section and the file",
    "Sets KEY in SECTION to VALUE (blanks around it removed): only the bytes\n"
    "of the value change, all its lines, and a comment after it stays.\n"
    "Without such a line it adds one, in the layout of the section's key\n"
    "lines, after the last line of its last value; without the section it\n"
    "appends one; without the file it makes one. A key on several lines is\n"
    "refused (status 2, naming them) unless --all, which sets every one.\n"
    "Nothing is written when get reads VALUE already. A VALUE with line feeds\n"
    "is written as the dialect reads it back (see Editing), or refused.\n"
    "--type string writes the value in double quotes; long, ulong, hex and\n"
    "bin read VALUE as a number (see Numbers) and write it in decimal, as 0x\n"
    "and upper-case digits, or as 32 binary digits.",
    run_set};

const Command del_command = {
    "del",
    "FILE SECTION [KEY]",
    bit(Opt::all) | edit_options,
    0,
    0,
    "delete a key line, or a whole section",
    "Deletes the key line of KEY in SECTION with the lines of its value (a\n"
    "key on several lines is refused unless --all, which deletes every one),\n"
    "or without KEY the whole section, every part of it: each header, its\n"
    "lines and the blank lines after them, keeping the comment lines right\n"
    "above the next header and file-wide directives. Deleting what is not\n"
    "there, from a missing file too, succeeds.",
    run_del};

} // namespace tool
