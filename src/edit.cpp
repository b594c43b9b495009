#include "edit.h"

#include "journal.h"

namespace iniplace {

namespace {

// The change, once the size limit is checked and space reserved.
Status replace(File &file, const Change &change, Buffer scratch, BytesRead read) {
    const Status done = replace_prepared(file.io(), file.size(), change.at, change.old_length,
                                         change.text, scratch, read);
    if (done.ok())
        file.resize(end_after(file.size(), change.at, change.old_length, change.text.size()));
    return done;
}

// The durable build's change: under a journal of the bytes it changes.
Status journaled(File &file, const Change &change, Buffer scratch) {
    // Unless the size stays, the whole tail moves.
    const off_t end = file.size();
    const off_t new_end = end_after(end, change.at, change.old_length, change.text.size());
    const off_t saved = new_end == end ? change.old_length : end - change.at;
    Journal journal;
    const Status begun = journal.begin(file.side(), file.open_file(), change.at, saved,
                                       std::min(end, new_end), std::max(end, new_end), scratch);
    return begun.ok() ? journal.finish(replace(file, change, scratch, {}), scratch) : begun;
}

} // namespace

Status make(File &file, Journaled journaled_change, const Edit &edit, Buffer block) {
    const Change &change = edit.change;
    const Buffer scratch = edit.scratch.data != nullptr ? edit.scratch : block;
    const Status prepared = prepare_replace(file.io(), file.size(), change.at, change.old_length,
                                            change.text.size(), file.info().sparse);
    if (!prepared.ok())
        return prepared;
    if (durable && journaled_change == Journaled::yes)
        return journaled(file, change, scratch);
    return replace(file, change, scratch, edit.read);
}

Status Steps::begin(const Edit &first, Buffer scratch) {
    // The size limit, and the space the steps may grow into, checked and
    // reserved before the first step: a full disk or the limit refuses the
    // steps before any byte changes.
    const off_t end = file_.size(), from = first.journal_from, most = end + first.most_growth;
    Status status = io::within_size_limit(most);
    if (status.ok())
        status = file_.io().reserve(end, most - end);
    if (!status.ok() || !durable || journaled_ == Journaled::no)
        return status;
    return journal_.begin(file_.side(), file_.open_file(), from, end - from, from, most, scratch);
}

Status Steps::finish(const Status &steps, Buffer scratch) {
    return durable && journaled_ == Journaled::yes ? journal_.finish(steps, scratch) : steps;
}

bool to_try_again(const Status &status) {
    return status.is(Outcome::exists) || status.is(Outcome::replaced);
}

} // namespace iniplace
