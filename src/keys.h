// Key lookup, writing and deletion, and section deletion, on a file named
// by its path. Arguments are checked by the caller; statuses are INI_*.
#pragma once

#include <cstddef>
#include <string_view>

namespace iniplace {

// Copies the key's value into `dst` (`len` bytes, at least 1): cut to
// len - 1 bytes, zero-filled and terminated. `dst` is untouched unless the
// key was found.
int get_key(const char *path, std::string_view section, std::string_view key, char *dst,
            std::size_t len);
int set_key(const char *path, std::string_view section, std::string_view key,
            std::string_view value);
int delete_key(const char *path, std::string_view section, std::string_view key);
int delete_section(const char *path, std::string_view section);

} // namespace iniplace
