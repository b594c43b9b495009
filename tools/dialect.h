// The dialects the tool reads files in, and the format rules of each in one
// place: what a blank, a comment and a directive are, how names compare,
// and how a value or a header is written so that it reads back (which
// names and values do: refusals.h). document.cpp reads a file by these
// rules; the planner, the listings and the module use them through it.
//
// - configparser (the default): as Python's configparser reads with its
//   default delimiters, not strict, keys without values allowed and ; or #
//   after a blank starting a comment: = or : ends a key's name, a line
//   indented deeper than its key line goes on the value, a value's lines
//   are joined by line feeds;
// - systemd: = ends a key's name, a line ending in \ goes on the next, a
//   key may repeat as a list that an empty value resets;
// - git: [section "sub"], names without regard to case (a subsection's
//   with), a value's quotes, escapes and comment removed, a line ending in
//   \ going on the next, a key without = true.
#pragma once

#include "format.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

enum class Dialect { configparser, systemd, git };

// The dialect --dialect names, if any.
std::optional<Dialect> dialect_named(std::string_view name);
// The names --dialect takes, separated by `joint`.
std::string dialect_names(const char *joint);
// The dialect of a file by its name: systemd for the suffixes of units and
// network files, git for .gitconfig, gitconfig, .gitmodules and config in a
// .git directory, else configparser.
Dialect dialect_of(std::string_view path);

// The preamble's name, as the library names it.
constexpr std::string_view preamble = iniplace::wildcard;

// A blank is a space or a tab, as for the library.
using iniplace::is_blank;

constexpr std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The bytes of which the first on a key line ends its name: = (in
// configparser also :).
constexpr std::string_view separators(Dialect dialect) {
    return dialect == Dialect::configparser ? "=:" : "=";
}

// Whether a line's text (after its blanks) starts a comment.
constexpr bool starts_comment(std::string_view text) {
    return !text.empty() && (text[0] == ';' || text[0] == '#');
}

// The offset in `content` where a configparser comment after a value
// starts (; or # after a blank), or its size.
std::size_t inline_comment(std::string_view content);
// A line of a file-wide directive: !include, !includedir, %include.
bool is_directive(std::string_view text);
// The number of backslashes that end `text` is odd: the line goes on.
bool continues(std::string_view text);
// ASCII letters in lower case.
std::string folded(std::string_view name);

// The offset after the line of `text` that starts at `start`: after its
// line feed (a carriage return before it is the line end's too), or the
// end of the text.
std::size_t line_end_after(std::string_view text, std::size_t start);
// The lines of `text`, each with its line end.
std::vector<std::string_view> lines_of_text(std::string_view text);
// A line without its line end.
std::string_view without_line_end(std::string_view line);

// A git value read from `from` of `text` to the end of its logical line:
// quotes and escapes removed, blanks outside quotes one space each, a
// comment left out, a line ending in \ going on.
struct GitValue {
    std::string value;
    std::size_t raw_end = 0; // after its last byte that is not a blank or comment
    std::size_t end = 0;     // its line end, or the end of the text
    bool valid = true;       // git reads it: no unknown escape, no open quote
};
GitValue git_value(std::string_view text, std::size_t from);
// The name git gives a header's text between [ and ] (core, remote.origin),
// if it is a git header.
std::optional<std::string> git_section(std::string_view inside);

// A git name's section and subsection: remote "origin" or remote.origin;
// not valid for a section with bytes git does not take.
struct GitName {
    std::string_view section;
    std::optional<std::string> sub;
    bool valid = false;
};
GitName git_parts(std::string_view name);
// A byte of a git key or section name, and the first of a key.
bool is_key_char(char c);
bool is_letter(char c);

// A section name as it is compared: a git name as git reads it (core,
// remote.origin from remote "origin"), with `ignore_case` ASCII folded.
std::string section_key(Dialect dialect, std::string_view name, bool ignore_case);
// A key name as it is compared: git's folded, others as written unless
// `ignore_case`.
std::string key_key(Dialect dialect, std::string_view name, bool ignore_case);
// The header of a new section: [NAME], or git's [name "sub"].
std::string header_text(Dialect dialect, std::string_view section);
// `value` as the file holds it: in git quoted and escaped where needed; in
// configparser a line feed starts a line indented by `indent`.
std::string written_value(Dialect dialect, std::string_view value, std::string_view indent,
                          std::string_view line_end);

} // namespace tool
