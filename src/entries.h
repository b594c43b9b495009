// Sections as ordered lists of entries: lookup by mode, adding an entry
// unless it is there, removing one. Arguments are checked by the caller.
#pragma once

#include "status.h"

#include <cstddef>
#include <string_view>

namespace iniplace {

// Which entry a lookup selects, relative to the first entry equal to the
// reference: the first entry of the section, that entry, the one after
// it, the one before it; or none at all.
enum class Select { first, match, next, previous, nothing };

// Copies the entry `select` picks (`wanted` is the reference, already
// trimmed) into `dst` (`len` bytes, at least 1), cut to len - 1 bytes and
// terminated; `dst` is empty on any other status.
Status get_entry(const char *path, std::string_view section, std::string_view wanted, Select select,
                 char *dst, std::size_t len);
Status add_entry(const char *path, std::string_view section, std::string_view entry);
Status remove_entry(const char *path, std::string_view section, std::string_view entry);

} // namespace iniplace
