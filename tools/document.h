// How the tool reads a file: by whole lines of any length, in the file's
// dialect (dialect.h), the way that dialect's own programs read it.
//
// - a line whose first byte after blanks is ; or # is a comment;
// - a header is [NAME] (in configparser up to the last ], in git [name] or
//   [name "sub"]), blanks and a comment after it allowed; a line that starts
//   with [ but is no header ends the section before it and names none
//   (configparser reads it as a key);
// - a key line holds = (configparser: = or :): its name is the text before
//   the first, blanks around it removed, its value the text after it, with
//   the lines that go on it (see the dialect); in configparser and git a
//   line without one is a key without a value, in systemd an entry;
// - configparser's !include, !includedir and %include lines are directives;
// - a UTF-8 byte-order mark at the start is read past (and kept);
// - a section whose header appears more than once is one section, its lines
//   read in file order; the lines before the first header are the preamble.
#pragma once

#include "dialect.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tool {

enum class LineKind { blank, comment, header, stray_header, key, entry, continuation, directive };

// A line of the file, as offsets into its text.
struct Line {
    std::size_t start = 0;       // its first byte
    std::size_t content_end = 0; // the end of its text, before its line end
    std::size_t end = 0;         // after its line end
    LineKind kind = LineKind::blank;
    std::size_t name_start = 0, name_end = 0; // a key's name
    // A key's value on this line, or a continuation line's part of it,
    // without blanks around it or a comment after it. A key without a
    // separator has none.
    std::size_t value_start = 0, value_end = 0;
    bool has_value = false;
    // A key's (or systemd entry's) last line: its own index, or that of the
    // last line that goes on its value.
    std::size_t last = 0;
    int section = 0;        // an index into Document::sections(), -1 under a
                            // header that names none
    std::size_t number = 0; // from 1
};

// The largest part of a file looked at to tell text from other data.
constexpr std::size_t text_probe = 8192;

class Document {
  public:
    Document(std::string text, Dialect dialect);

    Dialect dialect() const { return dialect_; }
    const std::string &text() const { return text_; }
    const std::vector<Line> &lines() const { return lines_; }
    std::size_t index_of(const Line &line) const {
        return static_cast<std::size_t>(&line - lines_.data());
    }
    // The line, trimmed; its first byte (after a byte-order mark).
    std::string_view text_of(const Line &line) const;
    std::size_t start_of(const Line &line) const;
    std::string_view name_of(const Line &line) const;
    // A key's value as the dialect's programs read it: its lines joined.
    std::string value_of(const Line &line) const;
    // The bytes of a key's value, from its first line to its last.
    std::size_t value_end_of(const Line &line) const { return lines_[line.last].value_end; }
    // After the last line of a key's value.
    std::size_t span_end_of(const Line &line) const { return lines_[line.last].end; }
    // The sections by name, the preamble (*) first; a name once. Git's as
    // git names them (core, remote.origin).
    const std::vector<std::string> &sections() const { return sections_; }
    // The sections `name` names (the preamble for *), looked up by name.
    const std::vector<int> &sections_named(std::string_view name, bool ignore_case) const;
    // The lines of `sections`, in file order, headers left out.
    std::vector<const Line *> lines_of(const std::vector<int> &sections) const;
    // The key lines of `sections` whose name is `key`, in file order; each
    // section's keys are gathered by name once.
    std::vector<const Line *> key_lines(const std::vector<int> &sections, std::string_view key,
                                        bool ignore_case) const;
    // Of a key's lines (not none), the one its programs read: the last.
    static const Line *line_read(const std::vector<const Line *> &lines) { return lines.back(); }
    // The first line of `sections` that equals `entry` after trimming: any
    // line but a blank one or a file-wide directive (a comment too); null
    // if none. Each section's lines are gathered by text once.
    const Line *line_equal(const std::vector<int> &sections, std::string_view entry) const;
    // The line end the file uses: that of its first line, "\n" when none.
    std::string_view line_end() const { return line_end_; }
    // The offset after the byte-order mark, if any.
    std::size_t text_start() const { return text_start_; }
    // The length of its longest line, line end included.
    std::size_t longest_line() const { return longest_line_; }
    // No zero byte and no control byte but those of text in the first
    // text_probe bytes.
    bool is_text() const;

  private:
    class Reader;
    int section_index(std::string name);

    std::string text_;
    Dialect dialect_;
    std::vector<Line> lines_;
    std::vector<std::string> sections_;
    std::unordered_map<std::string, int> section_numbers_;
    std::vector<std::vector<std::size_t>> section_lines_; // each section's, in file order
    // Looked up once asked for, with and without regard to case: the
    // sections by name, each section's key lines by name and its first line
    // of each text.
    mutable std::unordered_map<std::string, std::vector<int>> sections_by_name_[2];
    mutable std::unordered_map<int, std::unordered_map<std::string, std::vector<const Line *>>>
        keys_by_name_[2];
    mutable std::unordered_map<int, std::unordered_map<std::string_view, const Line *>>
        lines_by_text_;
    std::string_view line_end_ = "\n";
    std::size_t text_start_ = 0;
    std::size_t longest_line_ = 0;
};

} // namespace tool
