// The names of files: the name the library keeps next to a file, found the
// same through every name that reaches the file, and the end of a chain of
// symbolic links that leads to a missing file.
#pragma once

#include "io.h"

#include <climits>

namespace iniplace {

// The file's resolved name with "-journal" after it. The durable build
// keeps its journal there, and both builds write a new file there before
// they move it into place. Every name that reaches the file, but its hard
// links, gives the same side name.
class SideName {
  public:
    // For the open file `fd`, opened as `path`: the kernel's name for it,
    // or where it has none (no /proc) the C library's resolution of `path`.
    Status of_file(int fd, const char *path);
    // For the missing file `path`: its directory resolved, then its name.
    Status of_missing(const char *path);
    const char *get() const { return name_; }

  private:
    Status add_suffix();

    char name_[PATH_MAX] = {};
};

// Where the chain of symbolic links that starts at `path` ends: `path`
// itself when it is no link; Outcome::not_regular for a link when `follow`
// says no. Outcome::exists when the
// chain ends at a file after all (someone made it meanwhile). A link that
// another user made in a directory that others may write (like /tmp, or a
// group's directory) is not followed (Outcome::untrusted), unless she owns
// the directory.
Status link_target(const char *path, Follow follow, char *target, std::size_t size);

} // namespace iniplace
