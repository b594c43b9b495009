#include "keys.h"

#include "lines.h"

namespace iniplace {

Status get_key(const char *path, std::string_view section, std::string_view key, char *dst,
               std::size_t len) {
    return scan_file(path, [&](FileScan &scan) {
        Line line;
        if (find_key(scan.scanner, section, key, line) != Found::match)
            return not_found();
        copy_bounded(dst, len, value_of(line.text));
        dst[len - 1] = '\0';
        return Status();
    });
}

Status set_key(const char *path, std::string_view section, std::string_view key,
               std::string_view value) {
    return write_line(path, section, find_key, key, key_line(section, key, value), true);
}

Status delete_key(const char *path, std::string_view section, std::string_view key) {
    return remove_line(path, section, find_key, key);
}

Status delete_section(const char *path, std::string_view section) {
    return remove_section(path, section);
}

} // namespace iniplace
