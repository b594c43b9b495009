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

// A missing file gets `line` under its header, but the preamble none: does
// that fit?
bool fits_new_file(std::string_view section, std::string_view line);

// Writes `line` at `place`, under the header `[section]` when the place is
// a new section. INI_EINVAL, writing nothing, when the header and the line
// together exceed text_max bytes; otherwise INI_OK, also when the write
// failed (a failed growth leaves the file as it was).
int write_line(const File &file, const Place &place, std::string_view section,
               std::string_view line, Buffer scratch);

} // namespace iniplace
