// The file format as the library reads it, in one place: what a header, a
// key line and an entry are, how a line is trimmed, and which keys and
// entries read back as themselves. No I/O.
#pragma once

#include "status.h"

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

// Views into a text without the range checks of substr(), which would tie
// the library to the C++ runtime for an exception it never throws.
constexpr std::string_view head(std::string_view text, std::size_t count) {
    return {text.data(), count < text.size() ? count : text.size()};
}
constexpr std::string_view after(std::string_view text, std::size_t skipped) {
    text.remove_prefix(skipped < text.size() ? skipped : text.size());
    return text;
}

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
    return head(piece, piece.find('\0'));
}

// Trims as trim_string() does: leading spaces and tabs are skipped, trailing
// spaces, tabs, line feeds and carriage returns dropped, but never the first
// byte left, so a blank line keeps its line feed (or carriage return).
// As trimmed(), for a text known to hold no zero byte.
constexpr std::string_view trimmed_as_read(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size() && is_blank(text[first]))
        ++first;
    text.remove_prefix(first);
    std::size_t length = text.size();
    while (length > 1 && is_space(text[length - 1]))
        --length;
    return head(text, length);
}

constexpr std::string_view trimmed(std::string_view text) {
    return trimmed_as_read(as_read(text));
}

// Trims `s` in place as trimmed() reads it: every trailing byte it drops
// becomes a zero byte. Returns the start of the trimmed text.
inline char *trim_in_place(char *s) {
    const std::string_view text(s);
    const std::string_view kept = trimmed(text);
    const auto lead = static_cast<std::size_t>(kept.data() - text.data());
    for (std::size_t i = lead + kept.size(); i < text.size(); ++i)
        s[i] = '\0';
    return s + lead;
}

// The lines below are trimmed lines.

// A header ends the section before it, whatever follows its `[`.
constexpr bool is_header(std::string_view line) {
    return !line.empty() && line[0] == '[';
}

// The section a header names: `[name]` exactly (`[ name ]` and `[name] x`
// name no section), in `name`; false for one that names none.
constexpr bool named_by(std::string_view header, std::string_view &name) {
    if (header.size() < 2 || header.front() != '[' || header.back() != ']')
        return false;
    name = head(after(header, 1), header.size() - 2);
    return true;
}

constexpr bool header_names(std::string_view line, std::string_view section) {
    std::string_view name;
    return line.size() == section.size() + 2 && named_by(line, name) && name == section;
}

constexpr bool is_key_line(std::string_view line) {
    return !is_header(line) && line.find('=') != std::string_view::npos;
}

// A key line matches `key` when it starts with it and a space, a tab or `=`
// follows; what stands between the key and the first `=` is not examined.
constexpr bool key_matches(std::string_view line, std::string_view key) {
    if (key.empty() || line.size() <= key.size() || head(line, key.size()) != key)
        return false;
    const char after = line[key.size()];
    return is_blank(after) || after == '=';
}

// The key of a key line: what stands before its first space, tab or `=`.
constexpr std::string_view key_name(std::string_view line) {
    std::size_t end = 0; // a loop: find_first_of calls memchr a byte
    while (end < line.size() && !is_blank(line[end]) && line[end] != '=')
        ++end;
    return head(line, end);
}

// The value of a key line: the text after its first `=`, trimmed.
constexpr std::string_view value_of(std::string_view line) {
    return trimmed(after(line, line.find('=') + 1));
}

// A key that reads back as itself (ini_getkey finds its line again), or
// why it would not.
constexpr Status check_key(std::string_view key) {
    if (key.empty() || is_wildcard(key))
        return refused(Refusal::key_empty);
    if (key.find_first_of("=\n") != std::string_view::npos)
        return refused(Refusal::key_character);
    if (key[0] == '[' || is_blank(key[0]))
        return refused(Refusal::key_start);
    return {};
}

// The entry as the library compares it: its first compare_max bytes,
// trimmed.
constexpr std::string_view entry_text(std::string_view entry) {
    return trimmed(head(entry, compare_max));
}

constexpr Status check_entry(std::string_view entry) {
    if (holds_line_feed(entry))
        return refused(Refusal::line_feed);
    // A blank entry that keeps a carriage return reads back as itself.
    const std::string_view text = entry_text(entry);
    if (text.empty())
        return refused(Refusal::entry_empty);
    if (is_header(text))
        return refused(Refusal::entry_header);
    return {};
}

// The value as ini_getkey_string reads it: without one pair of enclosing
// double quotes.
constexpr std::string_view unquoted(std::string_view value) {
    return value.size() > 1 && value.front() == '"' && value.back() == '"'
               ? head(after(value, 1), value.size() - 2)
               : value;
}

} // namespace iniplace
