// The scanner: walks a file piece by piece and tells headers from the lines
// of the section it is in. Key lookup and entry walks both run on it, and it
// says where an edit writes.
#pragma once

#include "file.h"
#include "format.h"
#include "line_reader.h"

namespace iniplace {

// A piece of a line as the scan met it.
struct Line {
    off_t start = 0;       // offset of its first byte
    std::string_view text; // trimmed; valid until the next read
};

enum class Piece { line, header, end };

// Where an edit writes: over an old line, or into a gap.
struct Place {
    off_t at = 0;
    off_t old_length = 0;            // bytes of the old line; 0 to insert
    bool after_unterminated = false; // the byte before `at` is not a line feed
};

class Scanner {
  public:
    // Reads pieces of at most `max` bytes; `spill` holds max + 1 bytes.
    Scanner(LineReader &in, char *spill, std::size_t max) : in_(in), spill_(spill), max_(max) {}

    // Reads and classifies the next piece.
    Piece read(Line &line);
    // The next line of the section. At a header the reader goes back to its
    // first byte, so the header ends the section for every later call too.
    Piece next(Line &line);
    // As next(), but `line.text` is the piece after its leading spaces and
    // tabs, not trimmed: trimming trimmed() it gives the line next() gives.
    Piece next_untrimmed(Line &line);
    // Passes over the pieces up to the first header named `section`, and
    // over that header. The wildcard stays in the section the scan is in.
    // False when no such header comes.
    bool enter(std::string_view section);
    // Passes over the next header, whatever it names; false when none comes.
    bool enter_next();
    // The same, with the header read into `header`.
    bool enter_next(Line &header);
    // Passes over the rest of the section; false at the end of the file.
    bool skip_to_header();

    // The first byte of the header enter() passed.
    off_t header_start() const { return header_start_; }
    // The last piece read, untrimmed.
    std::string_view last() const { return last_; }
    LineReader &reader() { return in_; }

    // The place right here, where a line is inserted.
    Place place_here();
    // The place of `line`, the line just read, to the end of its physical
    // line: a line longer than a piece is replaced or removed whole.
    Place place_of(const Line &line);

  private:
    Piece read_untrimmed(Line &line);
    // Reads the next header that may be `[name]` (any header for an empty
    // name), passing over the pieces before it and over the headers that
    // the bytes at hand show to name another section; false at the end of
    // the file.
    bool read_header(Line &header, std::string_view name);
    bool next_header(Line &header, std::string_view name);

    LineReader &in_;
    char *spill_;
    std::size_t max_;
    std::string_view last_;
    off_t header_start_ = 0;
};

// What every operation on a file holds while it works: the reader over the
// caller's block (through which an edit moves the tail once the scan is
// over), the spill for pieces that span two blocks, and the scanner.
struct FileScan {
    FileScan(const File &file, Buffer block) : FileScan(file.io(), file.size(), block) {}
    FileScan(const Io &io, off_t size, Buffer block)
        : in(io, 0, size, block), scanner(in, spill, piece_max) {}
    // A scan of a whole file held in `image`, which it reads in place.
    FileScan(Buffer image, std::size_t size) : in(image, size), scanner(in, spill, piece_max) {}
    FileScan(const FileScan &) = delete;
    FileScan &operator=(const FileScan &) = delete;

    char spill[line_size];
    LineReader in;
    Scanner scanner;
};

// What a search of a section found.
enum class Found {
    no_section, // no such section; with the wildcard, the end of the file
                // came before a header or a match
    no_match,   // the reader is at the next header, or the end of the file
    match,      // `line` is the line found; the reader is after it
};

// The first key line of `section` that matches `key` ("*": any key line).
Found find_key(Scanner &scan, std::string_view section, std::string_view key, Line &line);
// The first entry of `section` equal, trimmed, to `wanted`.
Found find_entry(Scanner &scan, std::string_view section, std::string_view wanted, Line &line);

} // namespace iniplace
