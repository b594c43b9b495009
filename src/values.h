// Typed values: a key's value read as a number, and a number or a quoted
// string written as a value. Arguments are checked by the caller.
#pragma once

#include "numbers.h"
#include "status.h"

namespace iniplace {

// Reads the value of `key` as a whole number in range:
// Outcome::not_a_number for an empty or unconvertible value; `number` is set only when done.
Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  long &number);
Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  unsigned long &number);

// Writes `value` (a number_text, binary_text or quoted_text): refused when
// it does not fit.
Status set_text(const char *path, std::string_view section, std::string_view key,
                const Text &value);

} // namespace iniplace
