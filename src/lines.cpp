#include "lines.h"

namespace iniplace {

namespace {

// The planner the edit driver calls: `plan(scan, line)` on a scan of the
// file from its start through the driver's block, into `line`, which holds
// the text written and outlives the plan. A read that failed stops the
// edit before anything is written.
template <typename Plan> auto planner(LineEdit &line, Plan plan) {
    return [&line, plan](const File &file, Buffer block, Edit &edit) {
        FileScan scan(file, block);
        line = LineEdit();
        const Status planned = plan(scan, line);
        if (!scan.in.status().ok())
            return scan.in.status();
        edit.changes = planned.ok() && line.changes;
        edit.change = line.change();
        edit.read = {scan.in.block_start(), scan.in.block()};
        return planned;
    };
}

} // namespace

Status plan_write(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, LineFound found_line, LineEdit &edit) {
    if (!written.status.ok())
        return written.status;
    Line line;
    const Found found = find(scan.scanner, section, wanted, line);
    if (found == Found::match && found_line == LineFound::kept)
        return {};
    edit.place = found == Found::match ? scan.scanner.place_of(line) : scan.scanner.place_here();
    const bool new_section = found == Found::no_section && !is_wildcard(section);
    edit.text = Text(edit.place.after_unterminated);
    text_at(edit.text, section, written, new_section);
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
    (void)scanner.skip_to_header(); // false at the end of the file, where the section ends
    edit.place.old_length = scan.in.offset() - edit.place.at;
    return {};
}

Status write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, LineFound found) {
    if (!written.status.ok())
        return written.status;
    const bool new_section = !is_wildcard(section);
    const bool fits = text_length(section, written, new_section) <= text_max;
    LineEdit line;
    return edit_file(path, fits ? OnMissing::make : OnMissing::refuse,
                     planner(line, [&](FileScan &scan, LineEdit &edit) {
                         return plan_write(scan, section, find, wanted, written, found, edit);
                     }));
}

Status remove_line(const char *path, std::string_view section, Finder find,
                   std::string_view wanted) {
    LineEdit line;
    return edit_file(path, OnMissing::fail, planner(line, [&](FileScan &scan, LineEdit &edit) {
                         return plan_removal(scan, section, find, wanted, edit);
                     }));
}

Status remove_section(const char *path, std::string_view section) {
    LineEdit line;
    return edit_file(path, OnMissing::fail, planner(line, [&](FileScan &scan, LineEdit &edit) {
                         return plan_section_removal(scan, section, edit);
                     }));
}

} // namespace iniplace
