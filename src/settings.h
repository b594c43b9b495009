// Many keys at once: every key of a section, or of a file, read in one
// pass; several settings of a file made as one edit. Arguments are checked
// by the caller.
#pragma once

#include "status.h"

#include <cstddef>
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

// One setting of a batch: a key set to `value`, or deleted for a null one.
struct Setting {
    const char *section;
    const char *key;
    const char *value;
};

// The most settings one batch takes.
constexpr std::size_t settings_max = 1024;

// Makes `count` settings of the file at `path` as one edit, each as the
// single call would make it on the file the ones before it left: one
// lock, one journal in the durable build, and written once where the file
// fits the read block. Refused, the file untouched, when one of them
// would be. A missing file is made when a setting sets a key.
Status set_keys(const char *path, const Setting *settings, std::size_t count);

} // namespace iniplace
