// Writing and removing the lines of a file named by its path: scan for the
// place, then one change of the file, in place, journaled in the durable
// build.
#pragma once

#include "scan.h"

namespace iniplace {

// The one change an edit makes to a file opened by path: the old bytes of
// `place` replaced with `bytes`. In the durable build under a journal,
// which also undoes a change that failed half-way.
Status change(const File &file, const Place &place, std::string_view bytes, Buffer scratch);

// How a scan finds the line an operation is about: find_key or find_entry.
using Finder = Found (*)(Scanner &scanner, std::string_view section, std::string_view wanted,
                         Line &line);

// Writes the line `written` into `section` of the file at `path`, creating
// the file when it is missing: over the line `find` finds for `wanted` when
// `replace` is set (a key line), nowhere when there is such a line and
// `replace` is not (an entry already there); otherwise at the end of the
// section, before the next header, or under a new header at the end of the
// file (never a header for the preamble). Refuses, writing nothing, a
// refused line or a new section whose header and line exceed text_max
// bytes.
Status write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, bool replace);

// Removes the whole line `find` finds for `wanted` in `section`, if any.
// Never creates the file.
Status remove_line(const char *path, std::string_view section, Finder find,
                   std::string_view wanted);

// Removes a section from its header up to the next header or the end of
// the file; the wildcard removes the first section of the file.
Status remove_section(const char *path, std::string_view section);

} // namespace iniplace
