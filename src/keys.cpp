#include "keys.h"

#include "edit.h"
#include "iniplace.h"

namespace iniplace {

int get_key(const char *path, std::string_view section, std::string_view key, char *dst,
            std::size_t len) {
    const File file(path, Access::read);
    if (!file)
        return INI_EOPEN;
    FileScan scan(file);
    Line line;
    const Found found = find_key(scan.scanner, section, key, line);
    if (scan.in.failed())
        return INI_EOPEN;
    if (found != Found::match)
        return INI_NOT_FOUND;
    copy_bounded(dst, len, value_of(line.text));
    dst[len - 1] = '\0';
    return INI_OK;
}

int set_key(const char *path, std::string_view section, std::string_view key,
            std::string_view value) {
    return write_line(path, section, find_key, key, key_line(section, key, value), true);
}

int delete_key(const char *path, std::string_view section, std::string_view key) {
    return remove_line(path, section, find_key, key);
}

// From the header up to the next header or the end of the file; the
// wildcard deletes the first section of the file.
int delete_section(const char *path, std::string_view section) {
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    FileScan scan(file);
    Scanner &scanner = scan.scanner;
    const bool found = is_wildcard(section) ? scanner.enter_next() : scanner.enter(section);
    const off_t start = scanner.header_start();
    (void)scanner.skip_to_header();
    if (scan.in.failed())
        return INI_EOPEN;
    if (found)
        (void)change(file, start, scan.in.offset() - start, {}, scan.scratch());
    return INI_OK;
}

} // namespace iniplace
