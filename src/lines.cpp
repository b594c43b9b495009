#include "lines.h"

#include <limits>

namespace iniplace {

namespace {

// What an edit checks before any byte moves (see prepare_replace).
Status prepare(File &file, const LineEdit &edit) {
    return prepare_replace(file.io(), file.size(), edit.place.at, edit.place.old_length,
                           edit.text.bytes().size(), file.info().sparse);
}

// Makes the edit, once prepared when `prepared`.
Status replace(File &file, const LineEdit &edit, Buffer scratch, bool prepared = false,
               BytesRead read = {}) {
    const std::string_view bytes = edit.text.bytes();
    const Place &place = edit.place;
    Status done = prepared ? Status() : prepare(file, edit);
    if (done.ok())
        done = replace_prepared(file.io(), file.size(), place.at, place.old_length, bytes, scratch,
                                read);
    if (done.ok())
        file.resize(end_after(file.size(), place.at, place.old_length, bytes.size()));
    return done;
}

// Plans an edit of the file `plan(scan, edit)` reads and makes it, under
// a journal when `journaled` in the durable build; a read that failed stops
// it before anything is written. Kept out of line, so that its block is on
// the stack once, whichever way the file was opened.
template <typename Plan>
[[gnu::noinline]] Status plan_and_change(File &file, Plan plan, bool journaled) {
    FileScan scan(file);
    LineEdit edit;
    const Status planned = plan(scan, edit);
    if (!scan.in.status().ok())
        return scan.in.status();
    if (!planned.ok() || !edit.changes)
        return planned;
    const BytesRead read{scan.in.block_start(), scan.in.block()};
    return journaled ? change(file, edit, scan.scratch(), read)
                     : replace(file, edit, scan.scratch(), false, read);
}

// Makes the missing file `path` with the edit `plan` finds in an empty
// file: a new file is not journaled.
template <typename Plan> [[gnu::noinline]] Status make_file(const char *path, Plan plan) {
    NewFile made;
    Status status = made.open(path);
    if (status.ok())
        status = made.place(plan_and_change(made.file(), plan, false));
    return status;
}

// One try at an edit of `path` planned by `plan`. A missing file is made
// when `creates` (and refused when the plan's text for it would not fit).
template <typename Plan>
Status try_edit(const char *path, bool creates, bool fits_new_file, Plan plan) {
    {
        File file;
        const Status opened = file.open(path, Access::update);
        if (!opened.is(Outcome::missing) || !creates)
            return opened.ok() ? plan_and_change(file, plan, true) : opened;
    }
    return fits_new_file ? make_file(path, plan) : refused(Refusal::too_long);
}

// An edit of `path`, tried again from the start when the file changed
// under it: someone made the missing file, or a journal stood where the
// edit's was to go.
template <typename Plan>
Status edit_file(const char *path, bool creates, bool fits_new_file, Plan plan) {
    Status status;
    for (int attempt = 0; attempt < edit_attempts; ++attempt)
        if (status = try_edit(path, creates, fits_new_file, plan); !to_try_again(status))
            break;
    return status;
}

} // namespace

Status plan_write(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, bool replace, LineEdit &edit) {
    if (written.refusal != Refusal::none)
        return refused(written.refusal);
    Line found_line;
    const Found found = find(scan.scanner, section, wanted, found_line);
    if (found == Found::match && !replace)
        return {}; // an entry already there
    edit.place =
        found == Found::match ? scan.scanner.place_of(found_line) : scan.scanner.place_here();
    const bool new_section = found == Found::no_section && !is_wildcard(section);
    edit.text = text_at(section, written.text.line(), new_section, edit.place.after_unterminated);
    if (!edit.text.fits())
        return refused(Refusal::too_long);
    edit.changes = true;
    return {};
}

Status plan_removal(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                    LineEdit &edit) {
    Line line;
    edit.changes = find(scan.scanner, section, wanted, line) == Found::match;
    if (edit.changes)
        edit.place = scan.scanner.place_of(line);
    return {};
}

Status plan_section_removal(FileScan &scan, std::string_view section, LineEdit &edit) {
    Scanner &scanner = scan.scanner;
    edit.changes = is_wildcard(section) ? scanner.enter_next() : scanner.enter(section);
    edit.place.at = scanner.header_start();
    (void)scanner.skip_to_header();
    edit.place.old_length = scan.in.offset() - edit.place.at;
    return {};
}

Status change(File &file, const LineEdit &edit, Buffer scratch, BytesRead read) {
    if constexpr (durable) {
        // Unless the size stays, the whole tail moves.
        const off_t end = file.size();
        const Place &place = edit.place;
        const off_t new_end = end_after(end, place.at, place.old_length, edit.text.bytes().size());
        const off_t saved = new_end == end ? place.old_length : end - place.at;
        Journal journal;
        Status status = prepare(file, edit);
        if (status.ok())
            status = journal.begin(file.side_name(), file.open_file(), place.at, saved,
                                   std::min(end, new_end), std::max(end, new_end), scratch);
        return status.ok() ? journal.finish(replace(file, edit, scratch, true), scratch) : status;
    }
    return replace(file, edit, scratch, false, read);
}

Status change_new_file(File &file, const LineEdit &edit, Buffer scratch) {
    return replace(file, edit, scratch);
}

Status Batch::make(const LineEdit &edit) {
    if constexpr (durable) {
        Status status = prepare(file_, edit);
        if (status.ok() && (!journal_.active() || edit.place.at < journal_.start())) {
            status = journal_.finish({}, scratch_);
            const off_t at = std::min(edit.place.at, file_.size());
            if (status.ok())
                status = journal_.begin(file_.side_name(), file_.open_file(), at, file_.size() - at,
                                        at, std::numeric_limits<off_t>::max(), scratch_);
        }
        if (status.ok())
            status = replace(file_, edit, scratch_, true);
        return status.ok() ? status : journal_.finish(status, scratch_);
    }
    return replace(file_, edit, scratch_);
}

Status Batch::finish() {
    return journal_.finish({}, scratch_);
}

Status Batch::abandon(const Status &failure) {
    return journal_.finish(failure.ok() ? failed(Outcome::not_written, Op::write, 0) : failure,
                           scratch_);
}

bool to_try_again(const Status &status) {
    return status.is(Outcome::exists) || status.is(Outcome::replaced);
}

Status NewFile::open(const char *path) {
    // The durable build would find the file's journal by the link's target,
    // not by this name.
    FileInfo link;
    if (durable && io::stat(path, Follow::no, link).ok() && link.link)
        return failed(Outcome::not_regular, Op::name);
    Status status = link_target(path, target_, sizeof target_);
    if (status.ok())
        status = name_.of_missing(target_);
    Descriptor fd;
    for (int attempt = 0; status.ok() && attempt < edit_attempts; ++attempt) {
        status = io::open(name_.get(), Open::fresh, fd);
        if (!status.is(Outcome::exists))
            break;
        status = clear_leftover();
        if (!status.is(Outcome::missing))
            return status;
        status = {};
    }
    if (status.ok())
        status = io::lock(fd.get(), Lock::exclusive);
    // Someone may have taken it for a leftover before it was locked.
    FileInfo made, named;
    if (status.ok())
        status = io::stat(fd.get(), made);
    if (status.ok())
        status = io::stat(name_.get(), Follow::no, named);
    if (status.is(Outcome::missing) || (status.ok() && !same_file(made, named)))
        return failed(Outcome::exists, Op::stat);
    if (!status.ok())
        return status.is(Outcome::busy) ? status : as(Outcome::not_made, status);
    file_.adopt(std::move(fd));
    return {};
}

Status NewFile::clear_leftover() {
    Descriptor fd;
    FileInfo info, named;
    Status status = io::open(name_.get(), Open::found, fd);
    if (status.is(Outcome::not_regular))
        return as(Outcome::untrusted, status);
    if (status.ok())
        status = io::stat(fd.get(), info);
    if (status.ok())
        status = trust(info, io::user());
    // Whoever makes the file holds the lock until it stands at its name.
    if (status.ok())
        status = io::lock(fd.get(), Lock::exclusive);
    if (status.ok())
        status = io::stat(name_.get(), Follow::no, named);
    if (status.ok() && !same_file(info, named))
        return failed(Outcome::exists, Op::stat);
    if (status.is(Outcome::missing))
        return failed(Outcome::exists, Op::stat);
    // Nobody works on it. A file made meanwhile may need what stands there
    // (its journal): the edit starts again and recovery judges it.
    FileInfo target;
    if (status.ok()) {
        status = io::stat(target_, Follow::no, target);
        if (status.ok())
            return failed(Outcome::exists, Op::stat);
        if (status.is(Outcome::missing))
            status = io::unlink(name_.get());
    }
    return status.ok() || status.is(Outcome::missing) ? failed(Outcome::missing, Op::unlink)
                                                      : status;
}

Status NewFile::place(const Status &filled) {
    Status status = filled;
    mode_t mode = 0;
    if (status.ok())
        status = io::new_file_mode(mode);
    if (status.ok())
        status = io::set_mode(file_.fd(), mode);
    // Synced in both builds: after a power loss the file is whole or not
    // there at all.
    if (status.ok())
        status = io::sync(file_.fd());
    if (status.ok())
        status = io::rename_new(name_.get(), target_);
    if (!status.ok()) {
        (void)io::unlink(name_.get());
        const bool told = status.is(Outcome::exists) || status.is(Outcome::refused);
        return told ? status : as(Outcome::not_made, status);
    }
    // The new name must stay made.
    if (durable)
        status = io::sync_directory(name_.get());
    return as(Outcome::not_made, status);
}

Status write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, bool replace) {
    if (written.refusal != Refusal::none)
        return refused(written.refusal);
    const bool new_section = !is_wildcard(section);
    return edit_file(path, true, text_at(section, written.text.line(), new_section, false).fits(),
                     [&](FileScan &scan, LineEdit &edit) {
                         return plan_write(scan, section, find, wanted, written, replace, edit);
                     });
}

Status remove_line(const char *path, std::string_view section, Finder find,
                   std::string_view wanted) {
    return edit_file(path, false, false, [&](FileScan &scan, LineEdit &edit) {
        return plan_removal(scan, section, find, wanted, edit);
    });
}

Status remove_section(const char *path, std::string_view section) {
    return edit_file(path, false, false, [&](FileScan &scan, LineEdit &edit) {
        return plan_section_removal(scan, section, edit);
    });
}

} // namespace iniplace
