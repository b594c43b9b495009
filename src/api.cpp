// The exported functions: each checks its arguments, calls the layer that
// does the work and turns the Status it returns into the public codes. None
// calls another exported function, so another library in the process that
// exports the same names changes nothing here.
#include "caller_copy.h"
#include "entries.h"
#include "iniplace.h"
#include "key_walk.h"
#include "keys.h"
#include "lines.h"
#include "on_stream.h"
#include "settings.h"

#include <pthread.h>

#include <cstddef>
#include <limits>

using namespace iniplace;

static_assert(INI_LINE_SIZE == line_size && INI_MAX_TEXT == text_max &&
                  INI_SETKEYS_MAX == settings_max,
              "the header's sizes are the library's");
static_assert(sizeof(ini_setting) == sizeof(Setting) &&
                  offsetof(ini_setting, value) == offsetof(Setting, value),
              "a setting is laid out as the library's");

namespace {

// Cancellation of the calling thread held off while it lives: the library
// unwinds none of its own frames, so a thread cancelled at one of its
// system calls would end without letting go of its lock or closing its
// file. A cancellation asked for meanwhile happens after the call. Neither
// call can fail with the states it is given.
class NoCancel {
  public:
    NoCancel() { (void)::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_state_); }
    ~NoCancel() {
        int ignored = 0;
        (void)::pthread_setcancelstate(old_state_, &ignored);
    }
    NoCancel(const NoCancel &) = delete;
    NoCancel &operator=(const NoCancel &) = delete;

  private:
    int old_state_ = 0;
};

// The code of a lookup, or of an edit that did not get to write.
int code(const Status &status) {
    switch (status.outcome) {
    case Outcome::done:
        return INI_OK;
    case Outcome::not_found:
        return INI_NOT_FOUND;
    case Outcome::refused:
    case Outcome::not_a_number:
        return INI_EINVAL;
    default:
        return INI_EOPEN;
    }
}

// The code of an edit by path. Once the file is open, a write that failed
// is not reported: the call returns INI_OK. This is the one place that
// drops it. The durable build, which puts the file back after such a
// failure, reports it: there INI_OK means the edit was made and synced.
int edit_code(const Status &status) {
    return status.is(Outcome::not_written) && !durable ? INI_OK : code(status);
}

int scan_code(Found found) {
    switch (found) {
    case Found::no_section:
        break;
    case Found::no_match:
        return INI_SCAN_BOUNDARY;
    case Found::match:
        return INI_SCAN_LINE;
    }
    return INI_SCAN_NONE;
}

Select selection(int mode) {
    switch (mode) {
    case INI_ENTRY_FIRST:
        return Select::first;
    case INI_ENTRY_MATCH:
        return Select::match;
    case INI_ENTRY_NEXT:
        return Select::next;
    case INI_ENTRY_PREV:
        return Select::previous;
    default:
        return Select::nothing;
    }
}

// The checks and the call of ini_getsection, shared with
// ini_getsection_string.
int look_up_entry(const char *path, const char *section, const char *ref, int mode, char *dst,
                  int len) {
    if (section == nullptr || is_wildcard(section))
        return INI_ESECTION;
    if (dst == nullptr || len < 1)
        return INI_EDEST;
    const bool compares = mode >= INI_ENTRY_MATCH && mode <= INI_ENTRY_PREV;
    if (path == nullptr || (ref == nullptr && compares))
        return INI_EINVAL;
    const std::string_view wanted = ref != nullptr ? entry_text(ref) : std::string_view();
    return code(
        get_entry(path, section, wanted, selection(mode), dst, static_cast<std::size_t>(len)));
}

// The typed getters store the default first, so every failure leaves it.
template <typename Number>
int get_typed(const char *path, const char *section, const char *key, Number *out, Number def,
              Radix radix) {
    if (out == nullptr)
        return INI_EINVAL;
    *out = def;
    if (path == nullptr || section == nullptr || key == nullptr)
        return INI_EINVAL;
    Number number{};
    const Status status = get_number(path, section, key, radix, number);
    if (status.ok())
        *out = number;
    return code(status);
}

int set_typed(const char *path, const char *section, const char *key, const Text &value) {
    if (path == nullptr || section == nullptr || key == nullptr)
        return INI_EINVAL;
    return edit_code(set_key(path, section, key, value));
}

bool any_null(std::initializer_list<const void *> pointers) {
    for (const void *pointer : pointers)
        if (pointer == nullptr)
            return true;
    return false;
}

} // namespace

extern "C" {

int ini_version(int *major, int *minor, int *micro) {
    if (major != nullptr)
        *major = INIPLACE_VERSION_MAJOR;
    if (minor != nullptr)
        *minor = INIPLACE_VERSION_MINOR;
    if (micro != nullptr)
        *micro = INIPLACE_VERSION_PATCH;
    return 1;
}

char *trim_string(char *s) {
    return s != nullptr ? trim_in_place(s) : nullptr;
}

int parse(FILE *stream, const char *section, const char *key, char *buf, int size) {
    const NoCancel held_off;
    if (any_null({stream, section, key, buf}) || size < 3)
        return INI_SCAN_NONE;
    return scan_code(scan_key_in(stream, buf, static_cast<std::size_t>(size), section, key));
}

int parse_section(FILE *stream, const char *section, char *buf, int size, int rewind) {
    const NoCancel held_off;
    if (any_null({stream, section, buf}) || size < 3)
        return INI_SCAN_NONE;
    return scan_code(
        scan_section_in(stream, buf, static_cast<std::size_t>(size), section, rewind != 0));
}

int file_ins(FILE *stream, long len, const void *data) {
    const NoCancel held_off;
    if (stream == nullptr || len <= 0 || data == nullptr)
        return -1;
    return insert_into_stream(stream, len, static_cast<const char *>(data)).ok() ? 0 : -1;
}

int file_cut(FILE *stream, long len) {
    const NoCancel held_off;
    if (stream == nullptr || len < 0 || !stream::refuse_appending(stream).ok())
        return -1;
    if (len == 0)
        return 0;
    return cut_from_stream(stream, len).ok() ? 0 : -1;
}

int ini_getkey(const char *path, const char *section, const char *key, char *dst, int len) {
    const NoCancel held_off;
    if (any_null({path, section, key, dst}) || len < 1)
        return INI_EINVAL;
    return code(get_key(path, section, key, dst, static_cast<std::size_t>(len)));
}

int ini_setkey(const char *path, const char *section, const char *key, const char *value) {
    const NoCancel held_off;
    if (any_null({path, section, key, value}))
        return INI_EINVAL;
    return edit_code(set_key(path, section, key, value));
}

int ini_delkey(const char *path, const char *section, const char *key) {
    const NoCancel held_off;
    if (any_null({path, section, key}))
        return INI_EINVAL;
    return edit_code(delete_key(path, section, key));
}

int ini_delsect(const char *path, const char *section) {
    const NoCancel held_off;
    if (any_null({path, section}))
        return INI_EINVAL;
    return edit_code(remove_section(path, section));
}

int ini_setkey_string(const char *path, const char *section, const char *key, const char *value) {
    const NoCancel held_off;
    if (value == nullptr)
        return INI_EINVAL;
    return set_typed(path, section, key, quoted_text(value));
}

int ini_setkey_long(const char *path, const char *section, const char *key, long value) {
    const NoCancel held_off;
    return set_typed(path, section, key, number_text(value));
}

int ini_setkey_ulong(const char *path, const char *section, const char *key, unsigned long value) {
    const NoCancel held_off;
    return set_typed(path, section, key, number_text(value, Base::decimal));
}

int ini_setkey_hex(const char *path, const char *section, const char *key, unsigned long value) {
    const NoCancel held_off;
    return set_typed(path, section, key, number_text(value, Base::hex));
}

int ini_setkey_bin(const char *path, const char *section, const char *key, long value) {
    const NoCancel held_off;
    return set_typed(path, section, key, binary_text(static_cast<unsigned long>(value)));
}

int ini_getkey_string(const char *path, const char *section, const char *key, char *dst, int len,
                      const char *def) {
    const NoCancel held_off;
    if (dst == nullptr || len < 1)
        return INI_EINVAL;
    char value[line_size];
    const Status status = any_null({path, section, key})
                              ? failed(Outcome::refused)
                              : get_key(path, section, key, value, sizeof value);
    const auto size = static_cast<std::size_t>(len);
    if (status.ok()) {
        copy_bounded(dst, size, unquoted(trimmed(value)));
    } else if (def != nullptr) {
        copy_bounded(dst, size, def);
    }
    return code(status);
}

int ini_getkey_long(const char *path, const char *section, const char *key, long *out, long def) {
    const NoCancel held_off;
    return get_typed(path, section, key, out, def, Radix::decimal_then_hex);
}

int ini_getkey_ulong(const char *path, const char *section, const char *key, unsigned long *out,
                     unsigned long def) {
    const NoCancel held_off;
    return get_typed(path, section, key, out, def, Radix::decimal_then_hex);
}

int ini_getkey_bin(const char *path, const char *section, const char *key, unsigned long *out,
                   unsigned long def) {
    const NoCancel held_off;
    return get_typed(path, section, key, out, def, Radix::binary);
}

int ini_getsection(const char *path, const char *section, const char *ref, int mode, char *dst,
                   int len) {
    const NoCancel held_off;
    return look_up_entry(path, section, ref, mode, dst, len);
}

int ini_getsection_string(const char *path, const char *section, const char *ref, int mode,
                          char *dst, int len, const char *def) {
    const NoCancel held_off;
    if (section != nullptr && !is_wildcard(section) && (dst == nullptr || len < 1))
        return INI_EINVAL;
    char entry[line_size];
    const int status = look_up_entry(path, section, ref, mode, entry, sizeof entry);
    if (dst == nullptr || len < 1)
        return status;
    const auto size = static_cast<std::size_t>(len);
    if (status == INI_OK)
        copy_bounded(dst, size, trimmed(entry));
    else if (def != nullptr)
        copy_bounded(dst, size, def);
    return status;
}

int ini_setsection_string(const char *path, const char *section, const char *entry) {
    const NoCancel held_off;
    if (any_null({path, section, entry}))
        return INI_EINVAL;
    return edit_code(add_entry(path, section, entry));
}

int ini_delsection_string(const char *path, const char *section, const char *entry) {
    const NoCancel held_off;
    if (any_null({path, section, entry}))
        return INI_EINVAL;
    return edit_code(remove_entry(path, section, entry));
}

int ini_getkeys(const char *path, const char *section, ini_key_handler handler, void *user) {
    const NoCancel held_off;
    if (path == nullptr || handler == nullptr)
        return INI_EINVAL;
    const bool every = section == nullptr || is_wildcard(section);
    int stopped = 0;
    const Status status = get_keys(path, every ? wildcard : section, every, handler, user, stopped);
    return stopped != 0 ? stopped : code(status);
}

int ini_setkeys(const char *path, const struct ini_setting *settings, int count) {
    const NoCancel held_off;
    if (path == nullptr || count < 0 || (settings == nullptr && count > 0))
        return INI_EINVAL;
    for (int i = 0; i < count; ++i)
        if (settings[i].section == nullptr || settings[i].key == nullptr)
            return INI_EINVAL;
    if (count == 0)
        return INI_OK;
    // A write that failed is reported here, in both builds.
    return code(set_keys(path, reinterpret_cast<const Setting *>(settings),
                         static_cast<std::size_t>(count)));
}

} // extern "C"
