// What the exported functions do on a caller's stream: the scanners' steps
// (parse, parse_section), and bytes inserted or cut (file_ins, file_cut).
#pragma once

#include "scan.h"

#include <cstdio>

namespace iniplace {

// The steps of the exported scanners, with the positions parse() and
// parse_section() leave: no_section, no_match (a header or the end of the
// section) or match (a key line; an entry).
Found scan_key(Scanner &scan, std::string_view section, std::string_view key);
Found scan_section(Scanner &scan, std::string_view section, bool rewind);

// The exported scanners on a caller's stream, from where it stands, read
// in pieces of size - 2 bytes and spilled into `buf`: scan_key and
// scan_section. The stream is left as they promise: at the offset the scan
// left, its error and end-of-file state cleared, the last piece read
// trimmed in `buf`. A read that failed ends the scan as the end of the
// file does, at the start of the piece it cut short.
Found scan_key_in(std::FILE *stream, char *buf, std::size_t size, std::string_view section,
                  std::string_view key);
Found scan_section_in(std::FILE *stream, char *buf, std::size_t size, std::string_view section,
                      bool rewind);

// The building blocks on a caller's stream: `length` bytes of `data`
// inserted at its position, the stream left after them (at the position
// when nothing was inserted); `length` bytes cut at its position (fewer when
// the file ends sooner), the stream left at the new end of the file (at
// the old end when no byte had to move).
Status insert_into_stream(std::FILE *stream, off_t length, const char *data);
Status cut_from_stream(std::FILE *stream, off_t length);

} // namespace iniplace
