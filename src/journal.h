// The undo journal of the durable build (INIPLACE_DURABLE). Before an edit
// changes the first byte of a file, the bytes it will change go into a
// journal at the file's side name, made owner-only and exclusively, synced
// with its directory; after the edit the file is synced and the journal
// made harmless (emptied and synced), then removed. Every call first looks
// at the side name, holding the file's lock: a whole journal that fits the
// file is put back through the descriptor the call opened. So after a crash
// or a power loss at any point the file reads as it was before the edit or
// as it is after it, and no journal undoes an edit that was reported done.
#pragma once

#include "io_stream.h"
#include "side.h"

#include <cstdint>

#ifndef INIPLACE_DURABLE
#define INIPLACE_DURABLE 0
#endif

namespace iniplace {

constexpr bool durable = INIPLACE_DURABLE != 0;

// The journal's header, as the library works with it. On disk the fields
// are big-endian on every target, after the magic, so that a journal a
// crash left on a disk moved to another machine is still put back.
struct JournalHeader {
    std::uint64_t old_size; // of the file before the edits
    std::uint64_t min_size; // the sizes the file may have
    std::uint64_t max_size; // while they run
    std::uint64_t at;       // where the saved bytes start
    std::uint64_t saved;    // how many bytes are saved
    std::uint64_t head_at;  // [head_at, at): bytes the edits never change,
    std::uint64_t head_sum; // and their checksum: the file a journal fits
    std::uint64_t name_sum; // of the journal's own name
    std::uint64_t checksum; // of the fields above and the saved bytes
};

// The file a call holds open and locked: its descriptor, what fstat told
// of it, whether it is open for writing, and what is left of the call's
// wait for locks.
struct OpenFile {
    int fd;
    const FileInfo &info;
    bool writable;
    Patience &patience;
};

// Puts back the edit a crash interrupted, under the file's lock. What
// stands at `side`: nothing; a whole journal that fits the file, applied
// through the file's descriptor (opened again for writing through it when
// the call only reads) and removed; a journal cut short, torn, made
// harmless or of another file, or a new file a creation left, emptied and
// removed; a second name of the file itself (a creation cut short),
// removed. Outcome::untrusted for anything trust() refuses, and for a whole
// journal made under another name (moved there); ::busy when its lock
// stays held; ::unsafe when it cannot be judged or applied (an empty one
// that cannot be opened is harmless).
Status recover(const Side &side, const OpenFile &file);

// The journal of an edit, or of several edits of one file, from before the
// first change to after the last; made under the file's exclusive lock.
class Journal {
  public:
    Journal() = default;
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Saves the `saved` bytes at `at` of `file` that the edits are about to
    // change; while they run the file's size stays between `min_size` and
    // `max_size`. The journal and its directory are synced before this
    // returns. Outcome::unsafe where no journal can be made: the edits must
    // not be made; ::exists when a journal that fits the file stood there
    // (put there since the call opened the file): it is to be opened again.
    Status begin(const Side &side, const OpenFile &file, off_t at, off_t saved, off_t min_size,
                 off_t max_size, Buffer scratch);
    // After the edits: failed ones are undone from the journal; the file is
    // synced and the journal made harmless and removed. A failed undo or
    // sync keeps the journal for the next call, which puts the old file
    // back.
    Status finish(const Status &edits, Buffer scratch);

  private:
    // Makes the journal and locks it; takes over one made harmless that
    // could not be removed.
    Status open_journal(const OpenFile &file);
    Status save(int fd, Buffer scratch);
    Status retire();

    Side side_{-1, ""};
    int fd_ = -1;
    JournalHeader header_{};
    Descriptor journal_;
};

} // namespace iniplace
