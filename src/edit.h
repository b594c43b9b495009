// In-place edits of a file of `end` bytes: the tail after the offset moves
// to make or close the gap, through a scratch buffer. Each returns whether
// the file now holds the edit. The space an edit writes into is reserved
// and the file grown before any existing byte moves, so a full disk or a
// file-size limit leaves the file as it was.
#pragma once

#include "file.h"
#include "scan.h"

namespace iniplace {

// Block through which the building blocks move a caller's stream.
constexpr std::size_t move_block = 1000;

// Replaces the `old_length` bytes at `at` with `text`: with `old_length` 0
// this inserts `text`, with an empty `text` it removes bytes.
bool replace_bytes(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
                   Buffer scratch);

// The same on a file opened by path; in the durable build under a journal,
// which also undoes an edit that failed half-way.
bool change(const File &file, off_t at, off_t old_length, std::string_view text, Buffer scratch);

// How a scan finds the line an operation is about: find_key or find_entry.
using Finder = Found (*)(Scanner &scanner, std::string_view section, std::string_view wanted,
                         Line &line);

// Writes the line `written` into `section` of the file at `path`, creating
// the file when it is missing: over the line `find` finds for `wanted` when
// `replace` is set (a key line), nowhere when there is such a line and
// `replace` is not (an entry already there); otherwise at the end of the
// section, before the next header, or under a new header at the end of the
// file (never a header for the preamble). Returns INI_OK (also when a write
// failed once the file was open), INI_EOPEN, or INI_EINVAL, writing
// nothing, for a refused line or a new section whose header and line
// exceed text_max bytes.
int write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
               const Written &written, bool replace);

// Removes the whole line `find` finds for `wanted` in `section`, if any.
// Returns INI_OK or INI_EOPEN; never creates the file.
int remove_line(const char *path, std::string_view section, Finder find, std::string_view wanted);

} // namespace iniplace
