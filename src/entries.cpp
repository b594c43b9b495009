#include "entries.h"

#include "edit.h"
#include "iniplace.h"

namespace iniplace {

namespace {

// Walks the entries of the section the scanner is in and copies the one
// `mode` selects into `dst`.
int pick_entry(Scanner &scanner, int mode, std::string_view wanted, char *dst, std::size_t len) {
    if (mode < INI_ENTRY_FIRST || mode > INI_ENTRY_PREV)
        return INI_NOT_FOUND;
    const auto copy = [dst, len](std::string_view entry) {
        copy_bounded(dst, len, entry);
        dst[len - 1] = '\0';
    };
    bool after_match = false;
    Line line;
    while (scanner.next(line) == Piece::line) {
        const bool equal = line.text == wanted;
        // The entry before the match is the last one copied, if any.
        if (mode == INI_ENTRY_PREV && equal)
            return dst[0] != '\0' ? INI_OK : INI_NOT_FOUND;
        const bool picked = mode == INI_ENTRY_FIRST || (mode == INI_ENTRY_MATCH && equal) ||
                            (mode == INI_ENTRY_NEXT && after_match);
        if (picked || mode == INI_ENTRY_PREV)
            copy(line.text);
        if (picked)
            return INI_OK;
        after_match = equal;
    }
    return INI_NOT_FOUND;
}

} // namespace

int get_entry(const char *path, std::string_view section, std::string_view wanted, int mode,
              char *dst, std::size_t len) {
    dst[0] = '\0';
    const File file(path, Access::read);
    if (!file)
        return INI_EOPEN;
    FileScan scan(file);
    const int status = scan.scanner.enter(section)
                           ? pick_entry(scan.scanner, mode, wanted, dst, len)
                           : INI_NOT_FOUND;
    if (scan.in.failed())
        return INI_EOPEN;
    if (status != INI_OK)
        dst[0] = '\0';
    return status;
}

int add_entry(const char *path, std::string_view section, std::string_view entry) {
    const Written written = entry_line(section, entry);
    if (written.refusal != Refusal::none)
        return INI_EINVAL;
    File file;
    if (const int opened = open_or_create(file, path, fits_new_file(section, written.text.line()));
        opened != INI_OK)
        return opened;
    FileScan scan(file);
    Line line;
    const Found found = find_entry(scan.scanner, section, entry_text(entry), line);
    if (scan.in.failed())
        return INI_EOPEN;
    if (found == Found::match)
        return INI_OK;
    // A new entry ends its section, after any blank lines there.
    Place place = scan.scanner.place_here();
    place.new_section = found == Found::no_section && !is_wildcard(section);
    return write_line(file, place, section, written.text.line(), scan.scratch());
}

int remove_entry(const char *path, std::string_view section, std::string_view entry) {
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    FileScan scan(file);
    Line line;
    const Found found = find_entry(scan.scanner, section, entry_text(entry), line);
    const Place place = found == Found::match ? scan.scanner.place_of(line) : Place();
    if (scan.in.failed())
        return INI_EOPEN;
    if (found == Found::match)
        (void)change(file, place.at, place.old_length, {}, scan.scratch());
    return INI_OK;
}

} // namespace iniplace
