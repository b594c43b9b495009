#include "side.h"

#include <algorithm>
#include <cstring>

namespace iniplace {

Status open_side(const Side &side, Descriptor &fd, FileInfo &info) {
    const Status found = io::open(side.directory, side.name, Open::found, fd);
    if (found.is(Outcome::linked) || found.is(Outcome::not_regular))
        return as(Outcome::untrusted, found);
    return found.ok() ? io::stat(fd.get(), info) : found;
}

JournalLayout journal_layout(const char *start) {
    if (std::memcmp(start, journal_magic, sizeof journal_magic) == 0)
        return JournalLayout::current;
    if (std::memcmp(start, native_journal_magic, sizeof native_journal_magic) == 0)
        return JournalLayout::native;
    return JournalLayout::none;
}

Status side_kind(int fd, const FileInfo &info, SideKind &kind) {
    kind = SideKind::empty;
    if (info.size == 0)
        return {};
    char start[sizeof journal_magic] = {};
    std::size_t got = 0;
    const Status read = io::read(fd, start, sizeof start, 0, got);
    if (journal_layout(start) != JournalLayout::none)
        kind = SideKind::journal;
    else if (std::all_of(start, start + got, [](char byte) { return byte == '\0'; }))
        kind = SideKind::cut_short;
    else
        kind = SideKind::new_file;
    return read;
}

Status trust(const FileInfo &side, SideKind kind, uid_t owner) {
    const bool owners_own = side.owner == io::user() || side.owner == owner;
    // Never a file others may read: an edit would write old bytes into it.
    const bool as_made = permission_bits(side.mode) == owner_only &&
                         (kind != SideKind::new_file || side.owner == io::user());
    if (side.regular && side.links == 1 && owners_own && as_made)
        return {};
    return failed(Outcome::untrusted, Op::stat);
}

Status take_side(const Side &side, Descriptor &fd, const FileInfo &info, uid_t owner,
                 Patience &patience, SideKind &kind) {
    Status status = io::lock_side(fd, patience);
    if (status.ok())
        status = io::still_names(side.directory, side.name, info);
    if (status.ok())
        status = side_kind(fd.get(), info, kind);
    if (status.ok())
        status = trust(info, kind, owner);
    return status.is(Outcome::replaced) ? failed(Outcome::missing, Op::stat) : status;
}

} // namespace iniplace
