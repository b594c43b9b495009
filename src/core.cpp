// The core: streams, the line reader, the scanners, byte insertion and
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

// O_NONBLOCK keeps open() from waiting for the writer of a FIFO; the flag
// is dropped again once the path is known to be a regular file.
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

FILE *open_regular(const char *path, Access access) {
    const int fd = ::open(path, open_flags(access), 0666);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE *file = ::fdopen(fd, access == Access::read ? "rb" : "r+b");
    if (file == nullptr) {
        ::close(fd);
        return nullptr;
    }
    // The line reader and the block moves do their own buffering.
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
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

bool copy_at(int fd, off_t from, off_t to, off_t length) {
    char block[move_block];
    while (length > 0) {
        const auto chunk = static_cast<std::size_t>(
            std::min<off_t>(length, static_cast<off_t>(move_block)));
        if (::pread(fd, block, chunk, from) != static_cast<ssize_t>(chunk) ||
            !write_all_at(fd, block, chunk, to))
            return false;
        from += static_cast<off_t>(chunk);
        to += static_cast<off_t>(chunk);
        length -= static_cast<off_t>(chunk);
    }
    return true;
}

// Writes the bytes that an insertion of `data` (`len` bytes) at `pos` puts
// past the old end of the file, before any existing byte is overwritten:
// if the disk is full or a size limit is hit, the file is cut back to its
// old length and stays as it was.
bool grow(FILE *stream, off_t pos, off_t end, off_t len, const char *data) {
    const int fd = ::fileno(stream);
    const off_t tail = end - pos;
    bool written;
    if (tail < 0) {
        written = write_all_at(fd, data, static_cast<std::size_t>(len), pos);
    } else if (len <= tail) {
        written = copy_at(fd, end - len, end, len);
    } else {
        written = write_all_at(fd, data + tail, static_cast<std::size_t>(len - tail), end) &&
                  copy_at(fd, pos, end + len - tail, tail);
    }
    if (!written)
        (void)::ftruncate(fd, end);
    return written;
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

bool text_fits(std::size_t length) { return length <= text_max; }

} // namespace

Stream::Stream(const char *path, Access access) : file_(open_regular(path, access)) {}

Stream &Stream::operator=(Stream &&other) noexcept {
    if (this != &other) {
        if (file_ != nullptr)
            std::fclose(file_);
        file_ = other.file_;
        other.file_ = nullptr;
    }
    return *this;
}

Stream::~Stream() {
    if (file_ != nullptr)
        std::fclose(file_);
}

int open_for_set(Stream &stream, const char *path, bool fits_new_file) {
    stream = Stream(path, Access::update);
    if (stream)
        return INI_OK;
    if (errno != ENOENT)
        return INI_EOPEN;
    if (!fits_new_file)
        return INI_EINVAL;
    stream = Stream(path, Access::create);
    return stream ? INI_OK : INI_EOPEN;
}

LineReader::LineReader(FILE *stream) : stream_(stream) {
    const off_t start = ::ftello(stream);
    usable_ = start >= 0;
    block_start_ = stream_offset_ = usable_ ? start : 0;
}

bool LineReader::fill() {
    if (at_end_ || !usable_)
        return false;
    block_start_ += static_cast<off_t>(filled_);
    cursor_ = filled_ = 0;
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

std::size_t LineReader::read_piece(char *dst, std::size_t max) {
    std::size_t taken = 0;
    while (taken < max) {
        if (cursor_ == filled_ && !fill())
            break;
        const char *start = block_ + cursor_;
        const std::size_t look = std::min(filled_ - cursor_, max - taken);
        const auto *line_feed = static_cast<const char *>(std::memchr(start, '\n', look));
        const std::size_t count =
            line_feed != nullptr ? static_cast<std::size_t>(line_feed - start) + 1 : look;
        std::memcpy(dst + taken, start, count);
        taken += count;
        cursor_ += count;
        if (line_feed != nullptr)
            break;
    }
    if (taken > 0)
        dst[taken] = '\0';
    return taken;
}

off_t LineReader::skip_line(char *scratch) {
    off_t total = 0;
    for (;;) {
        const std::size_t count = read_piece(scratch, piece_max);
        total += static_cast<off_t>(count);
        if (count == 0 || scratch[count - 1] == '\n')
            return total;
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
    return ::pread(::fileno(stream_), &byte, 1, offset - 1) == 1 ? byte : -1;
}

void LineReader::sync() {
    if (usable_ && stream_offset_ != offset() && ::fseeko(stream_, offset(), SEEK_SET) == 0)
        stream_offset_ = offset();
    std::clearerr(stream_);
}

int scan_key(LineReader &in, const char *section, const char *key, char *buf, int size) {
    buf[size - 1] = '\0';
    const std::string_view name(section);
    const std::string_view wanted(key);
    const bool any_key = is_wildcard(wanted);
    bool in_section = is_wildcard(name);
    bool found = false;
    for (;;) {
        const off_t line_start = in.offset();
        if (in.read_piece(buf, static_cast<std::size_t>(size) - 2) == 0)
            return found ? INI_SCAN_BOUNDARY : INI_SCAN_NONE;
        const std::string_view line(trim_string(buf));
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
        } else if (in_section && !wanted.empty() &&
                   line.find('=') != std::string_view::npos &&
                   (any_key || key_matches(line, wanted))) {
            in.move_to(line_start);
            return INI_SCAN_LINE;
        }
    }
}

int scan_section(LineReader &in, const char *section, char *buf, int size, bool rewind) {
    buf[size - 1] = '\0';
    const std::string_view name(section);
    bool in_section = is_wildcard(name);
    int result = INI_SCAN_NONE;
    off_t line_start;
    for (;;) {
        line_start = in.offset();
        if (in.read_piece(buf, static_cast<std::size_t>(size) - 2) == 0) {
            if (result == INI_SCAN_NONE)
                return result;
            break;
        }
        const std::string_view line(trim_string(buf));
        if (!line.empty() && line[0] == '[') {
            if (in_section) {
                result = INI_SCAN_BOUNDARY;
                break;
            }
            if (header_names(line, name)) {
                result = INI_SCAN_BOUNDARY;
                in_section = true;
            }
        } else if (in_section) {
            result = INI_SCAN_LINE;
            break;
        }
    }
    if (rewind)
        in.move_to(line_start);
    return result;
}

void insert_lines(FILE *stream, LineReader &in, off_t at, char *text, std::size_t length) {
    const int before = in.byte_before(at);
    if (before != -1 && before != '\n') {
        *--text = '\n';
        ++length;
    }
    if (::fseeko(stream, at, SEEK_SET) == 0)
        (void)file_ins(stream, static_cast<long>(length), text);
}

void cut_at(FILE *stream, off_t at, off_t length) {
    if (::fseeko(stream, at, SEEK_SET) == 0)
        (void)file_cut(stream, static_cast<long>(length));
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
    const off_t count = len;
    const auto *bytes = static_cast<const char *>(data);
    if (count == 0 || !grow(stream, pos, end, count, bytes)) {
        (void)::fseeko(stream, pos, SEEK_SET);
        return -1;
    }
    // The tail bytes that stay inside the old length move back to front, so
    // each block is read before anything is written over it.
    char block[move_block];
    off_t source = end - count;
    while (source > pos) {
        const auto size = static_cast<std::size_t>(
            std::min<off_t>(static_cast<off_t>(move_block), source - pos));
        source -= static_cast<off_t>(size);
        // A seek comes before every switch between reading and writing.
        if (::fseeko(stream, source, SEEK_SET) != 0 || std::fread(block, size, 1, stream) != 1 ||
            ::fseeko(stream, source + count, SEEK_SET) != 0 ||
            std::fwrite(block, size, 1, stream) != 1)
            return -1;
    }
    const auto head = static_cast<std::size_t>(std::clamp<off_t>(end - pos, 0, count));
    if (::fseeko(stream, pos, SEEK_SET) != 0 || (head > 0 && std::fwrite(bytes, head, 1, stream) != 1))
        return -1;
    return ::fseeko(stream, pos + count, SEEK_SET) == 0 ? 0 : -1;
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
    while (source < end) {
        const auto size = static_cast<std::size_t>(
            std::min<off_t>(static_cast<off_t>(move_block), end - source));
        if (::fseeko(stream, source, SEEK_SET) != 0 || std::fread(block, size, 1, stream) != 1 ||
            ::fseeko(stream, source - count, SEEK_SET) != 0 ||
            std::fwrite(block, size, 1, stream) != 1)
            return -1;
        source += static_cast<off_t>(size);
    }
    // Flushing before the truncation keeps buffered bytes from lengthening
    // the file again.
    (void)std::fflush(stream);
    (void)::ftruncate(::fileno(stream), end - count);
    return 0;
}

int ini_getkey(const char *path, const char *section, const char *key, char *dst, int len) {
    if (path == nullptr || section == nullptr || key == nullptr || dst == nullptr || len < 1)
        return INI_EINVAL;
    const Stream stream(path, Access::read);
    if (!stream)
        return INI_EOPEN;
    char line[line_size];
    LineReader in(stream.get());
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
        key_text.find_first_of("=\n") != std::string_view::npos || key[0] == '[' ||
        key[0] == ' ' || key[0] == '\t' || holds_line_feed(name) || holds_line_feed(value))
        return INI_EINVAL;
    const std::size_t line_length = key_text.size() + std::strlen(value) + 2;
    const bool preamble = is_wildcard(name);
    const std::size_t header_length = preamble ? 0 : name.size() + 3;
    if (!text_fits(line_length))
        return INI_EINVAL;

    Stream stream;
    const int opened = open_for_set(stream, path, text_fits(header_length + line_length));
    if (opened != INI_OK)
        return opened;
    char line[line_size];
    LineReader in(stream.get());
    const int found = scan_key(in, section, key, line, line_size);
    const off_t at = in.offset();

    // text[0] is left free for a line feed that separates appended lines.
    char buffer[line_size + 1];
    char *text = buffer + 1;
    if (found == INI_SCAN_NONE && !preamble) {
        if (!text_fits(header_length + line_length))
            return INI_EINVAL;
        std::snprintf(text, line_size, "[%s]\n%s=%s\n", section, key, value);
        insert_lines(stream.get(), in, at, text, header_length + line_length);
        return INI_OK;
    }
    std::snprintf(text, line_size, "%s=%s\n", key, value);
    if (found != INI_SCAN_LINE) {
        insert_lines(stream.get(), in, at, text, line_length);
        return INI_OK;
    }
    const off_t old_length = in.skip_line(line);
    if (old_length == 0)
        return INI_EOPEN;
    const auto new_length = static_cast<off_t>(line_length);
    FILE *file = stream.get();
    if (old_length > new_length) {
        if (::fseeko(file, at, SEEK_SET) == 0 && std::fwrite(text, line_length, 1, file) == 1)
            (void)file_cut(file, static_cast<long>(old_length - new_length));
    } else if (::fseeko(file, at + old_length, SEEK_SET) == 0 &&
               (old_length == new_length ||
                file_ins(file, static_cast<long>(new_length - old_length), text + old_length) == 0) &&
               ::fseeko(file, at, SEEK_SET) == 0) {
        // The surplus is in place; only now is the old line overwritten.
        (void)std::fwrite(text, static_cast<std::size_t>(old_length), 1, file);
    }
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
    const Stream stream(path, Access::read);
    if (!stream)
        return INI_EOPEN;
    char reference[line_size];
    const std::string_view wanted = ref != nullptr ? trimmed_copy(ref, reference) : "";
    const auto copy_out = [dst, len](const char *entry) {
        std::strncpy(dst, entry, static_cast<std::size_t>(len));
        dst[len - 1] = '\0';
    };

    char line[line_size];
    LineReader in(stream.get());
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
