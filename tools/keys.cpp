// get, set and del: a key's value read, written or deleted.
#include "edits.h"
#include "locked_file.h"
#include "numbers.h"
#include "output.h"
#include "reading.h"

#include <algorithm>
#include <type_traits>

namespace tool {

using namespace iniplace;

namespace {

std::string section_key(const Call &call) {
    return "[" + call.args[1] + "] " + call.args[2];
}

[[noreturn]] void refuse(const Call &call, Refusal refusal) {
    fail(exit_usage, call.file(), section_key(call) + ": " + describe(refused(refusal)));
}

void check_key_operand(const Call &call) {
    if (const Refusal refusal = check_key(call.args[2]); refusal != Refusal::none)
        refuse(call, refusal);
}

// Reads a number given on the command line by the rule the library reads
// the file's values with, and refuses two texts that rule would take
// otherwise than a user means them: a minus sign for unsigned types, which
// it wraps around, and a leading 0b, which it takes for hexadecimal digits.
template <typename Number> bool read_number(std::string_view text, Radix radix, Number &number) {
    std::string_view digits = text;
    digits.remove_prefix(std::min(digits.find_first_not_of(" \t\n\v\f\r"), digits.size()));
    const bool minus = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
        digits.remove_prefix(1);
    if ((minus && std::is_unsigned_v<Number>) || digits.empty() || digits[0] == '-' ||
        digits[0] == '+' || (digits.size() >= 2 && digits[0] == '0' && (digits[1] | 0x20) == 'b'))
        return false;
    return parse_number(std::string(text).c_str(), radix, number);
}

// A value as get prints it for the --type: `given` on the command line
// (--default) or read from the file. False for a value that is no number
// of the type.
template <typename Number>
bool typed_number(const Call &call, const std::string &value, bool given, std::string &printed) {
    const Radix radix = call.type == "bin" ? Radix::binary : Radix::decimal_then_hex;
    Number number = 0;
    if (!(given ? read_number(value, radix, number) : parse_number(value.c_str(), radix, number)))
        return false;
    printed = std::to_string(number);
    return true;
}

bool typed_value(const Call &call, const std::string &value, bool given, std::string &printed) {
    if (call.type == "long")
        return typed_number<long>(call, value, given, printed);
    if (call.type == "ulong" || call.type == "bin")
        return typed_number<unsigned long>(call, value, given, printed);
    std::string_view text = value;
    // --type string: one pair of enclosing double quotes goes.
    if (call.type == "string" && !given && text.size() > 1 && text.front() == '"' &&
        text.back() == '"')
        text = text.substr(1, text.size() - 2);
    printed = text;
    return true;
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

} // namespace

int cmd_get(const Call &call) {
    check_key_operand(call);
    std::string printed;
    if (call.default_value && !typed_value(call, *call.default_value, true, printed))
        fail(exit_usage, call.file(), *call.default_value + " is not a " + call.type);
    LockedFile locked;
    std::vector<std::string> values;
    if (open_for_reading(locked, call.file(), call.default_value.has_value())) {
        Reader reader(locked.file(), call.file());
        values = key_values(reader, call.args[1], call.args[2], call.all);
    }
    if (values.empty() && !call.default_value)
        return exit_not_found;
    if (values.empty())
        out(printed + "\n");
    for (const std::string &value : values) {
        if (!typed_value(call, value, false, printed))
            fail(exit_usage, call.file(), section_key(call) + ": the value is not a " + call.type);
        out(printed + "\n");
    }
    return exit_done;
}

int cmd_set(const Call &call) {
    std::string text;
    if (call.type == "string" && !quoted_text(call.args[3]).fits())
        refuse(call, Refusal::too_long);
    if (!value_text(call, text))
        fail(exit_usage, call.file(), call.args[3] + " is not a " + call.type);
    if (const Refusal refusal = key_line(call.args[1], call.args[2], text).refusal;
        refusal != Refusal::none)
        refuse(call, refusal);
    return make_edits(call, {{set_plan(call.file(), call.args[1], call.args[2], text)}});
}

int cmd_del(const Call &call) {
    const std::string &section = call.args[1];
    if (call.args.size() == 2) {
        if (is_wildcard(section))
            fail(exit_usage, call.file(),
                 "del needs a section name, not *: delete the preamble's keys one by one");
        return make_edits(call, {{section_removal_plan(section), call.all}});
    }
    check_key_operand(call);
    return make_edits(call, {{key_removal_plan(call.file(), section, call.args[2]), call.all}});
}

} // namespace tool
