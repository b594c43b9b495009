// How the tool reads a file: the way the common tools read INI files, by
// whole lines of any length.
//
// - a line whose first byte after blanks is ; or # is a comment;
// - a header is [NAME], blanks before it and blanks and a comment after it
//   allowed; a line that starts with [ but is no such header ends the
//   section before it and names none;
// - a key line holds =: its name is the text before the first =, blanks
//   around it removed, and its value the text after it, blanks removed;
// - any other line that is not blank is an entry;
// - a UTF-8 byte-order mark at the start is read past (and kept);
// - a section whose header appears more than once is one section, its lines
//   read in file order; the lines before the first header are the preamble.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tool {

enum class LineKind { blank, comment, header, stray_header, key, entry };

// A line of the file, as offsets into its text.
struct Line {
    std::size_t start = 0;       // its first byte
    std::size_t content_end = 0; // the end of its text, before its line end
    std::size_t end = 0;         // after its line end
    LineKind kind = LineKind::blank;
    std::size_t name_start = 0, name_end = 0;   // a header's section, a key
    std::size_t value_start = 0, value_end = 0; // a key's value
    int section = 0;                            // see Document::section_of
    std::size_t number = 0;                     // from 1
};

// What a name on the command line matches: a name as written, or with
// --ignore-case without regard to ASCII case.
struct Match {
    std::string_view name;
    bool ignore_case = false;
    bool operator()(std::string_view written) const;
};

constexpr std::string_view preamble = "*";

class Document {
  public:
    explicit Document(std::string text);

    const std::string &text() const { return text_; }
    const std::vector<Line> &lines() const { return lines_; }
    std::string_view text_of(const Line &line) const;
    std::string_view name_of(const Line &line) const;
    std::string_view value_of(const Line &line) const;
    // The sections by name, the preamble (*) first; a name once.
    const std::vector<std::string> &sections() const { return sections_; }
    // The section of a line: an index into sections(), or -1 under a header
    // that names none.
    int section_of(const Line &line) const { return line.section; }
    // The sections `match` names (the preamble for *).
    std::vector<int> sections_named(const Match &match) const;
    // The lines of `sections`, in file order, headers left out.
    std::vector<const Line *> lines_of(const std::vector<int> &sections) const;
    // The key lines of `sections` whose name `key` matches, in file order.
    std::vector<const Line *> key_lines(const std::vector<int> &sections, const Match &key) const;
    // The line end the file uses: that of its first line, "\n" when none.
    std::string_view line_end() const { return line_end_; }
    // The offset after the byte-order mark, if any.
    std::size_t text_start() const { return text_start_; }

  private:
    void read_line(std::size_t start, std::size_t end, int &section);
    void read_header(Line &line, std::size_t first, int &section);
    void read_key(Line &line, std::size_t first);
    int section_index(std::string_view name);

    std::string text_;
    std::vector<Line> lines_;
    std::vector<std::string> sections_;
    std::unordered_map<std::string, int> section_numbers_;
    std::vector<std::vector<std::size_t>> section_lines_; // each section's, in file order
    std::string_view line_end_ = "\n";
    std::size_t text_start_ = 0;
};

bool is_blank(char c);
std::string_view trim(std::string_view text);

} // namespace tool
