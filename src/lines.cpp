#include "lines.h"

#include "journal.h"
#include "move.h"

#include <cerrno>

namespace iniplace {

namespace {

// What an edit found it must do: replace the old bytes of `place` with
// `text` (nothing, to remove them), unless the file already reads so.
struct Edit {
    bool changes = false;
    Place place;
    Text text;
};

// Opens `path` for update (creating it when missing, if `may_create`
// says the edit may) and lets `plan(scan, edit)` find the edit; a read
// that failed stops it before anything is written.
template <typename Plan>
Status edit_file(const char *path, bool creates, bool may_create, Plan plan) {
    File file;
    Status opened = file.open(path, Access::update);
    if (creates && opened.outcome == Outcome::not_opened && opened.error == ENOENT)
        opened = may_create ? file.open(path, Access::create) : refused(Refusal::too_long);
    if (!opened.ok())
        return opened;
    FileScan scan(file);
    Edit edit;
    const Status planned = plan(scan, edit);
    if (!scan.in.status().ok())
        return scan.in.status();
    if (!planned.ok() || !edit.changes)
        return planned;
    return change(file, edit.place, edit.text.bytes(), scan.scratch());
}

} // namespace

Status change(const File &file, const Place &place, std::string_view bytes, Buffer scratch) {
    const Io io = file.io();
    const off_t end = file.size();
    if constexpr (durable) {
        // Unless the size stays, the whole tail moves.
        const off_t new_end = end_after(end, place.at, place.old_length, bytes.size());
        const off_t changed = new_end == end ? place.old_length : end - place.at;
        Journal journal;
        if (const Status begun =
                journal.begin(file.path(), io.fd(), end, place.at, changed, new_end, scratch);
            !begun.ok())
            return begun;
        const Status done = replace_bytes(io, end, place.at, place.old_length, bytes, scratch);
        journal.finish(done, scratch);
        return done;
    }
    return replace_bytes(io, end, place.at, place.old_length, bytes, scratch);
}

Status write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, bool replace) {
    if (written.refusal != Refusal::none)
        return refused(written.refusal);
    const std::string_view line = written.text.line();
    const bool preamble = is_wildcard(section);
    const bool fits_new_file = text_at(section, line, !preamble, false).fits();
    return edit_file(path, true, fits_new_file, [&](FileScan &scan, Edit &edit) {
        Line found_line;
        const Found found = find(scan.scanner, section, wanted, found_line);
        if (found == Found::match && !replace)
            return Status(); // an entry already there
        edit.place =
            found == Found::match ? scan.scanner.place_of(found_line) : scan.scanner.place_here();
        const bool new_section = found == Found::no_section && !preamble;
        edit.text = text_at(section, line, new_section, edit.place.after_unterminated);
        if (!edit.text.fits())
            return refused(Refusal::too_long);
        edit.changes = true;
        return Status();
    });
}

Status remove_line(const char *path, std::string_view section, Finder find,
                   std::string_view wanted) {
    return edit_file(path, false, false, [&](FileScan &scan, Edit &edit) {
        Line line;
        edit.changes = find(scan.scanner, section, wanted, line) == Found::match;
        if (edit.changes)
            edit.place = scan.scanner.place_of(line);
        return Status();
    });
}

Status remove_section(const char *path, std::string_view section) {
    return edit_file(path, false, false, [&](FileScan &scan, Edit &edit) {
        Scanner &scanner = scan.scanner;
        edit.changes = is_wildcard(section) ? scanner.enter_next() : scanner.enter(section);
        edit.place.at = scanner.header_start();
        (void)scanner.skip_to_header();
        edit.place.old_length = scan.in.offset() - edit.place.at;
        return Status();
    });
}

} // namespace iniplace
