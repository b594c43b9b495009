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

LineReader::LineReader(const Io &io, off_t start, off_t size, Buffer block)
    : io_(io), block_(block), size_(size), block_start_(start) {}

LineReader::LineReader(Buffer image, std::size_t size)
    : io_(-1), block_(image), size_(static_cast<off_t>(size)), block_start_(0), filled_(size),
      at_end_(true) {}

bool LineReader::refill() {
    if (at_end_ || !status_.ok())
        return false;
    block_start_ += static_cast<off_t>(filled_);
    cursor_ = filled_ = 0;
    // Asking for no more than the file holds spares the read that would
    // only find its end.
    if (size_ >= 0 && block_start_ >= size_) {
        at_end_ = true;
        return false;
    }
    std::size_t count = block_.size;
    if (size_ > block_start_ && size_ - block_start_ < static_cast<off_t>(count))
        count = static_cast<std::size_t>(size_ - block_start_);
    status_ = io_.read(block_.data, count, block_start_, filled_);
    if (!status_.ok())
        filled_ = 0;
    at_end_ = filled_ < block_.size || (size_ >= 0 && block_start_ + off_t(filled_) >= size_);
    return filled_ > 0;
}

std::string_view LineReader::next(char *spill, std::size_t max) {
    const off_t start_offset = offset();
    std::size_t spilled = 0;
    while (spilled < max) {
        if (cursor_ == filled_ && !refill())
            break;
        const char *start = block_.data + cursor_;
        const std::size_t look = std::min(filled_ - cursor_, max - spilled);
        const auto *line_feed = static_cast<const char *>(std::memchr(start, '\n', look));
        const std::size_t count =
            line_feed != nullptr ? static_cast<std::size_t>(line_feed - start) + 1 : look;
        cursor_ += count;
        const bool ends_here =
            line_feed != nullptr || count == max || (cursor_ == filled_ && at_end_);
        if (spilled == 0 && ends_here)
            return {start, count};
        std::memcpy(spill + spilled, start, count);
        spilled += count;
        if (line_feed != nullptr)
            break;
    }
    // A piece a failed read cut short is not read: a line read gives no
    // part of a line.
    if (!status_.ok()) {
        move_to(start_offset);
        return {};
    }
    return {spill, spilled};
}

void LineReader::skip_line() {
    while (cursor_ < filled_ || refill()) {
        const std::string_view rest = window();
        const std::size_t line_feed = rest.find('\n');
        if (line_feed != std::string_view::npos) {
            consume(line_feed + 1);
            return;
        }
        consume(rest.size());
    }
}

void LineReader::move_to(off_t offset) {
    if (offset >= block_start_ && offset <= block_start_ + static_cast<off_t>(filled_)) {
        cursor_ = static_cast<std::size_t>(offset - block_start_);
        return;
    }
    block_start_ = offset;
    cursor_ = filled_ = 0;
    at_end_ = false;
}

bool LineReader::after_line_feed() {
    if (cursor_ > 0)
        return block_.data[cursor_ - 1] == '\n';
    const off_t at = offset();
    if (at == 0)
        return true;
    char byte = 0;
    std::size_t got = 0;
    if (const Status read = io_.read(&byte, 1, at - 1, got); !read.ok() || got != 1) {
        if (status_.ok())
            status_ = read.ok() ? failed(Outcome::not_read, Op::read) : read;
        return true;
    }
    return byte == '\n';
}

} // namespace iniplace
