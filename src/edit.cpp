#include "edit.h"

#include "journal.h"

#include <cstring>

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
    const Status begun = journal.begin(file.side_name(), file.open_file(), change.at, saved,
                                       std::min(end, new_end), std::max(end, new_end), scratch);
    return begun.ok() ? journal.finish(replace(file, change, scratch, {}), scratch) : begun;
}

} // namespace

Status Editing::make(const Change &change, Buffer scratch, BytesRead read) const {
    const Status prepared = prepare_replace(file_.io(), file_.size(), change.at, change.old_length,
                                            change.text.size(), file_.info().sparse);
    if (!prepared.ok())
        return prepared;
    if (durable && journaled_ == Journaled::yes)
        return journaled(file_, change, scratch);
    return replace(file_, change, scratch, read);
}

bool to_try_again(const Status &status) {
    return status.is(Outcome::exists) || status.is(Outcome::replaced);
}

Status NewFile::open(const char *path, Patience &patience) {
    patience_ = &patience;
    Descriptor fd;
    Status status = find_names(path);
    if (status.ok())
        status = make_side_file(fd);
    if (status.ok())
        file_.adopt(std::move(fd), patience);
    const bool told = to_try_again(status) || status.is(Outcome::busy) ||
                      status.is(Outcome::untrusted) || status.is(Outcome::not_regular);
    return status.ok() || told ? status : as(Outcome::not_made, status);
}

Status NewFile::find_names(const char *path) {
    // The durable build would find the file's journal by the link's target,
    // not by this name: it makes the file at the path, through no link, and
    // the rename that puts it there replaces nothing, a link made meanwhile
    // included.
    const Status target =
        link_target(path, durable ? Follow::no : Follow::links, target_, sizeof target_);
    return target.ok() ? name_.of_missing(target_) : target;
}

Status NewFile::make_side_file(Descriptor &fd) {
    Status status = io::open(name_.get(), Open::fresh, fd);
    for (int attempt = 1; status.is(Outcome::exists) && attempt < edit_attempts; ++attempt) {
        if (status = clear_leftover(); !status.is(Outcome::missing))
            return status;
        status = io::open(name_.get(), Open::fresh, fd);
    }
    if (status.ok())
        status = io::lock(fd.get(), Lock::exclusive, *patience_);
    // Someone may have taken it for a leftover before it was locked.
    FileInfo made, named;
    if (status.ok())
        status = io::stat(fd.get(), made);
    if (status.ok())
        status = io::stat(name_.get(), Follow::no, named);
    if (status.is(Outcome::missing) || (status.ok() && !same_file(made, named)))
        return failed(Outcome::exists, Op::stat);
    return status;
}

Status NewFile::clear_leftover() {
    Descriptor fd;
    FileInfo info, target;
    SideKind kind = SideKind::empty;
    Status status = io::open(name_.get(), Open::found, fd);
    if (status.is(Outcome::not_regular))
        return as(Outcome::untrusted, status);
    if (status.ok())
        status = io::stat(fd.get(), info);
    // Whoever makes the file holds the lock until it stands at its name;
    // what was removed or replaced meanwhile frees the name (::missing).
    if (status.ok())
        status = take_side(name_.get(), fd.get(), info, io::user(), *patience_, kind);
    if (status.is(Outcome::missing))
        return status;
    // Nobody works on it. A file made meanwhile may need what stands there
    // (its journal): the edit starts again and recovery judges it.
    if (status.ok() && io::stat(target_, Follow::no, target).ok())
        return failed(Outcome::exists, Op::stat);
    if (status.ok())
        status = io::unlink(name_.get());
    return status.ok() || status.is(Outcome::missing) ? failed(Outcome::missing, Op::unlink)
                                                      : status;
}

Status NewFile::place(const Status &filled) {
    // Synced in both builds: after a power loss the file is whole or not
    // there at all.
    Status status = filled;
    if (status.ok())
        status = io::sync(file_.fd());
    if (status.ok())
        status = io::rename_new(name_.get(), target_);
    if (!status.ok()) {
        (void)io::unlink(name_.get());
        const bool told = status.is(Outcome::exists) || status.is(Outcome::refused);
        return told ? status : as(Outcome::not_made, status);
    }
    // The new name must stay made. The file gets the mode a new file gets
    // only in place, so that what a crash leaves at the side name is known
    // as the library's own: readable by its owner alone.
    mode_t mode = 0;
    if (durable)
        status = io::sync_directory(name_.get());
    if (status.ok())
        status = io::new_file_mode(mode);
    if (status.ok())
        status = io::set_mode(file_.fd(), mode);
    if (status.ok() && durable)
        status = io::sync(file_.fd());
    return as(Outcome::not_made, status);
}

} // namespace iniplace
