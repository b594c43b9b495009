#include "file.h"

#include <algorithm>
#include <cstring>

namespace iniplace {

namespace {

Open open_mode(Access access) {
    switch (access) {
    case Access::read:
        return Open::read;
    case Access::update:
        return Open::update;
    case Access::create:
        return Open::create;
    }
    return Open::read;
}

} // namespace

Status File::open(const char *path, Access access) {
    Descriptor fd;
    if (const Status opened = io::open(path, open_mode(access), fd); !opened.ok())
        return opened;
    if (const Status known = io::stat(fd.get(), info_); !known.ok())
        return known;
    if (!info_.regular)
        return failed(Outcome::not_regular, Op::stat, 0);
    if constexpr (durable) {
        // The journal is found by the file's resolved name; one that cannot
        // be looked for may hold the only good copy.
        Status recovered = name_.resolve(fd.get(), path);
        if (recovered.ok())
            recovered = recover(name_);
        if (recovered.ok())
            recovered = io::stat(fd.get(), info_);
        if (!recovered.ok())
            return failed(Outcome::unsafe, recovered.op, recovered.error);
    }
    fd_ = std::move(fd);
    return {};
}

void File::adopt(Descriptor fd) {
    fd_ = std::move(fd);
    info_ = FileInfo();
    info_.regular = true;
}

LineReader::LineReader(const Io &io, off_t start, off_t size, Buffer block)
    : io_(io), block_(block), size_(size), block_start_(start) {}

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
    std::size_t got = 0;
    return at > 0 && io_.read(&byte, 1, at - 1, got).ok() && got == 1
               ? static_cast<unsigned char>(byte)
               : -1;
}

} // namespace iniplace
