// Writing and removing the lines of a file: plan an edit with a scan of the
// file, then change the file in place, journaled in the durable build; and
// the same for a file named by its path, made when it is missing.
#pragma once

#include "move.h"
#include "names.h"
#include "scan.h"
#include "text.h"

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
// `read` tells what of the file `scratch` holds, as the scan left it.
Status change(File &file, const LineEdit &edit, Buffer scratch, BytesRead read = {});
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
bool to_try_again(const Status &status);
constexpr int edit_attempts = 32;

// A missing file, made whole: written at its side name, owner-only,
// exclusively and locked; given the mode a new file gets, synced, and moved
// to its name unless a file stands there by then (the durable build syncs
// the directory too, so that the name stays). The
// default build makes the file a dangling symbolic link at the path leads
// to; the durable build refuses such a link.
class NewFile {
  public:
    // An empty file to fill for `path`. Outcome::exists when someone made
    // the file, or is making it: the edit starts again on their file.
    Status open(const char *path);
    File &file() { return file_; }
    // Puts the file in place once `filled`; removes it when `filled` or
    // anything here failed, which it reports as Outcome::not_made (or
    // ::exists, as for open()).
    Status place(const Status &filled);

  private:
    // Removes what a creation left at the side name and nobody works on;
    // Outcome::missing once the name is free, ::exists when the file was
    // made meanwhile.
    Status clear_leftover();

    char target_[PATH_MAX] = {};
    SideName name_;
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
