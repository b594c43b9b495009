// Typed values: a key's value read as a number, and numbers and quoted
// strings written as a value. Arguments are checked by the caller.
#pragma once

#include <string_view>

namespace iniplace {

// How a value's text is read as a number: decimal (never octal), then
// hexadecimal with or without 0x; or binary digits only, without prefix.
enum class Radix { decimal_then_hex, binary };

// Reads the value of `key` as a whole number in range. INI_EINVAL for an
// empty or unconvertible value; `number` is set only on INI_OK.
int get_number(const char *path, std::string_view section, std::string_view key, long &number);
int get_number(const char *path, std::string_view section, std::string_view key,
               unsigned long &number, Radix radix);

// Writes the value `"value"`; no escaping.
int set_quoted(const char *path, std::string_view section, std::string_view key,
               std::string_view value);
// Writes `number` in printf's `format` ("%ld", "%lu", "0x%lX").
int set_number(const char *path, std::string_view section, std::string_view key, const char *format,
               long number);
int set_number(const char *path, std::string_view section, std::string_view key, const char *format,
               unsigned long number);
// Writes bits 31 to 0 of `bits` as 32 binary digits.
int set_binary(const char *path, std::string_view section, std::string_view key,
               unsigned long bits);

} // namespace iniplace
