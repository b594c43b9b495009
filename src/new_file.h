// A missing file made whole, for an edit that makes it: at a side name,
// then moved to its name.
#pragma once

#include "file.h"
#include "io_names.h"

namespace iniplace {

// A missing file, made whole: written at its side name, owner-only,
// exclusively and locked; synced, and moved to its name unless a file
// stands there by then, then given the mode a new file gets (the durable
// build syncs the file and the directory too, so that both stay). Where
// the path is a dangling symbolic link, the default build makes the file
// the link leads to; the durable build refuses such a link.
class NewFile {
  public:
    // An empty file to fill for `path`. Outcome::exists when someone made
    // the file, or is making it: the edit starts again on their file.
    Status open(const char *path, Patience &patience);
    File &file() { return file_; }
    // Puts the file in place once `filled`; removes it when `filled` or
    // anything here failed, which it reports as Outcome::not_made (or
    // ::exists, as for open(); a refusal as it is). A file placed with a
    // Status that is ok is in place (and in the durable build on the disk).
    Status place(const Status &filled);

  private:
    // Makes the side name's file, owner-only and exclusively, clearing what
    // a creation cut short left there, and locks it.
    Status make_side_file(Descriptor &fd);
    // Removes what a creation left at the side name and nobody works on;
    // Outcome::missing once the name is free, ::exists when the file was
    // made meanwhile.
    Status clear_leftover();
    // Takes the file back off its name after a failure, if it is still
    // there.
    void take_back();

    Name name_;
    File file_;
    Patience *patience_ = nullptr;
};

} // namespace iniplace
