// How the tool reads a file: by whole lines. The library reads a physical
// line longer than 998 bytes in pieces and takes each piece for a line of
// its own; the tool takes only the first piece of a line for a header, a
// key line or an entry, and reads the rest of the line with it, so values
// and entries are never cut and a later piece is never listed. Sections are
// found as the library finds them: by the first header of a name.
#pragma once

#include "scan.h"

#include <functional>
#include <memory>
#include <set>
#include <string>

namespace tool {

// A line as the tool reads it, during its visit.
struct FileLine {
    off_t start;                // offset of its first byte
    std::string_view text;      // its first piece, trimmed
    const std::string *section; // the section it is in; null under a header
                                // that no lookup reaches
    bool header;
};

// A line whose first byte after blanks is ';' or '#': for the listings and
// apply, neither a key nor an entry.
bool is_comment(std::string_view line);

class Reader {
  public:
    Reader(const iniplace::File &file, std::string path);

    // Calls `visit` with each line from the start of the file until it
    // returns false; a Reader walks its file once. A read that failed ends
    // the command (status 3).
    void walk(const std::function<bool(const FileLine &)> &visit);
    // Calls `visit` with each line of `section` ("*": the preamble); false
    // if the file has no such section.
    bool walk_section(std::string_view section, const std::function<void(const FileLine &)> &visit);
    // The line being visited, whole and trimmed: its later pieces are read.
    std::string whole();
    // The sections in which the walk passed a line longer than a piece, and
    // the names the later pieces of such lines read as headers.
    const std::set<std::string, std::less<>> &crossed() const { return crossed_; }

  private:
    void enter(std::string_view header);
    // A later piece of a line.
    void pass_later(bool header, std::string_view text);

    std::string path_;
    std::unique_ptr<iniplace::FileScan> scan_;
    std::set<std::string, std::less<>> seen_;
    std::string section_;
    bool reached_ = true;
    std::set<std::string, std::less<>> crossed_;
};

// A key line of a section, whole.
struct KeyLine {
    std::string key;
    std::string value;
};

// The values of the key lines of `section` that match `key`, as get reads
// them: the first, or with `all` every one, in file order.
std::vector<std::string> key_values(Reader &reader, std::string_view section, std::string_view key,
                                    bool all);
// The lines of `section` that are not blank, whole and trimmed, comments
// too when `comments`: the entries the tool lists, or every line it
// compares with an entry. False if the file has no such section.
bool section_lines(Reader &reader, std::string_view section, bool comments,
                   std::vector<std::string> &lines);
// Whether a line of `section` (a comment too) equals `entry`, trimmed.
bool has_line(Reader &reader, std::string_view section, std::string_view entry);

// The key lines of a section that get reads, each key once, in file order;
// comments and keys get cannot read (=1, *=2) left out.
class KeyLines {
  public:
    void add(Reader &reader, const FileLine &line);
    const std::vector<KeyLine> &lines() const { return lines_; }

  private:
    std::vector<KeyLine> lines_;
    std::set<std::string, std::less<>> seen_;
};

} // namespace tool
