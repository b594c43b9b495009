// The core: files, the line reader, the scanners, byte insertion and
// removal, and the primitives for keys and entries.
#include "internal.h"

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

bool write_all_at(int fd, const char *data, std::size_t length, off_t at) {
    while (length > 0) {
        const ssize_t written = ::pwrite(fd, data, length, at);
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<std::size_t>(written);
        at += written;
    }
    return true;
}

std::size_t chunk(off_t remaining, std::size_t block_size) {
    return static_cast<std::size_t>(std::min<off_t>(remaining, static_cast<off_t>(block_size)));
}

// Reading and writing at given offsets: through a descriptor for the
// library's own edits, through the caller's stream for file_ins/file_cut.
struct DescriptorIo {
    int fd;
    bool read(char *to, std::size_t count, off_t at) const {
        return ::pread(fd, to, count, at) == static_cast<ssize_t>(count);
    }
    bool write(const char *from, std::size_t count, off_t at) const {
        return write_all_at(fd, from, count, at);
    }
};

struct StreamIo {
    FILE *stream;
    // A seek comes before every switch between reading and writing.
    bool read(char *to, std::size_t count, off_t at) const {
        return ::fseeko(stream, at, SEEK_SET) == 0 && std::fread(to, count, 1, stream) == 1;
    }
    bool write(const char *from, std::size_t count, off_t at) const {
        return ::fseeko(stream, at, SEEK_SET) == 0 && std::fwrite(from, count, 1, stream) == 1;
    }
};

// Moves the bytes [from, to) up by `distance`, back to front, so each block
// is read before anything is written over it.
template <typename Io>
bool move_up(const Io &io, off_t from, off_t to, off_t distance, char *block, std::size_t size) {
    while (to > from) {
        const std::size_t count = chunk(to - from, size);
        to -= static_cast<off_t>(count);
        if (!io.read(block, count, to) || !io.write(block, count, to + distance))
            return false;
    }
    return true;
}

// Moves the bytes [from, to) down by `distance`, front to back.
template <typename Io>
bool move_down(const Io &io, off_t from, off_t to, off_t distance, char *block, std::size_t size) {
    while (from < to) {
        const std::size_t count = chunk(to - from, size);
        if (!io.read(block, count, from) || !io.write(block, count, from - distance))
            return false;
        from += static_cast<off_t>(count);
    }
    return true;
}

// Writes the bytes that inserting `data` (`length` bytes) at `pos` puts past
// the old end of the file, before any existing byte is overwritten: if the
// disk is full or a size limit is hit, the file is cut back to its old
// length and stays as it was.
bool grow(int fd, off_t pos, off_t end, const char *data, off_t length, char *block,
          std::size_t size) {
    const DescriptorIo io{fd};
    const off_t tail = end - pos;
    bool written;
    if (tail < 0)
        written = io.write(data, static_cast<std::size_t>(length), pos);
    else if (length <= tail)
        written = move_up(io, end - length, end, length, block, size);
    else
        written = io.write(data + tail, static_cast<std::size_t>(length - tail), end) &&
                  move_up(io, pos, end, length, block, size);
    if (!written)
        (void)::ftruncate(fd, end);
    return written;
}

// Inserts `data` at `pos` of a file `end` bytes long.
template <typename Io>
bool insert_bytes(const Io &io, int fd, off_t pos, off_t end, const char *data, off_t length,
                  char *block, std::size_t size) {
    if (!grow(fd, pos, end, data, length, block, size) ||
        !move_up(io, pos, std::max(pos, end - length), length, block, size))
        return false;
    const auto head = static_cast<std::size_t>(std::clamp<off_t>(end - pos, 0, length));
    return head == 0 || io.write(data, head, pos);
}

bool starts_header(std::string_view piece) {
    std::size_t first = 0;
    while (first < piece.size() && (piece[first] == ' ' || piece[first] == '\t'))
        ++first;
    return first < piece.size() && piece[first] == '[';
}

// Copies a piece into the line buffer, as a line read would have left it,
// and trims it there.
std::string_view take(char *buf, std::string_view piece) {
    std::memmove(buf, piece.data(), piece.size());
    buf[piece.size()] = '\0';
    return trim_string(buf);
}

// `line` is a trimmed header line, starting with '['.
bool header_names(std::string_view line, std::string_view section) {
    return line.size() == section.size() + 2 && line.back() == ']' &&
           std::string_view(line.data() + 1, section.size()) == section;
}

bool key_matches(std::string_view line, std::string_view key) {
    if (line.size() <= key.size() || std::string_view(line.data(), key.size()) != key)
        return false;
    const char after = line[key.size()];
    return after == ' ' || after == '\t' || after == '=';
}

} // namespace

File::File(const char *path, Access access) {
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

int open_for_set(File &file, const char *path, bool fits_new_file) {
    file = File(path, Access::update);
    if (file)
        return INI_OK;
    if (errno != ENOENT)
        return INI_EOPEN;
    if (!fits_new_file)
        return INI_EINVAL;
    file = File(path, Access::create);
    return file ? INI_OK : INI_EOPEN;
}

LineReader::LineReader(FILE *stream) : stream_(stream) {
    const off_t start = ::ftello(stream);
    usable_ = start >= 0;
    block_start_ = stream_offset_ = usable_ ? start : 0;
}

LineReader::LineReader(const File &file) : fd_(file.fd()), size_(file.size()) {}

bool LineReader::fill() {
    if (at_end_ || !usable_)
        return false;
    block_start_ += static_cast<off_t>(filled_);
    cursor_ = filled_ = 0;
    if (fd_ >= 0) {
        const ssize_t count = ::pread(fd_, block_, sizeof block_, block_start_);
        filled_ = count > 0 ? static_cast<std::size_t>(count) : 0;
        at_end_ = filled_ < sizeof block_ || block_start_ + count >= size_;
        return filled_ > 0;
    }
    if (stream_offset_ != block_start_) {
        if (::fseeko(stream_, block_start_, SEEK_SET) != 0) {
            usable_ = false;
            return false;
        }
        stream_offset_ = block_start_;
    }
    filled_ = std::fread(block_, 1, sizeof block_, stream_);
    stream_offset_ += static_cast<off_t>(filled_);
    at_end_ = filled_ < sizeof block_;
    return filled_ > 0;
}

std::string_view LineReader::next(char *spill, std::size_t max) {
    std::size_t spilled = 0;
    while (spilled < max) {
        if (cursor_ == filled_ && !fill())
            break;
        const char *start = block_ + cursor_;
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

off_t LineReader::skip_line(char *scratch) {
    off_t total = 0;
    for (;;) {
        const std::string_view piece = next(scratch, piece_max);
        total += static_cast<off_t>(piece.size());
        if (piece.empty() || piece.back() == '\n')
            return total;
    }
}

bool LineReader::skip_to_header(char *buf, std::size_t max) {
    std::string_view passed;
    for (;;) {
        // Whole pieces inside the block are passed over in place.
        const char *line = block_ + cursor_;
        const char *const end = block_ + filled_;
        while (line < end) {
            const char *first = line;
            while (first < end && (*first == ' ' || *first == '\t'))
                ++first;
            if (first < end && *first == '[' && static_cast<std::size_t>(first - line) < max) {
                cursor_ = static_cast<std::size_t>(line - block_);
                return true;
            }
            const auto *line_feed = static_cast<const char *>(
                std::memchr(line, '\n', std::min(static_cast<std::size_t>(end - line), max)));
            if (line_feed == nullptr)
                break;
            passed = {line, static_cast<std::size_t>(line_feed + 1 - line)};
            line = line_feed + 1;
        }
        // A piece that reaches the end of the block, or of the file.
        cursor_ = static_cast<std::size_t>(line - block_);
        const off_t start = offset();
        const std::string_view piece = next(buf, max);
        if (piece.empty()) {
            if (!passed.empty())
                take(buf, passed);
            return false;
        }
        if (starts_header(piece)) {
            move_to(start);
            return true;
        }
        passed = piece;
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

int LineReader::byte_before(off_t offset) {
    if (offset <= 0)
        return -1;
    if (offset > block_start_ && offset <= block_start_ + static_cast<off_t>(filled_))
        return static_cast<unsigned char>(block_[offset - 1 - block_start_]);
    unsigned char byte;
    return fd_ >= 0 && ::pread(fd_, &byte, 1, offset - 1) == 1 ? byte : -1;
}

void LineReader::sync() {
    if (usable_ && stream_offset_ != offset() && ::fseeko(stream_, offset(), SEEK_SET) == 0)
        stream_offset_ = offset();
    std::clearerr(stream_);
}

int scan_key(LineReader &in, const char *section, const char *key, char *buf, int size) {
    buf[size - 1] = '\0';
    const auto max = static_cast<std::size_t>(size) - 2;
    const std::string_view name(section);
    const std::string_view wanted(key);
    const bool any_key = is_wildcard(wanted);
    bool in_section = is_wildcard(name);
    bool found = false;
    for (;;) {
        // Outside the section only headers matter.
        if (!in_section && !in.skip_to_header(buf, max))
            return INI_SCAN_NONE;
        const off_t line_start = in.offset();
        const std::string_view piece = in.next(buf, max);
        if (piece.empty())
            return found ? INI_SCAN_BOUNDARY : INI_SCAN_NONE;
        const std::string_view line = take(buf, piece);
        if (!line.empty() && line[0] == '[') {
            if (!in_section && header_names(line, name)) {
                found = in_section = true;
                if (!wanted.empty())
                    continue;
            }
            if (in_section) {
                in.move_to(line_start);
                return INI_SCAN_BOUNDARY;
            }
        } else if (in_section && !wanted.empty() && line.find('=') != std::string_view::npos &&
                   (any_key || key_matches(line, wanted))) {
            in.move_to(line_start);
            return INI_SCAN_LINE;
        }
    }
}

int scan_section(LineReader &in, const char *section, char *buf, int size, bool rewind) {
    buf[size - 1] = '\0';
    const auto max = static_cast<std::size_t>(size) - 2;
    const std::string_view name(section);
    bool in_section = is_wildcard(name);
    int result = INI_SCAN_NONE;
    off_t line_start;
    for (;;) {
        if (!in_section && !in.skip_to_header(buf, max))
            return INI_SCAN_NONE;
        line_start = in.offset();
        const std::string_view piece = in.next(buf, max);
        if (piece.empty()) {
            if (result == INI_SCAN_NONE)
                return result;
            break;
        }
        const std::string_view line = take(buf, piece);
        if (!line.empty() && line[0] == '[') {
            if (in_section) {
                result = INI_SCAN_BOUNDARY;
                break;
            }
            if (header_names(line, name)) {
                result = INI_SCAN_BOUNDARY;
                in_section = true;
            }
        } else {
            result = INI_SCAN_LINE;
            break;
        }
    }
    if (rewind)
        in.move_to(line_start);
    return result;
}

void insert_lines(const File &file, LineReader &in, off_t at, char *text, std::size_t length) {
    const int before = in.byte_before(at);
    if (before != -1 && before != '\n') {
        *--text = '\n';
        ++length;
    }
    (void)insert_bytes(DescriptorIo{file.fd()}, file.fd(), at, file.size(), text,
                       static_cast<off_t>(length), in.block(), read_block);
}

void replace_bytes(const File &file, LineReader &in, off_t at, off_t old_length, const char *text,
                   std::size_t length) {
    const DescriptorIo io{file.fd()};
    const auto new_length = static_cast<off_t>(length);
    if (old_length > new_length) {
        if (io.write(text, length, at))
            cut_bytes(file, in, at + new_length, old_length - new_length);
        return;
    }
    // The surplus goes in first; only then is the old line overwritten, so
    // a failed growth leaves the file as it was.
    if (old_length == new_length ||
        insert_bytes(io, file.fd(), at + old_length, file.size(), text + old_length,
                     new_length - old_length, in.block(), read_block))
        (void)io.write(text, static_cast<std::size_t>(old_length), at);
}

void cut_bytes(const File &file, LineReader &in, off_t at, off_t length) {
    const off_t end = file.size();
    if (move_down(DescriptorIo{file.fd()}, at + length, end, length, in.block(), read_block))
        (void)::ftruncate(file.fd(), end - length);
}

int cut_line(const File &file, LineReader &in, char *scratch) {
    const off_t at = in.offset();
    const off_t length = in.skip_line(scratch);
    if (length == 0)
        return INI_EOPEN;
    cut_bytes(file, in, at, length);
    return INI_OK;
}

const char *trimmed_copy(const char *text, char *copy) {
    const std::size_t length = ::strnlen(text, line_size - 1);
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return trim_string(copy);
}

} // namespace iniplace

using namespace iniplace;

extern "C" {

char *trim_string(char *s) {
    if (s == nullptr)
        return nullptr;
    while (*s == ' ' || *s == '\t')
        ++s;
    std::size_t last = std::strlen(s);
    while (last > 1) {
        const char c = s[last - 1];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            break;
        s[--last] = '\0';
    }
    return s;
}

int parse(FILE *stream, const char *section, const char *key, char *buf, int size) {
    if (stream == nullptr || section == nullptr || key == nullptr || buf == nullptr || size < 3)
        return INI_SCAN_NONE;
    LineReader in(stream);
    const int result = scan_key(in, section, key, buf, size);
    in.sync();
    return result;
}

int parse_section(FILE *stream, const char *section, char *buf, int size, int rewind) {
    if (stream == nullptr || section == nullptr || buf == nullptr || size < 3)
        return INI_SCAN_NONE;
    LineReader in(stream);
    const int result = scan_section(in, section, buf, size, rewind != 0);
    in.sync();
    return result;
}

int file_ins(FILE *stream, long len, const void *data) {
    if (stream == nullptr || len < 0 || (data == nullptr && len > 0))
        return -1;
    const off_t pos = ::ftello(stream);
    if (pos < 0 || ::fseeko(stream, 0, SEEK_END) != 0)
        return -1;
    const off_t end = ::ftello(stream);
    char block[move_block];
    if (len == 0 || !insert_bytes(StreamIo{stream}, ::fileno(stream), pos, end,
                                  static_cast<const char *>(data), len, block, sizeof block)) {
        (void)::fseeko(stream, pos, SEEK_SET);
        return -1;
    }
    return ::fseeko(stream, pos + len, SEEK_SET) == 0 ? 0 : -1;
}

int file_cut(FILE *stream, long len) {
    if (stream == nullptr || len < 0)
        return -1;
    if (len == 0)
        return 0;
    const off_t pos = ::ftello(stream);
    off_t count = len;
    off_t source = pos + count;
    (void)::fseeko(stream, 0, SEEK_END);
    const off_t end = ::ftello(stream);
    if (source > end) {
        count -= source - end;
        source = end;
    }
    if (count <= 0)
        return 0;
    char block[move_block];
    if (!move_down(StreamIo{stream}, source, end, count, block, sizeof block))
        return -1;
    // Flushing before the truncation keeps buffered bytes from lengthening
    // the file again.
    (void)std::fflush(stream);
    (void)::ftruncate(::fileno(stream), end - count);
    return 0;
}

int ini_getkey(const char *path, const char *section, const char *key, char *dst, int len) {
    if (path == nullptr || section == nullptr || key == nullptr || dst == nullptr || len < 1)
        return INI_EINVAL;
    const File file(path, Access::read);
    if (!file)
        return INI_EOPEN;
    char line[line_size];
    LineReader in(file);
    if (scan_key(in, section, key, line, line_size) != INI_SCAN_LINE)
        return INI_NOT_FOUND;
    const char *value = trim_string(std::strchr(line, '=') + 1);
    std::strncpy(dst, value, static_cast<std::size_t>(len));
    dst[len - 1] = '\0';
    return INI_OK;
}

int ini_setkey(const char *path, const char *section, const char *key, const char *value) {
    if (path == nullptr || section == nullptr || key == nullptr || value == nullptr)
        return INI_EINVAL;
    const std::string_view name(section);
    const std::string_view key_text(key);
    if (key_text.empty() || is_wildcard(key_text) ||
        key_text.find_first_of("=\n") != std::string_view::npos || key[0] == '[' || key[0] == ' ' ||
        key[0] == '\t' || holds_line_feed(name) || holds_line_feed(value))
        return INI_EINVAL;
    const std::size_t line_length = key_text.size() + std::strlen(value) + 2;
    const bool preamble = is_wildcard(name);
    const std::size_t header_length = preamble ? 0 : name.size() + 3;
    if (!text_fits(line_length))
        return INI_EINVAL;

    File file;
    const int opened = open_for_set(file, path, text_fits(header_length + line_length));
    if (opened != INI_OK)
        return opened;
    char line[line_size];
    LineReader in(file);
    const int found = scan_key(in, section, key, line, line_size);
    const off_t at = in.offset();

    // text[0] is left free for a line feed that separates appended lines.
    char buffer[line_size + 1];
    char *text = buffer + 1;
    if (found == INI_SCAN_NONE && !preamble) {
        if (!text_fits(header_length + line_length))
            return INI_EINVAL;
        std::snprintf(text, line_size, "[%s]\n%s=%s\n", section, key, value);
        insert_lines(file, in, at, text, header_length + line_length);
        return INI_OK;
    }
    std::snprintf(text, line_size, "%s=%s\n", key, value);
    if (found != INI_SCAN_LINE) {
        insert_lines(file, in, at, text, line_length);
        return INI_OK;
    }
    const off_t old_length = in.skip_line(line);
    if (old_length == 0)
        return INI_EOPEN;
    replace_bytes(file, in, at, old_length, text, line_length);
    return INI_OK;
}

int ini_getsection(const char *path, const char *section, const char *ref, int mode, char *dst,
                   int len) {
    if (section == nullptr || is_wildcard(section))
        return INI_ESECTION;
    if (dst == nullptr || len < 1)
        return INI_EDEST;
    const bool compares = mode >= INI_ENTRY_MATCH && mode <= INI_ENTRY_PREV;
    if (path == nullptr || (ref == nullptr && compares))
        return INI_EINVAL;
    dst[0] = '\0';
    const File file(path, Access::read);
    if (!file)
        return INI_EOPEN;
    char reference[line_size];
    const std::string_view wanted = ref != nullptr ? trimmed_copy(ref, reference) : "";
    const auto copy_out = [dst, len](const char *entry) {
        std::strncpy(dst, entry, static_cast<std::size_t>(len));
        dst[len - 1] = '\0';
    };

    char line[line_size];
    LineReader in(file);
    int scanned = scan_section(in, section, line, line_size, false);
    int status = INI_NOT_FOUND;
    bool matched = false;
    for (; scanned == INI_SCAN_LINE; scanned = scan_section(in, "*", line, line_size, false)) {
        const char *entry = trim_string(line);
        if (mode == INI_ENTRY_FIRST || (mode == INI_ENTRY_MATCH && wanted == entry) ||
            (mode == INI_ENTRY_NEXT && matched)) {
            copy_out(entry);
            status = INI_OK;
            break;
        }
        if (mode == INI_ENTRY_NEXT) {
            matched = wanted == entry;
        } else if (mode == INI_ENTRY_PREV) {
            if (wanted == entry) {
                status = dst[0] != '\0' ? INI_OK : INI_NOT_FOUND;
                break;
            }
            copy_out(entry);
        } else if (mode != INI_ENTRY_MATCH) {
            break;
        }
    }
    if (status != INI_OK)
        dst[0] = '\0';
    return status;
}

} // extern "C"
