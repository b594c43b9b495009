#include "line_reader.h"

#include <algorithm>
#include <cstring>

namespace iniplace {

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
