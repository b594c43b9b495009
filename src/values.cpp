#include "values.h"

#include "keys.h"

namespace iniplace {

namespace {

template <typename Number>
Status read_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                   Number &number) {
    char value[line_size];
    if (const Status found = get_key(path, section, key, value, sizeof value); !found.ok())
        return found;
    return parse_number(value, radix, number) ? Status()
                                              : failed(Outcome::not_a_number, Op::read, 0);
}

} // namespace

Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  long &number) {
    return read_number(path, section, key, radix, number);
}

Status get_number(const char *path, std::string_view section, std::string_view key, Radix radix,
                  unsigned long &number) {
    return read_number(path, section, key, radix, number);
}

Status set_text(const char *path, std::string_view section, std::string_view key,
                const Text &value) {
    return value.fits() ? set_key(path, section, key, value.line()) : refused(Refusal::too_long);
}

} // namespace iniplace
