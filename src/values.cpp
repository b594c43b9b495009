#include "values.h"

#include "format.h"
#include "iniplace.h"
#include "keys.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace iniplace {

namespace {

template <typename Number> Number convert(const char *text, char **end, int base);

template <> long convert<long>(const char *text, char **end, int base) {
    return std::strtol(text, end, base);
}

template <> unsigned long convert<unsigned long>(const char *text, char **end, int base) {
    return std::strtoul(text, end, base);
}

// The conversion must take the whole text and report no range error.
template <typename Number> bool convert_whole(const char *text, int base, Number &number) {
    char *end = nullptr;
    errno = 0;
    const Number converted = convert<Number>(text, &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    number = converted;
    return true;
}

// Some C libraries accept 0b in base 2; a binary value here has no prefix.
bool has_binary_prefix(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        text.remove_prefix(1);
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B');
}

template <typename Number>
int read_number(const char *path, std::string_view section, std::string_view key, Number &number,
                Radix radix) {
    char value[line_size];
    if (const int status = get_key(path, section, key, value, sizeof value); status != INI_OK)
        return status;
    if (value[0] == '\0')
        return INI_EINVAL;
    if (radix == Radix::binary)
        return !has_binary_prefix(value) && convert_whole(value, 2, number) ? INI_OK : INI_EINVAL;
    return convert_whole(value, 10, number) || convert_whole(value, 16, number) ? INI_OK
                                                                                : INI_EINVAL;
}

template <typename Number>
int write_number(const char *path, std::string_view section, std::string_view key,
                 const char *format, Number number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return set_key(path, section, key, text);
}

} // namespace

int get_number(const char *path, std::string_view section, std::string_view key, long &number) {
    return read_number(path, section, key, number, Radix::decimal_then_hex);
}

int get_number(const char *path, std::string_view section, std::string_view key,
               unsigned long &number, Radix radix) {
    return read_number(path, section, key, number, radix);
}

int set_quoted(const char *path, std::string_view section, std::string_view key,
               std::string_view value) {
    Text quoted;
    quoted << "\"" << value << "\"";
    return quoted.fits() ? set_key(path, section, key, quoted.line()) : INI_EINVAL;
}

int set_number(const char *path, std::string_view section, std::string_view key, const char *format,
               long number) {
    return write_number(path, section, key, format, number);
}

int set_number(const char *path, std::string_view section, std::string_view key, const char *format,
               unsigned long number) {
    return write_number(path, section, key, format, number);
}

int set_binary(const char *path, std::string_view section, std::string_view key,
               unsigned long bits) {
    constexpr int digits = 32;
    char text[digits + 1];
    for (int bit = digits - 1; bit >= 0; --bit)
        text[digits - 1 - bit] = (bits >> bit) & 1UL ? '1' : '0';
    text[digits] = '\0';
    return set_key(path, section, key, text);
}

} // namespace iniplace
