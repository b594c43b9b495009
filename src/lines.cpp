#include "lines.h"

#include <cerrno>
#include <limits>

namespace iniplace {

namespace {

// Makes the edit, once prepared when `prepared`.
Status replace(File &file, const LineEdit &edit, Buffer scratch, bool prepared = false,
               Held held = {}) {
    const std::string_view bytes = edit.text.bytes();
    const Place &place = edit.place;
    Status done = prepared ? Status()
                           : prepare_replace(file.io(), file.size(), place.at, place.old_length,
                                             bytes.size(), file.info().sparse);
    if (done.ok())
        done = replace_prepared(file.io(), file.size(), place.at, place.old_length, bytes, scratch,
                                held);
    if (done.ok())
        file.resize(end_after(file.size(), place.at, place.old_length, bytes.size()));
    return done;
}

[[maybe_unused]] Status prepare(File &file, const LineEdit &edit) {
    return prepare_replace(file.io(), file.size(), edit.place.at, edit.place.old_length,
                           edit.text.bytes().size(), file.info().sparse);
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

bool made_meanwhile(const Status &status) {
    return status.outcome == Outcome::not_opened && status.error == EEXIST;
}

// Opens `path` for an edit planned by `plan`. A missing file is made when
// `creates` (and refused when the plan's text for it would not fit); one
// that someone else made meanwhile is edited as found.
template <typename Plan>
Status edit_file(const char *path, bool creates, bool fits_new_file, Plan plan) {
    Status status;
    for (int attempt = 0; attempt < 3; ++attempt) {
        {
            File file;
            status = file.open(path, Access::update);
            const bool missing = status.outcome == Outcome::not_opened && status.error == ENOENT;
            if (!missing || !creates)
                return status.ok() ? plan_and_change(file, plan, true) : status;
        }
        if (!fits_new_file)
            return refused(Refusal::too_long);
        status = make_file(path, plan);
        if (!made_meanwhile(status))
            return status;
    }
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

Status NewFile::open(const char *path, bool exclusive) {
    path_ = path;
    exclusive_ = exclusive;
    if constexpr (durable) {
        JournalName &name = file_.journal_name();
        Status status = name.resolve(-1, path);
        if (status.ok())
            status = recover(name);
        Descriptor fd;
        if (status.ok())
            status = io::open(name.get(), Open::create_new, fd);
        if (status.ok())
            status = io::lock(fd.get(), Lock::exclusive);
        if (!status.ok())
            return status.error == EEXIST ? status
                                          : failed(Outcome::unsafe, status.op, status.error);
        file_.adopt(std::move(fd));
        return {};
    }
    if (!exclusive)
        return file_.open(path, Access::create);
    Descriptor fd;
    if (const Status made = io::open(path, Open::create_new, fd); !made.ok())
        return made;
    file_.adopt(std::move(fd));
    return io::lock(file_.fd(), Lock::exclusive);
}

Status NewFile::place(const Status &filled) {
    if constexpr (durable) {
        JournalName &name = file_.journal_name();
        Status status = filled;
        if (status.ok())
            status = io::sync(file_.fd());
        // Linked as the caller named it: in the directory the name was
        // resolved in, failing if someone made the file meanwhile.
        if (status.ok())
            status = io::link(name.get(), path_);
        (void)io::unlink(name.get());
        const Status synced = io::sync_directory(name.get());
        if (status.error == EEXIST)
            return failed(Outcome::not_opened, Op::link, EEXIST);
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
