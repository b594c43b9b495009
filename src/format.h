// The file format in one place: what a header, a key line and an entry are,
// how a line is trimmed, which texts may be written and how long the written
// lines are. No I/O: the library and the iniplace tool share these rules.
#pragma once

#include <cstddef>
#include <cstring>
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
constexpr std::string_view trimmed(std::string_view text) {
    text = as_read(text);
    std::size_t first = 0;
    while (first < text.size() && is_blank(text[first]))
        ++first;
    text.remove_prefix(first);
    std::size_t length = text.size();
    while (length > 1 && is_space(text[length - 1]))
        --length;
    return head(text, length);
}

// The lines below are trimmed lines.

// A header ends the section before it, whatever follows its `[`.
constexpr bool is_header(std::string_view line) {
    return !line.empty() && line[0] == '[';
}

// `[name]`, exactly: `[ name ]` and `[name] x` name no section.
constexpr bool header_names(std::string_view line, std::string_view section) {
    return line.size() == section.size() + 2 && line.front() == '[' && line.back() == ']' &&
           head(after(line, 1), section.size()) == section;
}

// The section a header names, or an empty view for one that names none.
constexpr std::string_view header_name(std::string_view line) {
    return line.size() >= 2 && is_header(line) && line.back() == ']'
               ? head(after(line, 1), line.size() - 2)
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
    if (key.empty() || line.size() <= key.size() || head(line, key.size()) != key)
        return false;
    const char after = line[key.size()];
    return is_blank(after) || after == '=';
}

// The key of a key line: what stands before its first space, tab or `=`.
constexpr std::string_view key_of(std::string_view line) {
    return head(line, line.find_first_of(" \t="));
}

// The value of a key line: the text after its first `=`, trimmed.
constexpr std::string_view value_of(std::string_view line) {
    return trimmed(after(line, line.find('=') + 1));
}

// What the library refuses to write, and why: a text it would write that
// does not read back as what the caller asked for.
enum class Refusal {
    none,
    key_empty,     // an empty key, or the wildcard
    key_character, // a key holding `=` or a line feed
    key_start,     // a key starting with `[`, a space or a tab
    line_feed,     // a section, value or entry holding a line feed
    entry_empty,   // an entry that is empty after trimming
    entry_header,  // an entry that would read as a header
    too_long,      // a text over text_max bytes
    long_line,     // the tool's: an edit the library would make inside a
                   // line longer than a piece, taking a later piece for a line
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
    return trimmed(head(entry, compare_max));
}

constexpr Refusal check_entry(std::string_view entry) {
    if (holds_line_feed(entry))
        return Refusal::line_feed;
    // A blank entry that keeps a carriage return reads back as itself.
    const std::string_view text = entry_text(entry);
    if (text.empty())
        return Refusal::entry_empty;
    if (is_header(text))
        return Refusal::entry_header;
    return Refusal::none;
}

// A text written at one place: a line, or a new header with its line,
// after a line feed when it follows a last line that has none. Longer than
// text_max bytes (that line feed not counted), it does not fit and is
// never written.
class Text {
  public:
    explicit Text(bool after_unterminated = false) : prefix_(after_unterminated ? 1 : 0) {
        bytes_[0] = '\n';
    }
    Text &operator<<(std::string_view part) {
        if (counted_ + part.size() <= text_max)
            std::memcpy(bytes_ + prefix_ + counted_, part.data(), part.size());
        counted_ += part.size();
        return *this;
    }
    bool fits() const { return counted_ <= text_max; }
    // The bytes to write; only whole when the text fits.
    std::string_view bytes() const { return {bytes_, prefix_ + (fits() ? counted_ : 0)}; }
    // The text without the separating line feed.
    std::string_view line() const { return after(bytes(), prefix_); }

  private:
    char bytes_[1 + text_max];
    std::size_t prefix_;
    std::size_t counted_ = 0;
};

// A line the library would write, or why it refuses to.
struct Written {
    Refusal refusal = Refusal::none;
    Text text;
};

// What ini_setkey writes: `key=value` and a line feed. Every refusal is
// known before the file is opened, except that a new section's header with
// its line may not fit.
inline Written key_line(std::string_view section, std::string_view key, std::string_view value) {
    Written written;
    written.text << key << "=" << value << "\n";
    written.refusal = check_key(key);
    if (written.refusal == Refusal::none && (holds_line_feed(section) || holds_line_feed(value)))
        written.refusal = Refusal::line_feed;
    if (written.refusal == Refusal::none && !written.text.fits())
        written.refusal = Refusal::too_long;
    return written;
}

// What ini_setsection_string writes: the entry as given and a line feed.
inline Written entry_line(std::string_view section, std::string_view entry) {
    Written written;
    written.text << entry << "\n";
    written.refusal = holds_line_feed(section) ? Refusal::line_feed : check_entry(entry);
    if (written.refusal == Refusal::none && !written.text.fits())
        written.refusal = Refusal::too_long;
    return written;
}

// The text written at one place: `line`, under the header `[section]` for
// a new section, after a line feed when it follows a line without one.
inline Text text_at(std::string_view section, std::string_view line, bool new_section,
                    bool after_unterminated) {
    Text text(after_unterminated);
    if (new_section)
        text << "[" << section << "]\n";
    text << line;
    return text;
}

// Working storage lent to a lower layer: a buffer and its size.
struct Buffer {
    char *data;
    std::size_t size;
};

// Copies `text` into `dst` as the C library's bounded copy does: at most
// `len` bytes, the rest of them zero-filled; not terminated when `text` has
// `len` bytes or more.
inline void copy_bounded(char *dst, std::size_t len, std::string_view text) {
    const std::size_t copied = text.size() < len ? text.size() : len;
    std::memcpy(dst, text.data(), copied);
    std::memset(dst + copied, 0, len - copied);
}

} // namespace iniplace
