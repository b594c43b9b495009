// The names of files, resolved without a race: a path is looked up one
// component at a time from a directory's descriptor, every symbolic link on
// the way is judged through the descriptor of the link itself before it is
// followed, and the file is opened in the directory that was judged. The
// side name beside a file (NAME-journal) lives in that directory too.
#pragma once

#include "io.h"

#include <climits>
#include <string_view>

namespace iniplace {

enum class Follow { links, no };

// The side name of a file: its name with this after it. The durable build
// keeps its journal there, and both builds write a new file there before
// they move it into place.
constexpr std::string_view side_suffix = "-journal";

// A file's name resolved to the directory that holds it (open) and its name
// there. A symbolic link, on the way or at the end, is followed only when no
// other user could have put it in the way: when it is the caller's or
// root's, or stands in a directory that nobody but the caller or root may
// write (owned by one of them, not writable by group or others). The
// kernel checks a weaker rule, and only in sticky directories where
// fs.protected_symlinks is on.
class Name {
  public:
    // Resolves the directories of `path` (Outcome::missing when one is
    // missing, ::foreign_link for a link not followed).
    Status resolve(const char *path);
    // Opens the file at the name as `how` says; a link there is followed
    // as those on the way are (Follow::no: Outcome::linked), and the name
    // then is where the chain ends.
    Status open(Open how, Follow follow, Descriptor &fd);

    int directory() const { return directory_.get(); }
    const char *base() const { return base_; }
    // The side name in the same directory; empty where the name is too
    // long to have one.
    const char *side() const { return side_; }

  private:
    // Resolves `rest` (a PATH_MAX buffer, changed as it goes) from the
    // directory it starts in.
    Status walk(char *rest);
    // One step of the walk: into the directory rest[start, end) names (or
    // "/" and it, `from_root`), or a link there followed; what follows it
    // starts at `next`.
    Status step(char *rest, std::size_t start, std::size_t end, std::size_t next, bool from_root);
    // Follows the link at the name.
    Status follow_link();
    Status set_base(std::string_view name);

    Descriptor directory_;
    char base_[NAME_MAX + 1] = {};
    char side_[NAME_MAX + 1] = {};
    int links_ = 0; // followed so far
};

// Whether the file at `path`, which `file` tells of, has one link, or stands
// in a directory nobody but the caller or root may write: in one another
// user may write, she could have linked a file of the caller's to a name
// of hers (the kernel stops her only where fs.protected_hardlinks is on).
// Outcome::foreign_link else.
Status lone_or_private(const char *path, const FileInfo &file);

// Whether `path` still reaches the file `info` tells of, by the same rules:
// Outcome::replaced when it reaches another file or none.
Status reaches(const char *path, const FileInfo &info);

} // namespace iniplace
