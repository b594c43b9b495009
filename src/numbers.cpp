#include "numbers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace iniplace {

namespace {

long convert(const char *text, char **end, int base, long) {
    return std::strtol(text, end, base);
}

unsigned long convert(const char *text, char **end, int base, unsigned long) {
    return std::strtoul(text, end, base);
}

// The conversion must take the whole text and report no range error.
template <typename Number> bool convert_whole(const char *text, int base, Number &number) {
    char *end = nullptr;
    errno = 0;
    const Number converted = convert(text, &end, base, Number());
    if (errno != 0 || *end != '\0')
        return false;
    number = converted;
    return true;
}

// A number's text as strtol reads it: after white space and one sign,
// which `sign` gets ('\0' for none).
std::string_view digits_of(std::string_view text, char &sign) {
    text.remove_prefix(std::min(text.find_first_not_of(c_space), text.size()));
    sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? text[0] : '\0';
    return sign != '\0' ? after(text, 1) : text;
}

// Some C libraries accept 0b in base 2, after white space and a sign as
// strtol reads them; a binary value here has no prefix.
bool has_binary_prefix(std::string_view text) {
    char sign = '\0';
    const std::string_view digits = digits_of(text, sign);
    return digits.size() >= 2 && digits[0] == '0' && (digits[1] | 0x20) == 'b';
}

template <typename Number> bool parse(const char *text, Radix radix, Number &number) {
    if (text[0] == '\0')
        return false;
    if (radix == Radix::binary)
        return !has_binary_prefix(text) && convert_whole(text, 2, number);
    return convert_whole(text, 10, number) || convert_whole(text, 16, number);
}

// Decimal digits, or 0x and hexadecimal digits (after white space and a
// sign).
bool plain_digits(std::string_view text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] | 0x20) == 'x';
    const std::string_view digits = hex ? after(text, 2) : text;
    return !digits.empty() &&
           digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
               std::string_view::npos;
}

template <typename Number>
bool parse_given(const char *text, Radix radix, bool plain, Number &number) {
    char sign = '\0';
    const std::string_view digits = digits_of(text, sign);
    const bool wraps = sign == '-' && std::is_unsigned_v<Number>;
    const bool signs = !digits.empty() && (digits[0] == '-' || digits[0] == '+');
    return !wraps && !signs && !has_binary_prefix(digits) && !digits.empty() &&
           (!plain || plain_digits(digits)) && parse(text, radix, number);
}

template <typename Number> Text printed(const char *format, Number number) {
    char digits[64];
    std::snprintf(digits, sizeof digits, format, number);
    Text text;
    text << digits;
    return text;
}

} // namespace

bool parse_number(const char *text, Radix radix, long &number) {
    return parse(text, radix, number);
}

bool parse_number(const char *text, Radix radix, unsigned long &number) {
    return parse(text, radix, number);
}

bool parse_given_number(const char *text, Radix radix, bool plain, long &number) {
    return parse_given(text, radix, plain, number);
}

bool parse_given_number(const char *text, Radix radix, bool plain, unsigned long &number) {
    return parse_given(text, radix, plain, number);
}

Text number_text(long number) {
    return printed("%ld", number);
}

Text number_text(unsigned long number, Base base) {
    return printed(base == Base::hex ? "0x%lX" : "%lu", number);
}

Text binary_text(unsigned long bits) {
    constexpr int digits = binary_digits;
    char text[digits + 1];
    for (int bit = digits - 1; bit >= 0; --bit)
        text[digits - 1 - bit] = (bits >> bit) & 1UL ? '1' : '0';
    text[digits] = '\0';
    Text binary;
    binary << text;
    return binary;
}

Text quoted_text(std::string_view value) {
    Text quoted;
    quoted << "\"" << value << "\"";
    return quoted;
}

} // namespace iniplace
