#include "new_file.h"

#include "side.h"

namespace iniplace {

namespace {

// How often a creation clears what stands at its side name and tries again
// before it gives up.
constexpr int side_attempts = 32;

} // namespace

Status NewFile::open(const char *path, Patience &patience) {
    patience_ = &patience;
    // The durable build would find the file's journal by the link's target,
    // not by this name: it makes the file at the path, through no link, and
    // the rename that puts it there replaces nothing, a link made meanwhile
    // included.
    Descriptor probe, fd;
    Status status = name_.resolve(path);
    if (status.ok()) {
        status = name_.open(Open::path, durable ? Follow::no : Follow::links, probe);
        if (status.ok())
            status = failed(Outcome::exists, Op::open);
        else if (status.is(Outcome::missing))
            status = make_side_file(fd);
    }
    if (status.ok())
        file_.adopt(std::move(fd), patience);
    const bool told = status.is(Outcome::exists) || status.is(Outcome::replaced) ||
                      status.is(Outcome::busy) || status.is(Outcome::untrusted) ||
                      status.is(Outcome::foreign_link) || status.is(Outcome::linked) ||
                      status.is(Outcome::not_regular);
    return status.ok() || told ? status : as(Outcome::not_made, status);
}

namespace {

// Whether `side` still names the file open as `fd`: Outcome::exists when
// it names another, or none.
Status names_it(const Side &side, int fd) {
    FileInfo made;
    Status status = io::stat(fd, made);
    if (status.ok())
        status = io::still_names(side.directory, side.name, made);
    return status.is(Outcome::replaced) ? failed(Outcome::exists, Op::stat) : status;
}

} // namespace

Status NewFile::make_side_file(Descriptor &fd) {
    const Side side{name_.directory(), name_.side()};
    if (side.name[0] == '\0')
        return failed(Outcome::not_made, Op::name, ENAMETOOLONG);
    Status status = io::open(side.directory, side.name, Open::fresh, fd);
    for (int attempt = 1; status.is(Outcome::exists) && attempt < side_attempts; ++attempt) {
        if (status = clear_leftover(); !status.is(Outcome::missing))
            return status;
        status = io::open(side.directory, side.name, Open::fresh, fd);
    }
    if (status.ok())
        status = io::lock_side(fd, *patience_);
    // Someone may have taken it for a leftover before it was locked.
    if (status.ok())
        status = names_it(side, fd.get());
    // What this call made and cannot use is not left behind (what cannot
    // be removed, a later creation clears).
    if (!status.ok() && fd) {
        if (names_it(side, fd.get()).ok())
            (void)io::unlink(side.directory, side.name);
        fd.reset();
    }
    return status;
}

Status NewFile::clear_leftover() {
    const Side side{name_.directory(), name_.side()};
    Descriptor fd;
    FileInfo info, target;
    SideKind kind = SideKind::empty;
    // What cannot be opened takes the name all the same (unlike for
    // recovery, where an empty one is harmless): the creation fails.
    Status status = open_side(side, fd, info);
    // Whoever makes the file holds the lock until it stands at its name;
    // what was removed or replaced meanwhile frees the name (::missing).
    if (status.ok())
        status = take_side(side, fd, info, io::user(), *patience_, kind);
    if (status.is(Outcome::missing))
        return status;
    // Nobody works on it. A file made meanwhile may need what stands there
    // (its journal): the edit starts again and recovery judges it.
    if (status.ok() && io::stat(side.directory, name_.base(), target).ok())
        return failed(Outcome::exists, Op::stat);
    if (status.ok())
        status = io::unlink(side.directory, side.name);
    return status.ok() || status.is(Outcome::missing) ? failed(Outcome::missing, Op::unlink)
                                                      : status;
}

Status NewFile::place(const Status &filled) {
    const int directory = name_.directory();
    // Synced in both builds: after a power loss the file is whole or not
    // there at all.
    Status status = filled;
    if (status.ok())
        status = io::sync(file_.fd());
    if (status.ok())
        status = io::rename_new(directory, name_.side(), name_.base());
    if (!status.ok()) {
        // What cannot be removed is cleared by the next creation.
        (void)io::unlink(directory, name_.side());
        const bool told = status.is(Outcome::exists) || status.is(Outcome::refused);
        return told ? status : as(Outcome::not_made, status);
    }
    // The file gets the mode a new file gets only in place, so that what a
    // crash leaves at the side name is known as the library's own: readable
    // by its owner alone. It gets it at once, before anything waits on the
    // disk: a crash in between leaves the file in place readable by its
    // owner alone. The durable build then makes the mode and the name stay.
    mode_t mode = 0;
    status = io::new_file_mode(mode);
    if (status.ok())
        status = io::set_mode(file_.fd(), mode);
    if (status.ok() && durable)
        status = io::sync(file_.fd());
    if (status.ok() && durable)
        status = io::sync_directory(directory);
    if (!status.ok())
        take_back();
    return as(Outcome::not_made, status);
}

void NewFile::take_back() {
    // Only this call's file: another may stand at the name by now.
    FileInfo made, named;
    const int directory = name_.directory();
    if (io::stat(file_.fd(), made).ok() && io::stat(directory, name_.base(), named).ok() &&
        same_file(made, named) && io::unlink(directory, name_.base()).ok() && durable)
        (void)io::sync_directory(directory); // the call fails either way
}

} // namespace iniplace
