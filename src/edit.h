// One edit of a file by path, for the library's line operations and the
// iniplace tool alike, in two steps: a plan reads the file, opened and
// locked for update, and says what bytes change; then the driver makes that
// change in place (under a journal in the durable build), or makes a
// missing file whole from the change a plan finds in an empty file, and
// starts again when the file changed under it.
#pragma once

#include "file.h"
#include "line_reader.h"
#include "move.h"
#include "new_file.h"

namespace iniplace {

// The change of an edit: the `old_length` bytes at `at` replaced with
// `text`. With `old_length` 0 it inserts, with an empty `text` it removes.
struct Change {
    off_t at = 0;
    off_t old_length = 0;
    std::string_view text;
};

// What a plan says: whether the file changes, how, and what of the file the
// block lent to the plan holds once it is done (the change moves the tail
// through that block, and writes a tail it holds whole in one call).
struct Edit {
    bool changes = false;
    Change change;
    BytesRead read;
    // Where the change's text lives in the block: another buffer to move
    // the tail through.
    Buffer scratch{nullptr, 0};
    // A change that is one of several steps, each planned on the file the
    // step before left: the plan is called again once it is made, with
    // `step` counting the steps made. The steps are made under one journal
    // of the file from `journal_from` on, during which the file grows by at
    // most `most_growth` bytes.
    bool more = false;
    int step = 0;
    off_t journal_from = 0;
    off_t most_growth = 0;
};

// Whether a change is journaled (the durable build journals every change
// of a file in place; a new file is not in place yet).
enum class Journaled { yes, no };

// Makes `change` in `file`, once: the file-size limit checked and space
// reserved first, growth written before any byte moves, in the durable
// build under a journal of the bytes it changes (only the replaced bytes
// when the size stays, else from `at` to the end), which also undoes a
// change that failed half-way. `scratch` moves the tail.
Status make(File &file, Journaled journaled, const Edit &edit, Buffer scratch);

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

// The journal of an edit made in steps (the durable build's, for a
// journaled edit): begun before the first step, finished after the last.
class Steps {
  public:
    Steps(File &file, Journaled journaled) : file_(file), journaled_(journaled) {}
    Status begin(const Edit &first, Buffer scratch);
    Status finish(const Status &steps, Buffer scratch);

  private:
    File &file_;
    Journaled journaled_;
    Journal journal_;
};

// Plans an edit of the open, locked `file` with `plan(file, block, edit)`:
// the plan reads the file (through `block`, which it may use as it likes)
// and fills `edit`; a read that failed is its failure. Then makes it, and
// the steps that follow it. Out of line: the block is not on the stack
// while a name is resolved.
template <typename Plan>
[[gnu::noinline]] Status plan_and_make(File &file, Journaled journaled, Plan &plan) {
    char block[read_block];
    const Buffer scratch{block, sizeof block};
    Edit edit;
    Status status = plan(file, scratch, edit);
    if (!status.ok() || !edit.changes || !edit.more)
        return status.ok() && edit.changes ? make(file, journaled, edit, scratch) : status;
    Steps steps(file, journaled);
    if (status = steps.begin(edit, scratch); !status.ok())
        return status;
    // The journal is made through the block: what the plan read there is gone.
    if (durable && journaled == Journaled::yes)
        edit.read = {};
    for (int made = 1; status.ok() && edit.changes; ++made) {
        status = make(file, Journaled::no, edit, scratch);
        if (status.ok() && edit.more) {
            edit = Edit();
            edit.step = made;
            status = plan(file, scratch, edit);
        } else {
            edit.changes = false;
        }
    }
    return steps.finish(status, scratch);
}

// One try at an edit of `path`, planned by `plan` (see plan_and_make), on
// the file, or on an empty one when it is missing and to be made.
template <typename Plan>
Status try_edit(const char *path, OnMissing on_missing, Plan &plan, Patience &patience) {
    File file;
    Status status = file.open(path, Access::update, patience);
    if (status.ok())
        return plan_and_make(file, Journaled::yes, plan);
    if (!status.is(Outcome::missing) || on_missing == OnMissing::fail)
        return status;
    if (on_missing == OnMissing::refuse)
        return refused(Refusal::too_long);
    NewFile made;
    if (status = made.open(path, patience); !status.ok())
        return status;
    return made.place(plan_and_make(made.file(), Journaled::no, plan));
}

// An edit of the file at `path`, tried again from the start when the file
// changed under it. The call's wait for locks is shared by its tries.
template <typename Plan> Status edit_file(const char *path, OnMissing on_missing, Plan &&plan) {
    Patience patience;
    Status status;
    for (int attempt = 0; attempt < edit_attempts; ++attempt)
        if (status = try_edit(path, on_missing, plan, patience); !to_try_again(status))
            break;
    return status;
}

} // namespace iniplace
