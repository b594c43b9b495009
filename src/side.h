// What stands at a side name (`NAME-journal` beside a file): a journal, or
// what an edit or a creation cut short left there; whether it is the
// library's own to act on.
#pragma once

#include "io.h"

namespace iniplace {

// A name beside a file: in the directory `directory` (a descriptor), the
// name `name`.
struct Side {
    int directory;
    const char *name;
};

// The magic starts with a zero byte, with which no file the library
// creates starts: a new file written at the side name before it is moved
// into place is never taken for a journal. Journals of the layout before
// this one hold their fields in the byte order of the machine that wrote
// them, which the checksum tells.
constexpr char journal_magic[8] = {'\0', 'i', 'n', 'i', 'p', 'l', '4', '\n'};
constexpr char native_journal_magic[8] = {'\0', 'i', 'n', 'i', 'p', 'l', '3', '\n'};

// The layout of a journal whose first bytes are `start` (8 of them): the
// current one, the one before it, or none (no journal).
enum class JournalLayout { none, current, native };
JournalLayout journal_layout(const char *start);

// What stands at a side name, by its first bytes: empty (a journal made
// harmless), a journal, a journal cut short before its header was written
// (zero bytes), or a new file a creation cut short left.
enum class SideKind { empty, journal, cut_short, new_file };
Status side_kind(int fd, const FileInfo &info, SideKind &kind);

// Whether what stands at a side name is the library's to act on: a
// regular file with one link and mode 0600, as the library makes it, owned
// by the caller or `owner`; a new file left behind must be the caller's.
// Outcome::untrusted else.
Status trust(const FileInfo &side, SideKind kind, uid_t owner);

// Locks what stands at `side`, open as `fd` and found to be `info`, and
// judges it: its kind, and whether it is the library's to act on (see
// trust()); Outcome::missing when it was removed or replaced while the lock
// was awaited.
Status take_side(const Side &side, Descriptor &fd, const FileInfo &info, uid_t owner,
                 Patience &patience, SideKind &kind);

// Opens what stands at a side name, and stats it: Outcome::missing when
// nothing does, ::untrusted for a link or a directory.
Status open_side(const Side &side, Descriptor &fd, FileInfo &info);

} // namespace iniplace
