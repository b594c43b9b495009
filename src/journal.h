// The undo journal of the durable build (INIPLACE_DURABLE). Before an edit
// changes the first byte of a file, the bytes it will change go into a
// journal named after the file's resolved name (NAME-journal), synced with
// its directory; after the edit the file is synced and the journal removed.
// Every call first looks at the journal's name: a whole journal that fits
// the file is put back, anything else there is removed. So after a crash
// or a power loss at any point the file reads as it was before the edit or
// as it is after it.
#pragma once

#include "io.h"

#include <climits>

#ifndef INIPLACE_DURABLE
#define INIPLACE_DURABLE 0
#endif

namespace iniplace {

constexpr bool durable = INIPLACE_DURABLE != 0;

// A file's resolved name with "-journal" after it: the journal's name, and
// the file's name up to `resolved` bytes.
class JournalName {
  public:
    // The name for the open file `fd`, opened as `path`; or, without a
    // descriptor (-1), for the missing file `path`.
    Status resolve(int fd, const char *path);
    char *get() { return name_; }
    // The file's name: the journal's name cut before its suffix, for as
    // long as the Cut lives.
    class Cut {
      public:
        explicit Cut(JournalName &name) : name_(name) { name_.name_[name_.resolved_] = '\0'; }
        ~Cut() { name_.name_[name_.resolved_] = '-'; }
        Cut(const Cut &) = delete;
        Cut &operator=(const Cut &) = delete;
        const char *file() const { return name_.name_; }

      private:
        JournalName &name_;
    };

  private:
    // Only the durable build keeps journals; the default one keeps no name.
    char name_[durable ? PATH_MAX : 1] = {};
    std::size_t resolved_ = 0;
};

// Whether `name` still names the open file `fd` (whose fstat is left in
// `info`): a call that waited for a lock may find the name removed, or
// given to another file.
bool still_named(const char *name, int fd, FileInfo &info);

// Puts back the edit a crash interrupted: a whole journal at `name` that
// fits the file is applied and removed; whatever else stands there is
// removed. Outcome::unsafe when the file must not be read: a journal that
// cannot be judged, applied or removed (no right to), or one made by a
// user other than the file's owner, root and the caller (in a shared
// directory anyone could put one there).
Status recover(JournalName &name);

// The journal of an edit, or of several edits of one file, from before the
// first change to after the last.
class Journal {
  public:
    Journal() = default;
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Saves the `saved` bytes at `at` of the file `fd`, `size` bytes long,
    // that the edits are about to change; while they run the file's size
    // stays between `min_size` and `max_size`. The journal and its
    // directory are synced before this returns. Outcome::unsafe where no
    // journal can be made: the edits must not be made; Outcome::not_opened
    // with EEXIST when another edit's journal or a crash's stood there: the
    // file may have changed, and the edits are to be planned again.
    Status begin(JournalName &name, int fd, off_t size, off_t at, off_t saved, off_t min_size,
                 off_t max_size, Buffer scratch);
    // After the edits: failed ones are undone from the journal; the file is
    // synced and the journal removed. A failed undo or sync keeps the
    // journal for the next call, which puts the old file back.
    Status finish(const Status &edits, Buffer scratch);
    bool active() const { return static_cast<bool>(journal_); }
    // Where the saved bytes start: edits below it need another journal.
    off_t start() const { return start_; }

  private:
    // Makes the journal and locks it.
    Status create(JournalName &name);
    Status save(int fd, off_t size, off_t at, off_t saved, off_t min_size, off_t max_size,
                Buffer scratch);

    JournalName *name_ = nullptr;
    int fd_ = -1;
    off_t start_ = 0;
    Descriptor journal_;
};

} // namespace iniplace
