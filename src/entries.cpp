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

// A new entry ends its section, after any blank lines there.
int add_entry(const char *path, std::string_view section, std::string_view entry) {
    return write_line(path, section, find_entry, entry_text(entry), entry_line(section, entry),
                      false);
}

int remove_entry(const char *path, std::string_view section, std::string_view entry) {
    return remove_line(path, section, find_entry, entry_text(entry));
}

} // namespace iniplace
