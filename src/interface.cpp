// The interface layer: deletion, typed values, entry lists and the version,
// all built on the core's scanners and editing primitives.
#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace iniplace {

namespace {

// A value is converted only when the conversion takes the whole text and
// reports no range error.
template <typename Number> Number convert(const char *text, char **end, int base);

template <> long convert<long>(const char *text, char **end, int base) {
    return std::strtol(text, end, base);
}

template <> unsigned long convert<unsigned long>(const char *text, char **end, int base) {
    return std::strtoul(text, end, base);
}

// Some C libraries accept 0b in base 2; a binary value here has no prefix.
bool has_binary_prefix(const char *text) {
    if (*text == '+' || *text == '-')
        ++text;
    return text[0] == '0' && (text[1] == 'b' || text[1] == 'B');
}

template <typename Number, std::size_t Bases>
int get_number(const char *path, const char *section, const char *key, Number *out, Number def,
               const int (&bases)[Bases]) {
    if (out == nullptr)
        return INI_EINVAL;
    *out = def;
    if (path == nullptr || section == nullptr || key == nullptr)
        return INI_EINVAL;
    char value[line_size];
    const int status = ini_getkey(path, section, key, value, line_size);
    if (status != INI_OK)
        return status;
    if (value[0] == '\0')
        return INI_EINVAL;
    const char *text = trim_string(value);
    for (const int base : bases) {
        if (base == 2 && has_binary_prefix(text))
            break;
        char *end = nullptr;
        errno = 0;
        const Number number = convert<Number>(text, &end, base);
        if (errno == 0 && *end == '\0') {
            *out = number;
            return INI_OK;
        }
    }
    return INI_EINVAL;
}

constexpr int decimal_then_hex[] = {10, 16};
constexpr int binary_only[] = {2};

template <typename... Args>
int set_formatted(const char *path, const char *section, const char *key, const char *format,
                  Args... value) {
    char text[line_size];
    std::snprintf(text, sizeof text, format, value...);
    return ini_setkey(path, section, key, text);
}

// Copies with the C library's bounded copy: zero-filled when shorter than
// `len`, not terminated when as long or longer.
void copy_bounded(char *dst, const char *text, int len) {
    std::strncpy(dst, text, static_cast<std::size_t>(len));
}

bool section_is_valid(const char *section) {
    return section != nullptr && !is_wildcard(section);
}

} // namespace

} // namespace iniplace

using namespace iniplace;

extern "C" {

int ini_version(int *major, int *minor, int *micro) {
    if (major != nullptr)
        *major = 1;
    if (minor != nullptr)
        *minor = 0;
    if (micro != nullptr)
        *micro = 0;
    return 1;
}

int ini_delkey(const char *path, const char *section, const char *key) {
    if (path == nullptr || section == nullptr || key == nullptr)
        return INI_EINVAL;
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    char line[line_size];
    LineReader in(file);
    if (scan_key(in, section, key, line, line_size) != INI_SCAN_LINE)
        return INI_OK;
    return cut_line(file, in, line);
}

int ini_delsect(const char *path, const char *section) {
    if (path == nullptr || section == nullptr)
        return INI_EINVAL;
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    char line[line_size];
    LineReader in(file);
    if (scan_key(in, section, "", line, line_size) == INI_SCAN_NONE)
        return INI_OK;
    const off_t start = in.offset();
    (void)in.next(line, piece_max);
    (void)scan_key(in, "*", "", line, line_size);
    const off_t end = in.offset();
    if (end > start)
        cut_bytes(file, in, start, end - start);
    return INI_OK;
}

int ini_setkey_string(const char *path, const char *section, const char *key, const char *value) {
    if (value == nullptr || !text_fits(std::strlen(value) + 2))
        return INI_EINVAL;
    return set_formatted(path, section, key, "\"%s\"", value);
}

int ini_setkey_long(const char *path, const char *section, const char *key, long value) {
    return set_formatted(path, section, key, "%ld", value);
}

int ini_setkey_ulong(const char *path, const char *section, const char *key, unsigned long value) {
    return set_formatted(path, section, key, "%lu", value);
}

int ini_setkey_hex(const char *path, const char *section, const char *key, unsigned long value) {
    return set_formatted(path, section, key, "0x%lX", value);
}

int ini_setkey_bin(const char *path, const char *section, const char *key, long value) {
    constexpr int bits = 32;
    char digits[bits + 1];
    const auto pattern = static_cast<unsigned long>(value);
    for (int bit = bits - 1; bit >= 0; --bit)
        digits[bits - 1 - bit] = (pattern >> bit) & 1UL ? '1' : '0';
    digits[bits] = '\0';
    return ini_setkey(path, section, key, digits);
}

int ini_getkey_string(const char *path, const char *section, const char *key, char *dst, int len,
                      const char *def) {
    if (dst == nullptr || len < 1)
        return INI_EINVAL;
    char value[line_size];
    const int status = path != nullptr && section != nullptr && key != nullptr
                           ? ini_getkey(path, section, key, value, line_size)
                           : INI_EINVAL;
    if (status != INI_OK) {
        if (def != nullptr)
            copy_bounded(dst, def, len);
        return status;
    }
    char *text = trim_string(value);
    const std::size_t length = std::strlen(text);
    if (length > 1 && text[0] == '"' && text[length - 1] == '"') {
        text[length - 1] = '\0';
        ++text;
    }
    copy_bounded(dst, text, len);
    return INI_OK;
}

int ini_getkey_long(const char *path, const char *section, const char *key, long *out, long def) {
    return get_number(path, section, key, out, def, decimal_then_hex);
}

int ini_getkey_ulong(const char *path, const char *section, const char *key, unsigned long *out,
                     unsigned long def) {
    return get_number(path, section, key, out, def, decimal_then_hex);
}

int ini_getkey_bin(const char *path, const char *section, const char *key, unsigned long *out,
                   unsigned long def) {
    return get_number(path, section, key, out, def, binary_only);
}

int ini_getsection_string(const char *path, const char *section, const char *ref, int mode,
                          char *dst, int len, const char *def) {
    const bool usable_dst = dst != nullptr && len >= 1;
    char entry[line_size];
    int status = INI_ESECTION;
    if (section_is_valid(section))
        status =
            usable_dst ? ini_getsection(path, section, ref, mode, entry, line_size) : INI_EINVAL;
    if (!usable_dst)
        return status;
    if (status == INI_OK)
        copy_bounded(dst, trim_string(entry), len);
    else if (def != nullptr)
        copy_bounded(dst, def, len);
    return status;
}

int ini_setsection_string(const char *path, const char *section, const char *entry) {
    if (path == nullptr || section == nullptr || entry == nullptr || holds_line_feed(section) ||
        holds_line_feed(entry))
        return INI_EINVAL;
    char reference[line_size];
    const std::string_view wanted = trimmed_copy(entry, reference);
    if (wanted.empty() || wanted[0] == '[')
        return INI_EINVAL;
    const std::size_t line_length = std::strlen(entry) + 1;
    const bool preamble = is_wildcard(section);
    const std::size_t header_length = preamble ? 0 : std::strlen(section) + 3;
    if (!text_fits(line_length))
        return INI_EINVAL;

    File file;
    const int opened = open_for_set(file, path, text_fits(header_length + line_length));
    if (opened != INI_OK)
        return opened;
    char line[line_size];
    char buffer[line_size + 1];
    char *text = buffer + 1;
    LineReader in(file);
    int scanned = scan_section(in, section, line, line_size, true);
    if (scanned == INI_SCAN_NONE && !preamble) {
        if (!text_fits(header_length + line_length))
            return INI_EINVAL;
        std::snprintf(text, line_size, "[%s]\n%s\n", section, entry);
        insert_lines(file, in, in.offset(), text, header_length + line_length);
        return INI_OK;
    }
    for (; scanned == INI_SCAN_LINE; scanned = scan_section(in, "*", line, line_size, true)) {
        if (wanted == trim_string(line))
            return INI_OK;
        if (scan_section(in, "*", line, line_size, false) != INI_SCAN_LINE)
            return INI_EREREAD;
    }
    std::snprintf(text, line_size, "%s\n", entry);
    insert_lines(file, in, in.offset(), text, line_length);
    return INI_OK;
}

int ini_delsection_string(const char *path, const char *section, const char *entry) {
    if (path == nullptr || section == nullptr || entry == nullptr)
        return INI_EINVAL;
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    char reference[line_size];
    const std::string_view wanted = trimmed_copy(entry, reference);
    char line[line_size];
    LineReader in(file);
    for (int scanned = scan_section(in, section, line, line_size, true); scanned == INI_SCAN_LINE;
         scanned = scan_section(in, "*", line, line_size, true)) {
        if (wanted == trim_string(line))
            return cut_line(file, in, line);
        if (scan_section(in, "*", line, line_size, false) != INI_SCAN_LINE)
            return INI_OK;
    }
    return INI_OK;
}

} // extern "C"
