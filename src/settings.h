// Several settings of a file made as one edit. Arguments are checked by
// the caller.
#pragma once

#include "status.h"

#include <cstddef>

namespace iniplace {

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
