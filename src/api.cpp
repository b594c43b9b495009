// The exported functions: each checks its arguments, calls the layer that
// does the work and turns the Status it returns into the public codes. None
// calls another exported function, so another library in the process that
// exports the same names changes nothing here.
#include "entries.h"
#include "iniplace.h"
#include "keys.h"
#include "move.h"
#include "scan.h"
#include "values.h"

#include <cstring>
#include <limits>

using namespace iniplace;

static_assert(INI_LINE_SIZE == line_size && INI_MAX_TEXT == text_max,
              "the header's sizes are the library's");

namespace {

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
    case Outcome::not_opened:
    case Outcome::not_regular:
    case Outcome::not_read:
    case Outcome::not_written:
    case Outcome::unsafe:
        break;
    }
    return INI_EOPEN;
}

// The code of an edit by path. Once the file is open, a write that failed
// is not reported: the call returns INI_OK. This is the one place that
// drops it. The durable build, which puts the file back after such a
// failure, reports it: there INI_OK means the edit was made and synced.
int edit_code(const Status &status) {
    return status.outcome == Outcome::not_written && !durable ? INI_OK : code(status);
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

// Trims `s` in place as trim_string() promises: every trailing space, tab,
// line feed and carriage return but the first byte becomes a zero byte.
char *trim_in_place(char *s) {
    const std::string_view text(s);
    const std::string_view kept = trimmed(text);
    const auto lead = static_cast<std::size_t>(kept.data() - text.data());
    std::memset(s + lead + kept.size(), 0, text.size() - lead - kept.size());
    return s + lead;
}

// Runs a scan on a caller's stream from where it stands and leaves the
// stream as the exported scanners promise: at the scan's offset, its error
// and end-of-file state cleared, the last piece read trimmed in `buf`.
template <typename Step> int scan_stream(FILE *stream, char *buf, int size, Step step) {
    const off_t start = io::position(stream);
    if (start < 0)
        return INI_SCAN_NONE;
    buf[size - 1] = '\0';
    char block[stream_block];
    const Io io(stream);
    LineReader in(io, start, -1, {block, sizeof block});
    Scanner scanner(in, buf, static_cast<std::size_t>(size) - 2);
    const Found found = step(scanner);
    const std::string_view last = scanner.last();
    if (!last.empty()) {
        std::memmove(buf, last.data(), last.size());
        buf[last.size()] = '\0';
        (void)trim_in_place(buf);
    }
    (void)io::seek(stream, in.offset());
    std::clearerr(stream);
    return scan_code(found);
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
    return edit_code(set_text(path, section, key, value));
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
    if (any_null({stream, section, key, buf}) || size < 3)
        return INI_SCAN_NONE;
    return scan_stream(stream, buf, size, [section, key](Scanner &scanner) {
        return scan_key(scanner, section, key);
    });
}

int parse_section(FILE *stream, const char *section, char *buf, int size, int rewind) {
    if (any_null({stream, section, buf}) || size < 3)
        return INI_SCAN_NONE;
    return scan_stream(stream, buf, size, [section, rewind](Scanner &scanner) {
        return scan_section(scanner, section, rewind != 0);
    });
}

int file_ins(FILE *stream, long len, const void *data) {
    off_t pos = 0, end = 0;
    if (stream == nullptr || len <= 0 || data == nullptr || !io::bounds(stream, pos, end))
        return -1;
    if (len > std::numeric_limits<off_t>::max() - std::max(pos, end)) {
        (void)io::seek(stream, pos);
        return -1;
    }
    char block[move_block];
    const bool inserted =
        replace_bytes(Io(stream), end, pos, 0,
                      {static_cast<const char *>(data), static_cast<std::size_t>(len)},
                      {block, sizeof block})
            .ok();
    // After the inserted bytes; back at the position when nothing was.
    const bool placed = io::seek(stream, inserted ? pos + len : pos);
    return inserted && placed ? 0 : -1;
}

int file_cut(FILE *stream, long len) {
    off_t pos = 0, end = 0;
    if (stream == nullptr || len < 0 || io::appends(stream))
        return -1;
    if (len == 0)
        return 0;
    if (!io::bounds(stream, pos, end))
        return -1;
    // Fewer bytes when the file ends sooner; nothing past its end.
    const off_t count = std::min<off_t>(len, std::max<off_t>(end - pos, 0));
    if (count == 0)
        return 0;
    char block[move_block];
    return replace_bytes(Io(stream), end, pos, count, {}, {block, sizeof block}).ok() ? 0 : -1;
}

int ini_getkey(const char *path, const char *section, const char *key, char *dst, int len) {
    if (any_null({path, section, key, dst}) || len < 1)
        return INI_EINVAL;
    return code(get_key(path, section, key, dst, static_cast<std::size_t>(len)));
}

int ini_setkey(const char *path, const char *section, const char *key, const char *value) {
    if (any_null({path, section, key, value}))
        return INI_EINVAL;
    return edit_code(set_key(path, section, key, value));
}

int ini_delkey(const char *path, const char *section, const char *key) {
    if (any_null({path, section, key}))
        return INI_EINVAL;
    return edit_code(delete_key(path, section, key));
}

int ini_delsect(const char *path, const char *section) {
    if (any_null({path, section}))
        return INI_EINVAL;
    return edit_code(delete_section(path, section));
}

int ini_setkey_string(const char *path, const char *section, const char *key, const char *value) {
    if (value == nullptr)
        return INI_EINVAL;
    return set_typed(path, section, key, quoted_text(value));
}

int ini_setkey_long(const char *path, const char *section, const char *key, long value) {
    return set_typed(path, section, key, number_text(value));
}

int ini_setkey_ulong(const char *path, const char *section, const char *key, unsigned long value) {
    return set_typed(path, section, key, number_text(value, Base::decimal));
}

int ini_setkey_hex(const char *path, const char *section, const char *key, unsigned long value) {
    return set_typed(path, section, key, number_text(value, Base::hex));
}

int ini_setkey_bin(const char *path, const char *section, const char *key, long value) {
    return set_typed(path, section, key, binary_text(static_cast<unsigned long>(value)));
}

int ini_getkey_string(const char *path, const char *section, const char *key, char *dst, int len,
                      const char *def) {
    if (dst == nullptr || len < 1)
        return INI_EINVAL;
    char value[line_size];
    const Status status = any_null({path, section, key})
                              ? refused(Refusal::none)
                              : get_key(path, section, key, value, sizeof value);
    const auto size = static_cast<std::size_t>(len);
    if (status.ok()) {
        // One pair of enclosing double quotes goes.
        std::string_view text = trimmed(value);
        if (text.size() > 1 && text.front() == '"' && text.back() == '"')
            text = head(after(text, 1), text.size() - 2);
        copy_bounded(dst, size, text);
    } else if (def != nullptr) {
        copy_bounded(dst, size, def);
    }
    return code(status);
}

int ini_getkey_long(const char *path, const char *section, const char *key, long *out, long def) {
    return get_typed(path, section, key, out, def, Radix::decimal_then_hex);
}

int ini_getkey_ulong(const char *path, const char *section, const char *key, unsigned long *out,
                     unsigned long def) {
    return get_typed(path, section, key, out, def, Radix::decimal_then_hex);
}

int ini_getkey_bin(const char *path, const char *section, const char *key, unsigned long *out,
                   unsigned long def) {
    return get_typed(path, section, key, out, def, Radix::binary);
}

int ini_getsection(const char *path, const char *section, const char *ref, int mode, char *dst,
                   int len) {
    return look_up_entry(path, section, ref, mode, dst, len);
}

int ini_getsection_string(const char *path, const char *section, const char *ref, int mode,
                          char *dst, int len, const char *def) {
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
    if (any_null({path, section, entry}))
        return INI_EINVAL;
    return edit_code(add_entry(path, section, entry));
}

int ini_delsection_string(const char *path, const char *section, const char *entry) {
    if (any_null({path, section, entry}))
        return INI_EINVAL;
    return edit_code(remove_entry(path, section, entry));
}

} // extern "C"
