// The undo journal of the durable build (INIPLACE_DURABLE). Before an edit
// changes the first byte of a file, the bytes from the change to the end go
// into PATH-journal, synced with its directory; after the edit the file is
// synced and the journal removed. A later call that finds a complete
// journal puts those bytes back first, so after a crash at any point the
// file reads as it was before the edit or as it is after it.
#pragma once

#include "io.h"

#include <climits>

#ifndef INIPLACE_DURABLE
#define INIPLACE_DURABLE 0
#endif

namespace iniplace {

constexpr bool durable = INIPLACE_DURABLE != 0;

// Puts back the edit a crash interrupted, if `path` has a complete journal
// that fits the file, and removes the journal. Outcome::unsafe when the
// file must not be read: a journal that cannot be applied or removed (no
// right to), or one made by a user who could not have edited the file. A
// file by the journal's name that is no journal is left alone.
Status recover(const char *path);

// The journal of one edit, from before its first change to after its last.
class Journal {
  public:
    Journal() = default;
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Saves the `changed` bytes at `at` of the file `fd` (`size` bytes
    // long) that an edit to `new_size` bytes is about to change: to the end
    // of the file when the size changes, since the tail moves. Where no
    // journal may be made (a read-only directory), the edit goes on without
    // one; where there is no room for it (a full disk, the file-size limit),
    // the edit is refused.
    Status begin(const char *path, int fd, off_t size, off_t at, off_t changed, off_t new_size,
                 Buffer scratch);
    // After the edit: a failed one is undone from the journal; then the
    // file is synced and the journal removed.
    void finish(const Status &edit, Buffer scratch);

  private:
    // Makes the journal and locks it.
    Status create();

    char name_[PATH_MAX] = {};
    int fd_ = -1;
    Descriptor journal_;
};

} // namespace iniplace
