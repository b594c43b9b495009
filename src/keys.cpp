#include "keys.h"

#include "caller_copy.h"
#include "lines.h"
#include "read.h"

namespace iniplace {

namespace {

template <typename Number>
Status read_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                   Number &number) {
    char value[line_size];
    if (const Status found = get_key(path, section, key, value, sizeof value); !found.ok())
        return found;
    return parse_number(value, radix, number) ? Status() : failed(Outcome::not_a_number);
}

} // namespace

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

Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  long &number) {
    return read_number(path, section, key, radix, number);
}

Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  unsigned long &number) {
    return read_number(path, section, key, radix, number);
}

Status set_key(const char *path, std::string_view section, std::string_view key,
               std::string_view value) {
    return write_line(path, section, find_key, key, key_line(section, key, value),
                      LineFound::replaced);
}

Status set_key(const char *path, std::string_view section, std::string_view key,
               const Text &value) {
    return value.fits() ? set_key(path, section, key, value.line()) : refused(Refusal::too_long);
}

Status delete_key(const char *path, std::string_view section, std::string_view key) {
    return remove_line(path, section, find_key, key);
}

} // namespace iniplace
