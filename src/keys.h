// Key lookup, writing and deletion, and section deletion, on a file named
// by its path. Arguments are checked by the caller.
#pragma once

#include "status.h"

#include <cstddef>
#include <string_view>

namespace iniplace {

// Copies the key's value into `dst` (`len` bytes, at least 1): cut to
// len - 1 bytes, zero-filled and terminated. `dst` is untouched unless the
// key was found.
Status get_key(const char *path, std::string_view section, std::string_view key, char *dst,
               std::size_t len);
Status set_key(const char *path, std::string_view section, std::string_view key,
               std::string_view value);
Status delete_key(const char *path, std::string_view section, std::string_view key);
Status delete_section(const char *path, std::string_view section);

} // namespace iniplace
