// get, set and del: a key's value read, written or deleted, and a section
// deleted.
#include "files.h"
#include "numbers.h"
#include "options.h"
#include "output.h"
#include "text.h"

namespace tool {

using namespace iniplace;

namespace {

std::string where(const Call &call) {
    return "[" + call.section() + "] " + call.name();
}

void refuse_if(const Call &call, const std::optional<std::string> &refusal) {
    if (refusal)
        fail(exit_usage, call.file(),
             (call.has_name() ? where(call) : "[" + call.section() + "]") + ": " + *refusal);
}

std::string type_word(Type type) {
    return type_names(type_bit(type));
}

// A number as get prints it: read from the file by the library's rule, or
// given by a person (--default) by the stricter one.
template <typename Number>
bool printed_number(const Call &call, const std::string &value, bool given, std::string &printed) {
    const Radix radix = call.type == Type::bin ? Radix::binary : Radix::decimal_then_hex;
    Number number = 0;
    if (!(given ? parse_given_number(value.c_str(), radix, number)
                : parse_number(value.c_str(), radix, number)))
        return false;
    printed = std::to_string(number);
    return true;
}

// A value as get prints it for the --type; false for no number of the type.
bool printed_value(const Call &call, const std::string &value, bool given, std::string &printed) {
    switch (call.type) {
    case Type::long_number:
        return printed_number<long>(call, value, given, printed);
    case Type::ulong_number:
    case Type::bin:
        return printed_number<unsigned long>(call, value, given, printed);
    case Type::string:
        printed = given ? value : std::string(unquoted(value));
        return true;
    default:
        printed = value;
        return true;
    }
}

} // namespace

bool written_value(const Call &call, std::string &text) {
    const char *const value = call.value().c_str();
    const Radix radix = call.type == Type::bin ? Radix::binary : Radix::decimal_then_hex;
    constexpr unsigned long bin_max = 0xFFFFFFFFul;
    long signed_number = 0;
    unsigned long number = 0;
    Text typed;
    switch (call.type) {
    case Type::string:
        typed = quoted_text(call.value());
        break;
    case Type::long_number:
        if (!parse_given_number(value, radix, signed_number))
            return false;
        typed = number_text(signed_number);
        break;
    case Type::ulong_number:
    case Type::hex:
        if (!parse_given_number(value, radix, number))
            return false;
        typed = number_text(number, call.type == Type::hex ? Base::hex : Base::decimal);
        break;
    case Type::bin:
        if (!parse_given_number(value, radix, number) || number > bin_max)
            return false;
        typed = binary_text(number);
        break;
    default:
        text = std::string(trim(call.value()));
        return true;
    }
    text = std::string(typed.line());
    return typed.fits();
}

namespace {

int run_get(const Call &call) {
    refuse_if(call, refuse_key(call.name()));
    std::string printed, text;
    if (call.default_value && !printed_value(call, *call.default_value, true, printed))
        fail(exit_usage, call.file(), *call.default_value + " is not a " + type_word(call.type));
    const bool found = read_file(call, text, call.default_value.has_value());
    const Document document(std::move(text));
    std::vector<const Line *> lines;
    if (found)
        lines = document.key_lines(document.sections_named({call.section(), call.ignore_case}),
                                   {call.name(), call.ignore_case});
    if (lines.empty() && !call.default_value)
        return exit_not_found;
    if (lines.empty())
        out(printed + "\n");
    if (!call.all && lines.size() > 1)
        lines.erase(lines.begin(), lines.end() - 1);
    for (const Line *line : lines) {
        const std::string value(document.value_of(*line));
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
    refuse_if(call, refuse_section(call.section()));
    refuse_if(call, refuse_key(call.name()));
    std::string text;
    if (!written_value(call, text))
        fail(exit_usage, call.file(),
             call.type == Type::string ? where(call) + ": the value is too long"
                                       : call.value() + " is not a " + type_word(call.type));
    refuse_if(call, refuse_value(text));
    return edit(call, Creates::yes,
                [&](Plan &plan) { plan.set(call.section(), call.name(), text, call.all); });
}

int run_del(const Call &call) {
    if (!call.has_name()) {
        if (call.section() == preamble)
            fail(exit_usage, call.file(),
                 "del needs a section name, not *: delete the preamble's keys one by one");
        return edit(call, Creates::no, [&](Plan &plan) { plan.remove_section(call.section()); });
    }
    refuse_if(call, refuse_key(call.name()));
    return edit(call, Creates::no,
                [&](Plan &plan) { plan.remove_key(call.section(), call.name(), call.all); });
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
    "Prints the value of KEY in SECTION: the text after the first = of its\n"
    "key line, trimmed, whole however long the line; quotes are kept unless\n"
    "--type string. Of a key on several lines of the section (in all its\n"
    "parts), the last; --all prints every one. With --type long, ulong or bin\n"
    "the value is read as a number (see Numbers) and printed in decimal; a\n"
    "value that is no such number is status 2. --default VALUE is printed\n"
    "when the key, the section or the file is missing. FILE - reads standard\n"
    "input.",
    run_get};

const Command set_command = {
    "set",
    "FILE SECTION KEY VALUE",
    bit(Opt::all) | edit_options,
    type_bit(Type::string) | type_bit(Type::long_number) | type_bit(Type::ulong_number) |
        type_bit(Type::hex) | type_bit(Type::bin),
    0,
    "set KEY to VALUE, making the section and the file",
    "Sets KEY in SECTION to VALUE (blanks around it removed): only the value's\n"
    "bytes of the key line change. Without such a line it adds one, in the\n"
    "layout of the section's last key line, after its last line that is\n"
    "neither blank nor a comment; without the section it appends one; without\n"
    "the file it makes one. A key on several lines is refused (status 2,\n"
    "naming them) unless --all, which sets every one. Nothing is written when\n"
    "get reads VALUE already. --type string writes the value in double quotes;\n"
    "long, ulong, hex and bin read VALUE as a number (see Numbers) and write\n"
    "it in decimal, as 0x and upper-case digits, or as 32 binary digits.",
    run_set};

const Command del_command = {
    "del",
    "FILE SECTION [KEY]",
    bit(Opt::all) | edit_options,
    0,
    0,
    "delete a key line, or a whole section",
    "Deletes the key line of KEY in SECTION (a key on several lines is\n"
    "refused unless --all, which deletes every one), or without KEY the whole\n"
    "section, every part of it: each header, its lines and the blank lines\n"
    "after them, keeping the comment lines right above the next header.\n"
    "Deleting what is not there, from a missing file too, succeeds.",
    run_del};

} // namespace tool
