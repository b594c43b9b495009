// What the tool refuses to write in each dialect, and why: a section, key,
// value or entry that the dialect would not read back as given.
#pragma once

#include "dialect.h"

namespace tool {

// What the tool refuses to write in `dialect`, and why, or nothing: a
// section, key, value (on lines of their own where the dialect has them)
// or entry that would not read back as given.
std::optional<std::string> refuse_section(Dialect dialect, std::string_view section);
std::optional<std::string> refuse_key(Dialect dialect, std::string_view key);
std::optional<std::string> refuse_value(Dialect dialect, std::string_view value);
std::optional<std::string> refuse_entry(Dialect dialect, std::string_view entry);

} // namespace tool
