// A plain model of the library's rules, as its manual gives them, on a file
// held in memory: what each call returns, the bytes of the file it leaves
// and what it writes into a caller's buffer. None of the library's code:
// the file is cut into lines and pieces of lines first, then each rule is
// a few lines over them. The oracle of model_test.cpp and of the fuzz
// target.
#pragma once

#include "iniplace.h"

#include <bitset>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace model {

using File = std::optional<std::string>; // none: missing
constexpr std::size_t piece_max = 998, text_max = 998, compare_max = 999;
constexpr auto npos = std::string::npos;

// A string as C reads it (up to a zero byte), trimmed: leading spaces and
// tabs go, trailing blanks, line feeds and carriage returns too, but never
// the first byte left.
inline std::string trim(std::string s) {
    s.resize(std::strlen(s.c_str()));
    s.erase(0, std::min(s.find_first_not_of(" \t"), s.size()));
    while (s.size() > 1 && std::string_view(" \t\r\n").find(s.back()) != npos)
        s.pop_back();
    return s;
}

// A piece of a line: at most 998 bytes of it, each a line of its own.
struct Piece {
    std::size_t start, line_end; // its first byte; the end of its physical line
    std::string text;            // trimmed
    bool header() const { return !text.empty() && text[0] == '['; }
};

inline std::vector<Piece> pieces(const std::string &file) {
    std::vector<Piece> all;
    for (std::size_t line = 0, end; line < file.size(); line = end) {
        end = std::min(file.find('\n', line), file.size() - 1) + 1;
        for (std::size_t at = line; at < end; at += piece_max)
            all.push_back({at, end, trim(file.substr(at, std::min(piece_max, end - at)))});
    }
    return all;
}

// The pieces of the first section `name` ("*": the preamble), after its
// header up to the next header; none when it is missing.
inline std::optional<std::pair<std::size_t, std::size_t>> section_of(const std::vector<Piece> &all,
                                                                     const std::string &name) {
    std::size_t first = 0;
    if (name != "*") {
        while (first < all.size() && all[first].text != "[" + name + "]")
            ++first;
        if (first++ == all.size())
            return std::nullopt;
    }
    std::size_t end = first;
    while (end < all.size() && !all[end].header())
        ++end;
    return std::pair(first, end);
}

inline bool is_key_line(const std::string &text, const std::string &key) {
    if (text.find('=') == npos)
        return false;
    return key == "*" ||
           (!key.empty() && text.size() > key.size() && text.compare(0, key.size(), key) == 0 &&
            std::string_view(" \t=").find(text[key.size()]) != npos);
}

inline std::string value_of(const std::string &text) {
    return trim(text.substr(text.find('=') + 1));
}

// Where the first line of `section` that `matches` stands, or where a
// line added to it goes: before the next header, or at the end.
struct Spot {
    const Piece *found = nullptr;
    std::size_t insert = 0;
    bool section = false;
};
template <typename Matches>
Spot spot_in(const std::vector<Piece> &all, std::size_t size, const std::string &section,
             Matches matches) {
    const auto range = section_of(all, section);
    if (!range)
        return {nullptr, size, false};
    for (std::size_t i = range->first; i < range->second; ++i)
        if (matches(all[i].text))
            return {&all[i], 0, true};
    return {nullptr, range->second < all.size() ? all[range->second].start : size, true};
}

// Writes `line` into `section` over the line that `matches` (or, unless
// `replace`, keeps it), else at the section's end, else under a new
// header at the end of the file; a line feed first where the byte before
// is none. The text written at one place fits 998 bytes or is refused.
template <typename Matches>
int write(File &file, const std::string &section, const std::string &line, bool replace,
          Matches matches) {
    std::string bytes = file.value_or("");
    const auto all = pieces(bytes);
    const Spot spot = spot_in(all, bytes.size(), section, matches);
    if (spot.found && !replace)
        return 0;
    const std::string text = spot.section ? line : "[" + section + "]\n" + line;
    if (text.size() > text_max)
        return -2;
    if (spot.found)
        bytes.replace(spot.found->start, spot.found->line_end - spot.found->start, text);
    else
        bytes.insert(spot.insert,
                     (spot.insert > 0 && bytes[spot.insert - 1] != '\n' ? "\n" : "") + text);
    file = bytes;
    return 0;
}

// Removes the whole line (from the piece found) that `matches`.
template <typename Matches> int remove(File &file, const std::string &section, Matches matches) {
    if (!file)
        return -1;
    const auto all = pieces(*file);
    if (const Spot spot = spot_in(all, file->size(), section, matches); spot.found)
        file->erase(spot.found->start, spot.found->line_end - spot.found->start);
    return 0;
}

inline int get(const File &file, const std::string &section, const std::string &key,
               std::string &value) {
    if (!file)
        return -1;
    const auto all = pieces(*file);
    const Spot spot =
        spot_in(all, file->size(), section, [&](auto &text) { return is_key_line(text, key); });
    if (spot.found)
        value = value_of(spot.found->text);
    return spot.found ? 0 : 1;
}

inline int set(File &file, const std::string &section, const std::string &key,
               const std::string &value) {
    if (key.empty() || key == "*" || key.find_first_of("=\n") != npos ||
        std::string_view("[ \t").find(key[0]) != npos || (section + value).find('\n') != npos ||
        key.size() + value.size() + 2 > text_max)
        return -2;
    return write(file, section, key + "=" + value + "\n", true,
                 [&](auto &text) { return is_key_line(text, key); });
}

inline int del(File &file, const std::string &section, const std::string &key) {
    return remove(file, section, [&](auto &text) { return is_key_line(text, key); });
}

// From the first header of `section` ("*": any) up to the next header.
inline int del_section(File &file, const std::string &section) {
    if (!file)
        return -1;
    const auto all = pieces(*file);
    std::size_t first = 0, end;
    while (first < all.size() &&
           !(all[first].header() && (section == "*" || all[first].text == "[" + section + "]")))
        ++first;
    for (end = first + 1; end < all.size() && !all[end].header();)
        ++end;
    if (first < all.size())
        file->erase(all[first].start,
                    (end < all.size() ? all[end].start : file->size()) - all[first].start);
    return 0;
}

inline std::string entry_text(const std::string &entry) {
    return trim(entry.substr(0, compare_max));
}

inline int add(File &file, const std::string &section, const std::string &entry) {
    const std::string wanted = entry_text(entry);
    if ((section + entry).find('\n') != npos || wanted.empty() || wanted[0] == '[' ||
        entry.size() + 1 > text_max)
        return -2;
    return write(file, section, entry + "\n", false, [&](auto &text) { return text == wanted; });
}

inline int drop(File &file, const std::string &section, const std::string &entry) {
    return remove(file, section, [&](auto &text) { return text == entry_text(entry); });
}

// Copies as strncpy into the first `len` bytes of `dst`.
inline void copy_bounded(std::string &dst, std::size_t len, const std::string &text) {
    for (std::size_t i = 0; i < len; ++i)
        dst[i] = i < text.size() ? text[i] : '\0';
}

// ini_getsection into `dst` of `len` bytes: the walk copies each candidate
// as it goes, and a failure clears the first byte only.
inline int get_entry(const File &file, const std::string &section, const std::string &ref, int mode,
                     std::string &dst, std::size_t len, bool null_ref = false) {
    if (section == "*")
        return -102;
    if (null_ref && mode >= 1 && mode <= 3)
        return -2;
    dst[0] = '\0';
    if (!file)
        return -1;
    const auto all = pieces(*file);
    const auto range = section_of(all, section);
    const auto copy = [&](const std::string &entry) {
        copy_bounded(dst, len, entry);
        dst[len - 1] = '\0';
    };
    int status = 1;
    bool after_match = false;
    for (std::size_t i = range ? range->first : 0; range && i < range->second; ++i) {
        const std::string &entry = all[i].text;
        const bool equal = entry == entry_text(ref);
        if (mode == 3 && equal) {
            status = dst[0] != '\0' ? 0 : 1;
            break;
        }
        const bool picked = mode == 0 || (mode == 1 && equal) || (mode == 2 && after_match);
        if (picked || mode == 3)
            copy(entry);
        if (picked || mode < 0 || mode > 3) {
            status = picked ? 0 : 1;
            break;
        }
        after_match = equal;
    }
    if (status != 0)
        dst[0] = '\0';
    return status;
}

// A number as strtol or strtoul reads all of `text` in `base`: white space,
// a sign (which the unsigned one wraps around), 0x in base 16, and a range
// error. `given`: as a person's value is read, no minus sign for an
// unsigned number, no 0b.
template <typename Number>
std::optional<Number> number(const std::string &text, int base, bool given = false) {
    std::string_view digits = text;
    digits.remove_prefix(std::min(digits.find_first_not_of(" \t\n\v\f\r"), digits.size()));
    const bool minus = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+'))
        digits.remove_prefix(1);
    const bool prefix = digits.size() > 2 && digits[0] == '0' && (digits[1] | 0x20) == 'x' &&
                        std::isxdigit(static_cast<unsigned char>(digits[2]));
    if (given && ((minus && std::is_unsigned_v<Number>) ||
                  (digits.size() > 1 && digits[0] == '0' && (digits[1] | 0x20) == 'b')))
        return std::nullopt;
    if (base == 16 && prefix)
        digits.remove_prefix(2);
    unsigned long magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (std::is_signed_v<Number> && magnitude > (minus ? 1UL + LONG_MAX : LONG_MAX))
        return std::nullopt;
    return static_cast<Number>(minus ? 0UL - magnitude : magnitude);
}

// Decimal, else hexadecimal; or binary alone.
template <typename Number>
std::optional<Number> typed(const std::string &text, bool binary, bool given = false) {
    if (binary)
        return number<Number>(text, 2, given);
    const auto decimal = number<Number>(text, 10, given);
    return decimal ? decimal : number<Number>(text, 16, given);
}

// The texts the typed setters write.
inline std::string hex_text(unsigned long value) {
    char digits[32] = {};
    std::to_chars(digits, digits + sizeof digits, value, 16);
    for (char &digit : digits)
        digit = static_cast<char>(std::toupper(digit));
    return "0x" + std::string(digits);
}
inline std::string bin_text(long value) {
    return std::bitset<32>(static_cast<unsigned long>(value)).to_string();
}

// Every key a get reaches, with its value, in file order: of a section's
// first header only, a key's first line only, never the key "*".
struct Key {
    std::string section, key, value;
    bool operator==(const Key &other) const {
        return section == other.section && key == other.key && value == other.value;
    }
};
inline std::vector<Key> keys(const std::string &file) {
    std::vector<Key> all;
    std::set<std::string> sections = {"*"}, seen;
    std::string section = "*";
    bool reached = true;
    for (const Piece &piece : pieces(file)) {
        const std::string &text = piece.text;
        if (piece.header()) {
            reached = text.size() > 1 && text.back() == ']' &&
                      sections.insert(section = text.substr(1, text.size() - 2)).second;
            continue;
        }
        const std::string key = text.substr(0, text.find_first_of(" \t="));
        if (reached && text.find('=') != npos && !key.empty() && key != "*" &&
            seen.insert(section + '\n' + key).second)
            all.push_back({section, key, value_of(text)});
    }
    return all;
}

// What a scanner leaves: its result, the stream's offset, and its line
// buffer as a string: the last piece read, trimmed in place (the leading
// blanks stay), empty when it read none.
struct Scanned {
    int result;
    std::size_t at;
    std::string buffer;
    bool operator==(const Scanned &other) const {
        return result == other.result && at == other.at && buffer == other.buffer;
    }
};

// parse() (with a key) or parse_section() from `at`, reading pieces of
// size - 2 bytes.
inline Scanned scan(const std::string &bytes, std::size_t at, const std::string &section,
                    const std::string *key, std::size_t size, bool rewind) {
    bool inside = section == "*", found = false;
    std::string buffer;
    for (std::size_t start = at;; start = at) {
        if (at >= bytes.size())
            return {found, at, buffer};
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
        const std::string piece = bytes.substr(at, std::min(end - at, size - 2)).c_str();
        at += std::min(end - at, size - 2);
        const std::string text = trim(piece);
        buffer = piece.substr(0, std::min(piece.find_first_not_of(" \t"), piece.size())) + text;
        const auto stop = [&](int result) {
            return Scanned{result, key != nullptr || rewind ? start : at, buffer};
        };
        if (!text.empty() && text[0] == '[') {
            if (inside || (key != nullptr && key->empty() && text == "[" + section + "]"))
                return stop(1);
            inside = found = text == "[" + section + "]";
        } else if (inside && (key == nullptr || is_key_line(text, *key))) {
            return stop(2);
        }
    }
}

// One call of the interface, made through the library (run) or worked out
// by the model (expect): its status, the file it leaves, and in `dst` what
// it writes into a caller's 1 KB buffer, the number a typed getter stores
// (the default is 7), or the keys a walk hands.
// clang-format off
enum class Op {
    get, set, del, del_section, get_entry, add, drop, get_string, get_entry_string,
    get_long, get_ulong, get_bin, set_string, set_long, set_ulong, set_hex, set_bin,
    get_keys, set_keys, count
};
// clang-format on

struct Call {
    Op op;
    std::string section, key, value; // key: an entry or a reference too
    int mode = 0, len = 1;           // of the getters that copy
    long number = 0;                 // of the typed setters
    bool null = false;               // a null default, reference or value
    std::vector<Call> batch;         // of set_keys: sets and dels
};

inline int run(const Call &c, const char *path, std::string &dst) {
    const char *s = c.section.c_str(), *k = c.key.c_str(), *v = c.null ? nullptr : c.value.c_str();
    const auto u = static_cast<unsigned long>(c.number);
    long number = 0;
    unsigned long bits = 0;
    int status = 0;
    std::vector<ini_setting> settings;
    // clang-format off
    switch (c.op) {
    case Op::get: return ini_getkey(path, s, k, dst.data(), c.len);
    case Op::set: return ini_setkey(path, s, k, v);
    case Op::del: return ini_delkey(path, s, k);
    case Op::del_section: return ini_delsect(path, s);
    case Op::get_entry:
        return ini_getsection(path, s, c.null ? nullptr : k, c.mode, dst.data(), c.len);
    case Op::add: return ini_setsection_string(path, s, k);
    case Op::drop: return ini_delsection_string(path, s, k);
    case Op::get_string: return ini_getkey_string(path, s, k, dst.data(), c.len, v);
    case Op::get_entry_string:
        return ini_getsection_string(path, s, k, c.mode, dst.data(), c.len, v);
    case Op::get_long: status = ini_getkey_long(path, s, k, &number, 7); break;
    case Op::get_ulong: status = ini_getkey_ulong(path, s, k, &bits, 7); break;
    case Op::get_bin: status = ini_getkey_bin(path, s, k, &bits, 7); break;
    case Op::set_string: return ini_setkey_string(path, s, k, v);
    case Op::set_long: return ini_setkey_long(path, s, k, c.number);
    case Op::set_ulong: return ini_setkey_ulong(path, s, k, u);
    case Op::set_hex: return ini_setkey_hex(path, s, k, u);
    case Op::set_bin: return ini_setkey_bin(path, s, k, c.number);
    case Op::get_keys: {
        dst.clear();
        std::pair<std::string *, int> walk(&dst, c.len); // the handler stops it after len keys
        return ini_getkeys(
            path, s,
            [](void *to, const char *section, const char *key, const char *value) {
                auto &[keys, left] = *static_cast<std::pair<std::string *, int> *>(to);
                *keys += std::string(section) + '\n' + key + '\n' + value + '\n';
                return --left == 0 ? 7 : 0;
            },
            &walk);
    }
    case Op::set_keys:
        for (const Call &one : c.batch)
            settings.push_back({one.section.c_str(), one.key.c_str(),
                                one.op == Op::set ? one.value.c_str() : nullptr});
        return ini_setkeys(path, settings.data(), static_cast<int>(settings.size()));
    case Op::count: break;
    }
    // clang-format on
    dst = c.op == Op::get_long ? std::to_string(number) : std::to_string(bits);
    return status;
}

template <typename Number>
int get_number(const File &file, const Call &c, bool binary, std::string &dst) {
    std::string value;
    int status = get(file, c.section, c.key, value);
    const auto number = status == 0 ? typed<Number>(value, binary) : std::nullopt;
    if (status == 0 && !number)
        status = -2;
    dst = std::to_string(number.value_or(7));
    return status;
}

inline int expect(const Call &c, File &file, std::string &dst) {
    const std::string &s = c.section, &k = c.key, &v = c.value;
    const auto len = static_cast<std::size_t>(c.len);
    const auto u = static_cast<unsigned long>(c.number);
    std::string value, entry(1000, '\0');
    int status = 0, handed = 0;
    // clang-format off
    switch (c.op) {
    case Op::get:
        if ((status = get(file, s, k, value)) == 0) {
            copy_bounded(dst, len, value);
            dst[len - 1] = '\0';
        }
        return status;
    case Op::set: return set(file, s, k, v);
    case Op::del: return del(file, s, k);
    case Op::del_section: return del_section(file, s);
    case Op::get_entry: return get_entry(file, s, k, c.mode, dst, len, c.null);
    case Op::add: return add(file, s, k);
    case Op::drop: return drop(file, s, k);
    case Op::get_string:
        if ((status = get(file, s, k, value)) == 0 && value.size() > 1 && value[0] == '"' &&
            value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (status == 0 || !c.null)
            copy_bounded(dst, len, status == 0 ? value : v);
        return status;
    case Op::get_entry_string:
        status = get_entry(file, s, k, c.mode, entry, entry.size());
        if (status == 0 || !c.null)
            copy_bounded(dst, len, status == 0 ? entry.c_str() : v);
        return status;
    case Op::get_long: return get_number<long>(file, c, false, dst);
    case Op::get_ulong: return get_number<unsigned long>(file, c, false, dst);
    case Op::get_bin: return get_number<unsigned long>(file, c, true, dst);
    case Op::set_string: return set(file, s, k, '"' + v + '"');
    case Op::set_long: return set(file, s, k, std::to_string(c.number));
    case Op::set_ulong: return set(file, s, k, std::to_string(u));
    case Op::set_hex: return set(file, s, k, hex_text(u));
    case Op::set_bin: return set(file, s, k, bin_text(c.number));
    case Op::get_keys:
        dst.clear();
        if (!file)
            return -1;
        if (s != "*" && !section_of(pieces(*file), s))
            return 1;
        for (const Key &key : keys(*file)) {
            if (s != "*" && key.section != s)
                continue;
            dst += key.section + '\n' + key.key + '\n' + key.value + '\n';
            if (++handed == c.len)
                return 7; // what the handler returns to stop the walk
        }
        return 0;
    case Op::set_keys: {
        File batch = file;
        bool makes = false;
        for (const Call &one : c.batch) {
            const bool sets = one.op == Op::set;
            if ((sets ? set(batch, one.section, one.key, one.value)
                      : del(batch, one.section, one.key)) == -2)
                return -2;
            makes |= sets;
        }
        if (!file && !makes)
            return -1;
        file = batch;
        return 0;
    }
    case Op::count: break;
    }
    // clang-format on
    return 0;
}

} // namespace model
