// Writing and removing the lines of a file: where an operation's line is,
// planned with a scan of the file, and the operations on a file by path.
#pragma once

#include "edit.h"
#include "scan.h"
#include "text.h"

namespace iniplace {

// What an edit does to a file: the old bytes of `place` replaced with
// `text` (nothing, to remove them), unless the file already reads so.
struct LineEdit {
    bool changes = false;
    Place place;
    Text text;

    Change change() const { return {place.at, place.old_length, text.bytes()}; }
};

// How a scan finds the line an operation is about: find_key or find_entry.
using Finder = Found (*)(Scanner &scanner, std::string_view section, std::string_view wanted,
                         Line &line);

// What writing a line does with the line `find` finds: replaces it (a key
// line), or keeps it (an entry already there).
enum class LineFound { replaced, kept };

// Plans writing the line `written` into `section` of the file `scan` reads
// from its start: over the line `find` finds for `wanted`, or nowhere, as
// `found` says; otherwise at the end of the section, before the next
// header, or under a new header at the end of the file (never a header for
// the preamble). Refuses a refused line and a new section whose header and
// line exceed text_max bytes.
Status plan_write(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, LineFound found, LineEdit &edit);
// Plans removing the whole line `find` finds for `wanted` in `section`.
Status plan_removal(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                    LineEdit &edit);
// Plans removing a section from its header up to the next header or the
// end of the file; the wildcard removes the first section of the file.
Status plan_section_removal(FileScan &scan, std::string_view section, LineEdit &edit);

// Writes the line `written` into `section` of the file at `path` (see
// plan_write), making the file when it is missing and the line with its
// new header fits.
Status write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, LineFound found);

// Removes the whole line `find` finds for `wanted` in `section`, if any.
// Never creates the file.
Status remove_line(const char *path, std::string_view section, Finder find,
                   std::string_view wanted);

// Removes a section (see plan_section_removal). Never creates the file.
Status remove_section(const char *path, std::string_view section);

} // namespace iniplace
