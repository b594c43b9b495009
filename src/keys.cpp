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
    const Written written = key_line(section, key, value);
    if (written.refusal != Refusal::none)
        return INI_EINVAL;
    File file;
    if (const int opened = open_or_create(file, path, fits_new_file(section, written.text.line()));
        opened != INI_OK)
        return opened;
    FileScan scan(file);
    Line line;
    const Found found = find_key(scan.scanner, section, key, line);
    Place place = found == Found::match ? scan.scanner.place_of(line) : scan.scanner.place_here();
    if (scan.in.failed())
        return INI_EOPEN;
    // The preamble never gets a header: its lines go before the first one.
    place.new_section = found == Found::no_section && !is_wildcard(section);
    return write_line(file, place, section, written.text.line(), scan.scratch());
}

int delete_key(const char *path, std::string_view section, std::string_view key) {
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    FileScan scan(file);
    Line line;
    const Found found = find_key(scan.scanner, section, key, line);
    const Place place = found == Found::match ? scan.scanner.place_of(line) : Place();
    if (scan.in.failed())
        return INI_EOPEN;
    if (found == Found::match)
        (void)change(file, place.at, place.old_length, {}, scan.scratch());
    return INI_OK;
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
