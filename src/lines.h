// Writing and removing the lines of a file: plan an edit with a scan of the
// file, then change the file in place, journaled in the durable build; and
// the same for a file named by its path, made when it is missing.
#pragma once

#include "move.h"
#include "scan.h"

namespace iniplace {

// What an edit does to a file: the old bytes of `place` replaced with
// `text` (nothing, to remove them), unless the file already reads so.
struct LineEdit {
    bool changes = false;
    Place place;
    Text text;
};

// How a scan finds the line an operation is about: find_key or find_entry.
using Finder = Found (*)(Scanner &scanner, std::string_view section, std::string_view wanted,
                         Line &line);

// Plans writing the line `written` into `section` of the file `scan` reads
// from its start: over the line `find` finds for `wanted` when `replace`
// is set (a key line), nowhere when there is such a line and `replace` is
// not (an entry already there); otherwise at the end of the section, before
// the next header, or under a new header at the end of the file (never a
// header for the preamble). Refuses a refused line and a new section whose
// header and line exceed text_max bytes.
Status plan_write(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, bool replace, LineEdit &edit);
// Plans removing the whole line `find` finds for `wanted` in `section`.
Status plan_removal(FileScan &scan, std::string_view section, Finder find, std::string_view wanted,
                    LineEdit &edit);
// Plans removing a section from its header up to the next header or the
// end of the file; the wildcard removes the first section of the file.
Status plan_section_removal(FileScan &scan, std::string_view section, LineEdit &edit);

// Makes one planned edit of `file`; in the durable build under a journal of
// the bytes it changes, which also undoes an edit that failed half-way.
// `held` tells what of the file `scratch` holds, as the scan left it.
Status change(File &file, const LineEdit &edit, Buffer scratch, Held held = {});
// Makes one planned edit of a file being made (see NewFile): never
// journaled, since the file is not in place yet.
Status change_new_file(File &file, const LineEdit &edit, Buffer scratch);

// Several edits of one open file: in the durable build under one journal,
// made before the first change of the lowest offset any of them touches.
// When a later edit reaches lower, what was made is kept and a new journal
// begins there; an edit of no bytes at the lowest offset first keeps them
// all under one.
class Batch {
  public:
    Batch(File &file, Buffer scratch) : file_(file), scratch_(scratch) {}
    Status make(const LineEdit &edit);
    // Syncs the file and removes the journal.
    Status finish();
    // After an edit failed: the durable build puts back what was made
    // under the current journal; the default build keeps it.
    Status abandon(const Status &failure);

  private:
    File &file_;
    Buffer scratch_;
    Journal journal_;
};

// Whether an edit met a file that changed under it (someone made the
// missing file, or a journal stood where the edit's was to go): to be
// tried again from the start, at most `edit_attempts` times in all. Each
// retry follows another process's progress, which many parallel creators
// of one file make in turn.
bool made_meanwhile(const Status &status);
constexpr int edit_attempts = 32;

// A missing file, made with its content. The durable build fills a new
// file under the journal's name, syncs it and links it into place, so that
// a crash leaves no file or the whole new one; the default build makes the
// file in place.
class NewFile {
  public:
    // Opens an empty file to fill for `path`. `exclusive` fails when a file
    // of that name is there (the default build otherwise opens it).
    // Outcome::not_opened with EEXIST when someone made the file meanwhile.
    Status open(const char *path, bool exclusive);
    File &file() { return file_; }
    // Puts the file in place once `filled`; removes what a failed fill
    // left, where this call made it. EEXIST as for open().
    Status place(const Status &filled);

  private:
    Status open_journaled();
    Status open_exclusive();

    const char *path_ = nullptr;
    bool exclusive_ = false;
    File file_;
};

// Writes the line `written` into `section` of the file at `path` (see
// plan_write), making the file when it is missing and the line with its
// new header fits.
Status write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
                  const Written &written, bool replace);

// Removes the whole line `find` finds for `wanted` in `section`, if any.
// Never creates the file.
Status remove_line(const char *path, std::string_view section, Finder find,
                   std::string_view wanted);

// Removes a section (see plan_section_removal). Never creates the file.
Status remove_section(const char *path, std::string_view section);

} // namespace iniplace
