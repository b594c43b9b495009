#include "file.h"

#include <algorithm>
#include <cstring>

namespace iniplace {

namespace {

// How often a call opens the file again when someone replaced it between
// the open and the lock, before it gives up.
constexpr int reopen_attempts = 32;

Open opening(Access access) {
    return access == Access::update ? Open::update_here : Open::read_here;
}

// Opens `path` step by step, where a symbolic link stands on the way (out
// of line: its buffers are on the stack for links alone).
Status open_named(Name &name, const char *path, Access access, Descriptor &fd);
[[gnu::noinline, maybe_unused]] Status open_resolved(const char *path, Access access,
                                                     Descriptor &fd) {
    Name name;
    return open_named(name, path, access, fd);
}

// Opens `path` in one step where no link stands on the way; the default
// build needs no name beside the file.
[[maybe_unused]] Status open_named(NoName &, const char *path, Access access, Descriptor &fd) {
    const Status direct = io::open_direct(path, opening(access), fd);
    return direct.is(Outcome::linked) ? open_resolved(path, access, fd) : direct;
}

// Opens `path` by `name`, which the durable build keeps for the journal.
Status open_named(Name &name, const char *path, Access access, Descriptor &fd) {
    const Status resolved = name.resolve(path);
    return resolved.ok() ? name.open(opening(access), Follow::links, fd) : resolved;
}

} // namespace

Status File::open(const char *path, Access access, Patience &patience) {
    patience_ = &patience;
    Status status;
    for (int attempt = 0; attempt < reopen_attempts; ++attempt)
        if (status = open_locked(path, access); !status.is(Outcome::replaced))
            break;
    if (status.ok())
        status = recover();
    if (!status.ok())
        fd_.reset();
    return status;
}

Status File::open_locked(const char *path, Access access) {
    const bool update = access == Access::update;
    Descriptor fd;
    Status status = open_named(name_, path, access, fd);
    if (status.ok())
        status = io::lock(fd, update ? Lock::exclusive : Lock::shared, *patience_);
    // Its size as the last writer left it.
    if (status.ok())
        status = io::stat(fd.get(), info_);
    if (status.ok() && !info_.regular)
        status = failed(Outcome::not_regular, Op::stat);
    if (status.ok())
        status = lone_or_private(path, info_);
    // An edit of a file someone replaced since it was opened (a rename over
    // it, under a lock of the same kind or none) would be lost: it opens
    // the file the path reaches now instead.
    if (status.ok() && update)
        status = reaches(path, info_);
    if (status.ok() && update && durable)
        status = io::still_names(name_.directory(), name_.base(), info_);
    if (status.ok()) {
        fd_ = std::move(fd);
        writable_ = update;
    }
    return status;
}

Status File::recover() {
    if constexpr (!durable)
        return {};
    // A file mounted on its own hides the name beside which a journal
    // of an edit through that name would stand: it is not read through
    // the mount, which could show it half moved.
    Status status = io::mounted_with(fd_.get(), name_.directory());
    if (status.ok())
        status = iniplace::recover(side(), open_file());
    if (status.ok())
        status = io::stat(fd_.get(), info_);
    const bool told =
        status.is(Outcome::untrusted) || status.is(Outcome::busy) || status.is(Outcome::mounted);
    return status.ok() || told ? status : as(Outcome::unsafe, status);
}

void File::adopt(Descriptor fd, Patience &patience) {
    patience_ = &patience;
    fd_ = std::move(fd);
    info_ = FileInfo();
    info_.regular = true;
    info_.links = 1;
    writable_ = true;
}

} // namespace iniplace
