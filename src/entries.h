// Sections as ordered lists of entries: lookup by mode, adding an entry
// unless it is there, removing one. Arguments are checked by the caller;
// statuses are INI_*.
#pragma once

#include <cstddef>
#include <string_view>

namespace iniplace {

// Copies the entry `mode` selects (INI_ENTRY_*, relative to the entry
// equal to `wanted`, already trimmed) into `dst` (`len` bytes, at least 1),
// cut to len - 1 bytes and terminated; `dst` is empty on any other status.
int get_entry(const char *path, std::string_view section, std::string_view wanted, int mode,
              char *dst, std::size_t len);
int add_entry(const char *path, std::string_view section, std::string_view entry);
int remove_entry(const char *path, std::string_view section, std::string_view entry);

} // namespace iniplace
