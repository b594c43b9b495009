// One edit of a file by path, for the library's line operations and the
// iniplace tool alike: the file opened and locked for update, read by the
// caller's plan, which says what bytes change, and changed in place (under
// a journal in the durable build); a missing file made whole from the
// change a plan finds in an empty file; and the edit tried again when the
// file changed under it.
#pragma once

#include "file.h"
#include "io_names.h"
#include "move.h"

namespace iniplace {

// The change of an edit: the `old_length` bytes at `at` replaced with
// `text`. With `old_length` 0 it inserts, with an empty `text` it removes.
struct Change {
    off_t at = 0;
    off_t old_length = 0;
    std::string_view text;
};

// Whether a change is journaled (the durable build journals every change
// of a file in place; a new file is not in place yet).
enum class Journaled { yes, no };

// A file open and locked for an edit, and the one way its change is made.
class Editing {
  public:
    Editing(File &file, Journaled journaled) : file_(file), journaled_(journaled) {}
    File &file() const { return file_; }
    // Makes `change`, once: the file-size limit checked and space reserved
    // first, growth written before any byte moves, in the durable build
    // under a journal of the bytes it changes (only the replaced bytes when
    // the size stays, else from `at` to the end), which also undoes a change
    // that failed half-way. `read` tells what of the file `scratch` holds.
    Status make(const Change &change, Buffer scratch, BytesRead read = {}) const;

  private:
    File &file_;
    Journaled journaled_;
};

// A missing file, made whole: written at its side name, owner-only,
// exclusively and locked; given the mode a new file gets, synced, and moved
// to its name unless a file stands there by then (the durable build syncs
// the directory too, so that the name stays). The default build makes the
// file a dangling symbolic link at the path leads to; the durable build
// refuses such a link.
class NewFile {
  public:
    // An empty file to fill for `path`. Outcome::exists when someone made
    // the file, or is making it: the edit starts again on their file.
    Status open(const char *path, Patience &patience);
    File &file() { return file_; }
    // Puts the file in place once `filled`; removes it when `filled` or
    // anything here failed, which it reports as Outcome::not_made (or
    // ::exists, as for open(); a refusal as it is).
    Status place(const Status &filled);

  private:
    // Where the file is made: the path, or where its chain of symbolic
    // links ends; and its side name.
    Status find_names(const char *path);
    // Makes the side name's file, owner-only and exclusively, clearing what
    // a creation cut short left there, and locks it.
    Status make_side_file(Descriptor &fd);
    // Removes what a creation left at the side name and nobody works on;
    // Outcome::missing once the name is free, ::exists when the file was
    // made meanwhile.
    Status clear_leftover();

    char target_[PATH_MAX] = {};
    SideName name_;
    File file_;
    Patience *patience_ = nullptr;
};

// What an edit does when its file is missing: fail (Outcome::missing), make
// it, or refuse the text it would make it with (Refusal::too_long).
enum class OnMissing { fail, make, refuse };

// Whether an edit met a file that changed under it (someone made the
// missing file, or a journal stood where the edit's was to go): to be
// tried again from the start, at most `edit_attempts` times in all. Each
// retry follows another process's progress, which many parallel creators
// of one file make in turn.
bool to_try_again(const Status &status);
constexpr int edit_attempts = 32;

// Makes the missing file `path` with `plan(editing)` on an empty file.
// Kept out of line, so that the plan's storage is on the stack once.
template <typename Plan>
[[gnu::noinline]] Status make_file(const char *path, Plan &plan, Patience &patience) {
    NewFile made;
    Status status = made.open(path, patience);
    if (status.ok())
        status = made.place(plan(Editing(made.file(), Journaled::no)));
    return status;
}

// One try at an edit of `path`, planned and made by `plan(editing)`.
template <typename Plan>
Status try_edit(const char *path, OnMissing on_missing, Plan &plan, Patience &patience) {
    {
        File file;
        const Status opened = file.open(path, Access::update, patience);
        if (!opened.is(Outcome::missing) || on_missing == OnMissing::fail)
            return opened.ok() ? plan(Editing(file, Journaled::yes)) : opened;
    }
    return on_missing == OnMissing::make ? make_file(path, plan, patience)
                                         : refused(Refusal::too_long);
}

// An edit of the file at `path`: `plan(editing)` reads the open, locked
// file and makes its change through editing.make(), or none; a read that
// failed is its failure. Tried again from the start when the file changed
// under it.
// The call's wait for locks is shared by its tries.
template <typename Plan> Status edit_file(const char *path, OnMissing on_missing, Plan plan) {
    Patience patience;
    Status status;
    for (int attempt = 0; attempt < edit_attempts; ++attempt)
        if (status = try_edit(path, on_missing, plan, patience); !to_try_again(status))
            break;
    return status;
}

} // namespace iniplace
