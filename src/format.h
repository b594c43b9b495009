// The file format in one place: what a header, a key line and an entry are,
// how a line is trimmed, which texts may be written and how long the written
// lines are. No I/O: the library and the iniplace tool share these rules.
#pragma once

#include <cstddef>
#include <string_view>

namespace iniplace {

// The working line buffer of every call.
constexpr std::size_t line_size = 1000;
// One read of a line takes at most this many bytes (a read size of 999 less
// its terminating zero); a longer physical line is read in pieces.
constexpr std::size_t piece_max = line_size - 2;
// The longest text written at one place: a line, or a header with its line.
constexpr std::size_t text_max = 998;
// Of a caller's entry or reference text, this many bytes are compared.
constexpr std::size_t compare_max = line_size - 1;

constexpr std::string_view wildcard = "*";

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

constexpr bool is_space(char c) {
    return is_blank(c) || c == '\n' || c == '\r';
}

constexpr bool is_wildcard(std::string_view name) {
    return name == wildcard;
}

constexpr bool holds_line_feed(std::string_view text) {
    return text.find('\n') != std::string_view::npos;
}

// A piece of a line as a line read sees it: up to its first zero byte.
constexpr std::string_view as_read(std::string_view piece) {
    return piece.substr(0, piece.find('\0'));
}

// Trims as trim_string() does: leading spaces and tabs are skipped, trailing
// spaces, tabs, line feeds and carriage returns dropped, but never the first
// byte left, so a blank line keeps its line feed (or carriage return).
constexpr std::string_view trimmed(std::string_view text) {
    text = as_read(text);
    std::size_t first = 0;
    while (first < text.size() && is_blank(text[first]))
        ++first;
    text.remove_prefix(first);
    std::size_t length = text.size();
    while (length > 1 && is_space(text[length - 1]))
        --length;
    return text.substr(0, length);
}

// The lines below are trimmed lines.

// A header ends the section before it, whatever follows its `[`.
constexpr bool is_header(std::string_view line) {
    return !line.empty() && line[0] == '[';
}

// `[name]`, exactly: `[ name ]` and `[name] x` name no section.
constexpr bool header_names(std::string_view line, std::string_view section) {
    return line.size() == section.size() + 2 && line.front() == '[' && line.back() == ']' &&
           line.substr(1, section.size()) == section;
}

// The section a header names, or an empty view for one that names none.
constexpr std::string_view header_name(std::string_view line) {
    return line.size() >= 2 && is_header(line) && line.back() == ']'
               ? line.substr(1, line.size() - 2)
               : std::string_view();
}

// A blank line reads as nothing, or as the one line feed or carriage
// return that trimming keeps.
constexpr bool is_blank_line(std::string_view line) {
    return line.empty() || (line.size() == 1 && (line[0] == '\n' || line[0] == '\r'));
}

constexpr bool is_key_line(std::string_view line) {
    return !is_header(line) && line.find('=') != std::string_view::npos;
}

// A key line matches `key` when it starts with it and a space, a tab or `=`
// follows; what stands between the key and the first `=` is not examined.
constexpr bool key_matches(std::string_view line, std::string_view key) {
    if (key.empty() || line.size() <= key.size() || line.substr(0, key.size()) != key)
        return false;
    const char after = line[key.size()];
    return is_blank(after) || after == '=';
}

// The key of a key line: what stands before its first space, tab or `=`.
constexpr std::string_view key_of(std::string_view line) {
    return line.substr(0, line.find_first_of(" \t="));
}

// The value of a key line: the text after its first `=`, trimmed.
constexpr std::string_view value_of(std::string_view line) {
    return trimmed(line.substr(line.find('=') + 1));
}

// What the library refuses to write, and why: a text it would write that
// does not read back as what the caller asked for.
enum class Refusal {
    none,
    key_empty,     // an empty key, or the wildcard
    key_character, // a key holding `=` or a line feed
    key_start,     // a key starting with `[`, a space or a tab
    line_feed,     // a section, value or entry holding a line feed
    entry_blank,   // an entry that is blank after trimming
    entry_header,  // an entry that would read as a header
    too_long,      // a text over text_max bytes
};

// A key that reads back as itself: ini_getkey finds its line again.
constexpr Refusal check_key(std::string_view key) {
    if (key.empty() || is_wildcard(key))
        return Refusal::key_empty;
    if (key.find_first_of("=\n") != std::string_view::npos)
        return Refusal::key_character;
    if (key[0] == '[' || is_blank(key[0]))
        return Refusal::key_start;
    return Refusal::none;
}

// The entry as the library compares it: its first compare_max bytes,
// trimmed.
constexpr std::string_view entry_text(std::string_view entry) {
    return trimmed(entry.substr(0, compare_max));
}

constexpr Refusal check_entry(std::string_view entry) {
    if (holds_line_feed(entry))
        return Refusal::line_feed;
    const std::string_view text = entry_text(entry);
    if (is_blank_line(text))
        return Refusal::entry_blank;
    if (is_header(text))
        return Refusal::entry_header;
    return Refusal::none;
}

// Lengths of the lines written, line feeds included.
constexpr std::size_t key_line_length(std::string_view key, std::string_view value) {
    return key.size() + 1 + value.size() + 1;
}
constexpr std::size_t entry_line_length(std::string_view entry) {
    return entry.size() + 1;
}
constexpr std::size_t header_line_length(std::string_view section) {
    return section.size() + 3;
}

constexpr bool fits(std::size_t length) {
    return length <= text_max;
}

// Everything ini_setkey refuses before it opens the file. A new section's
// header can only be judged once the scan found the section missing.
constexpr Refusal check_key_line(std::string_view section, std::string_view key,
                                 std::string_view value) {
    if (const Refusal refusal = check_key(key); refusal != Refusal::none)
        return refusal;
    if (holds_line_feed(section) || holds_line_feed(value))
        return Refusal::line_feed;
    return fits(key_line_length(key, value)) ? Refusal::none : Refusal::too_long;
}

// Everything ini_setsection_string refuses before it opens the file.
constexpr Refusal check_entry_line(std::string_view section, std::string_view entry) {
    if (holds_line_feed(section))
        return Refusal::line_feed;
    if (const Refusal refusal = check_entry(entry); refusal != Refusal::none)
        return refusal;
    return fits(entry_line_length(entry)) ? Refusal::none : Refusal::too_long;
}

// A new section `[section]` with its first line: does it fit?
constexpr bool new_section_fits(std::string_view section, std::size_t line_length) {
    return fits(header_line_length(section) + line_length);
}

} // namespace iniplace
