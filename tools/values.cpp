#include "values.h"

#include "numbers.h"
#include "options.h"
#include "text.h"

namespace tool {

using namespace iniplace;

namespace {

Radix radix_of(Type type) {
    return type == Type::bin ? Radix::binary : Radix::decimal_then_hex;
}

// A number a person gives (set's VALUE, --default), as
// parse_given_number() reads it: a long or ulong plain (decimal, or 0x and
// hexadecimal digits); hex and bin by the file's rule.
template <typename Number> bool given_number(Type type, const char *text, Number &number) {
    const bool plain = type == Type::long_number || type == Type::ulong_number;
    return parse_given_number(text, radix_of(type), plain, number);
}

// A number as get prints it: read from the file by the library's rule, or
// given by a person (--default) by the stricter one.
template <typename Number>
bool printed_number(const Call &call, const std::string &value, bool given, std::string &printed) {
    Number number = 0;
    if (!(given ? given_number(call.type, value.c_str(), number)
                : parse_number(value.c_str(), radix_of(call.type), number)))
        return false;
    printed = std::to_string(number);
    return true;
}

// The text set writes for a number or a quoted string, or none.
std::optional<Text> typed_text(const Call &call) {
    const char *const value = call.value().c_str();
    long signed_number = 0;
    unsigned long number = 0;
    switch (call.type) {
    case Type::string:
        return quoted_text(call.value());
    case Type::long_number:
        if (!given_number(call.type, value, signed_number))
            return std::nullopt;
        return number_text(signed_number);
    case Type::ulong_number:
    case Type::hex:
        if (!given_number(call.type, value, number))
            return std::nullopt;
        return number_text(number, call.type == Type::hex ? Base::hex : Base::decimal);
    case Type::bin:
        if (!given_number(call.type, value, number) || number > binary_max)
            return std::nullopt;
        return binary_text(number);
    default:
        return std::nullopt;
    }
}

} // namespace

std::string type_word(Type type) {
    return type_names(type_bit(type));
}

std::string typed_value(const Call &call) {
    if (call.type == Type::text)
        return std::string(trim(call.value()));
    const std::optional<Text> typed = typed_text(call);
    if (!typed)
        fail(exit_usage, call.file(), call.value() + " is not a " + type_word(call.type));
    if (!typed->fits())
        fail(exit_usage, call.file(),
             setting_name(call.section(), call.name()) + ": the value is too long");
    return std::string(typed->line());
}

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

} // namespace tool
