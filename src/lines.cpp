#include "lines.h"

#include <cerrno>
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
               Held held = {}) {
    const std::string_view bytes = edit.text.bytes();
    const Place &place = edit.place;
    Status done = prepared ? Status() : prepare(file, edit);
    if (done.ok())
        done = replace_prepared(file.io(), file.size(), place.at, place.old_length, bytes, scratch,
                                held);
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
    const Held held{scan.in.block_start(), scan.in.block()};
    return journaled ? change(file, edit, scan.scratch(), held)
                     : replace(file, edit, scan.scratch(), false, held);
}

// Makes the missing file `path` with the edit `plan` finds in an empty
// file: a new file is not journaled.
template <typename Plan> [[gnu::noinline]] Status make_file(const char *path, Plan plan) {
    NewFile made;
    Status status = made.open(path, false);
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
        const bool missing = opened.outcome == Outcome::not_opened && opened.error == ENOENT;
        if (!missing || !creates)
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
        if (status = try_edit(path, creates, fits_new_file, plan); !made_meanwhile(status))
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

Status change(File &file, const LineEdit &edit, Buffer scratch, Held held) {
    if constexpr (durable) {
        // Unless the size stays, the whole tail moves.
        const off_t end = file.size();
        const Place &place = edit.place;
        const off_t new_end = end_after(end, place.at, place.old_length, edit.text.bytes().size());
        const off_t saved = new_end == end ? place.old_length : end - place.at;
        Journal journal;
        Status status = prepare(file, edit);
        if (status.ok())
            status = journal.begin(file.journal_name(), file.fd(), end, place.at, saved,
                                   std::min(end, new_end), std::max(end, new_end), scratch);
        return status.ok() ? journal.finish(replace(file, edit, scratch, true), scratch) : status;
    }
    return replace(file, edit, scratch, false, held);
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
                status = journal_.begin(file_.journal_name(), file_.fd(), file_.size(), at,
                                        file_.size() - at, at, std::numeric_limits<off_t>::max(),
                                        scratch_);
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

bool made_meanwhile(const Status &status) {
    return status.outcome == Outcome::not_opened && status.error == EEXIST;
}

Status NewFile::open(const char *path, bool exclusive) {
    path_ = path;
    exclusive_ = exclusive;
    if constexpr (durable)
        return open_journaled();
    return exclusive ? open_exclusive() : file_.open(path, Access::create);
}

Status NewFile::open_journaled() {
    // The new file is made under the journal's name, which recovery clears
    // first; a call that found it before it was locked may have removed it
    // as a journal cut short.
    JournalName &name = file_.journal_name();
    Descriptor fd;
    FileInfo info;
    Status status = name.resolve(-1, path_);
    if (status.ok())
        status = recover(name);
    if (status.ok())
        status = io::open(name.get(), Open::create_new, fd);
    // Someone else is making the file: wait for them, then edit theirs.
    if (made_meanwhile(status))
        (void)recover(name);
    if (status.ok())
        status = io::lock(fd.get(), Lock::exclusive);
    if (status.ok() && !still_named(name.get(), fd.get(), info))
        status = failed(Outcome::not_opened, Op::open, EEXIST);
    if (!status.ok())
        return made_meanwhile(status) ? status : failed(Outcome::unsafe, status.op, status.error);
    file_.adopt(std::move(fd));
    return {};
}

Status NewFile::open_exclusive() {
    // A file made empty here is seen at its name at once: whoever locked
    // and wrote it first made it, and the edit goes to it as it stands.
    Descriptor fd;
    FileInfo info;
    Status status = io::open(path_, Open::create_new, fd);
    if (status.ok())
        status = io::lock(fd.get(), Lock::exclusive);
    if (status.ok())
        status = io::stat(fd.get(), info);
    if (status.ok() && info.size != 0)
        return failed(Outcome::not_opened, Op::open, EEXIST);
    if (status.ok())
        file_.adopt(std::move(fd));
    else if (fd)
        (void)io::unlink(path_);
    return status;
}

Status NewFile::place(const Status &filled) {
    if constexpr (durable) {
        // Renamed to the name the caller gave, in the directory it was
        // resolved in, failing if someone made the file meanwhile.
        JournalName &name = file_.journal_name();
        Status status = filled;
        if (status.ok())
            status = io::sync(file_.fd());
        // A journal's name left behind is cleared by the next call.
        if (status.ok())
            status = io::rename_new(name.get(), path_);
        if (!status.ok())
            (void)io::unlink(name.get());
        const Status synced = io::sync_directory(name.get());
        if (status.error == EEXIST)
            return failed(Outcome::not_opened, status.op, EEXIST);
        return status.ok() ? synced : status;
    }
    if (!filled.ok() && exclusive_)
        (void)io::unlink(path_);
    return filled;
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
