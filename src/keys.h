// Key lookup, typed values, and writing and deleting key lines, on a file
// named by its path. Arguments are checked by the caller.
#pragma once

#include "numbers.h"

#include <cstddef>
#include <string_view>

namespace iniplace {

// Copies the key's value into `dst` (`len` bytes, at least 1): cut to
// len - 1 bytes, zero-filled and terminated. `dst` is untouched unless the
// key was found.
Status get_key(const char *path, std::string_view section, std::string_view key, char *dst,
               std::size_t len);
// Reads the value of `key` as a whole number in range: Outcome::not_a_number
// for an empty or unconvertible value; `number` is set only when done.
Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  long &number);
Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  unsigned long &number);

Status set_key(const char *path, std::string_view section, std::string_view key,
               std::string_view value);
// Writes a typed value (a number_text, binary_text or quoted_text):
// refused when it does not fit.
Status set_key(const char *path, std::string_view section, std::string_view key, const Text &value);
Status delete_key(const char *path, std::string_view section, std::string_view key);

} // namespace iniplace
