// Every key of a section, or of a file, read in one pass. Arguments are
// checked by the caller.
#pragma once

#include "status.h"

#include <string_view>

namespace iniplace {

// Called with each key a get reads, as NUL-terminated texts valid for the
// call; a non-zero return stops the walk.
using KeyHandler = int (*)(void *user, const char *section, const char *key, const char *value);

// Hands `handler` every key of `section` (of every section, the preamble's
// as "*", when `every`) that a get of its section and key finds, with the
// value the get reads, in file order: not a later line of a key a section
// holds twice, nor the lines under a header that repeats an earlier one's.
// Outcome::not_found for a named section the file lacks. `stopped` is the
// handler's non-zero return, or 0.
Status get_keys(const char *path, std::string_view section, bool every, KeyHandler handler,
                void *user, int &stopped);

} // namespace iniplace
