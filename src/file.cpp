#include "file.h"

#include "iniplace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace iniplace {

namespace {

// O_NONBLOCK keeps open() from waiting for the writer of a FIFO. A regular
// file ignores the flag, so it stays set.
int open_flags(Access access) {
    constexpr int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (access) {
    case Access::read:
        return O_RDONLY | common;
    case Access::update:
        return O_RDWR | common;
    case Access::create:
        return O_RDWR | O_CREAT | common;
    }
    return O_RDONLY | common;
}

} // namespace

File::File(const char *path, Access access) : path_(path) {
    // The durable build first puts back an edit a crash interrupted.
    if (durable && !recover(path)) {
        errno = EACCES;
        return;
    }
    const int fd = ::open(path, open_flags(access), 0666);
    if (fd < 0)
        return;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return;
    }
    fd_ = fd;
    size_ = info.st_size;
}

File &File::operator=(File &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        path_ = other.path_;
        fd_ = other.fd_;
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0)
        ::close(fd_);
}

int open_or_create(File &file, const char *path, bool may_create) {
    file = File(path, Access::update);
    if (!file && errno == ENOENT) {
        if (!may_create)
            return INI_EINVAL;
        file = File(path, Access::create);
    }
    return file ? INI_OK : INI_EOPEN;
}

LineReader::LineReader(const Io &io, off_t start, off_t size, Buffer block)
    : io_(io), block_(block), size_(size), block_start_(start) {}

bool LineReader::refill() {
    if (at_end_ || failed_)
        return false;
    block_start_ += static_cast<off_t>(filled_);
    cursor_ = filled_ = 0;
    // Asking for no more than the file holds spares the read that would
    // only find its end.
    std::size_t count = block_.size;
    if (size_ > block_start_ && size_ - block_start_ < static_cast<off_t>(count))
        count = static_cast<std::size_t>(size_ - block_start_);
    const ssize_t got = io_.read(block_.data, count, block_start_);
    failed_ = got < 0;
    filled_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    at_end_ = filled_ < block_.size || (size_ >= 0 && block_start_ + off_t(filled_) >= size_);
    return filled_ > 0;
}

std::string_view LineReader::next(char *spill, std::size_t max) {
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

int LineReader::byte_before() const {
    if (cursor_ > 0)
        return static_cast<unsigned char>(block_.data[cursor_ - 1]);
    const off_t at = offset();
    char byte = 0;
    return at > 0 && io_.read(&byte, 1, at - 1) == 1 ? static_cast<unsigned char>(byte) : -1;
}

} // namespace iniplace
