#include "io.h"

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace iniplace {

Io::Io(std::FILE *stream) : fd_(::fileno(stream)), stream_(stream) {}

ssize_t Io::read(char *to, std::size_t count, off_t at) const {
    if (stream_ == nullptr) {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(fd_, to + done, count - done, at + off_t(done));
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return static_cast<ssize_t>(done);
    }
    if (stream_at_ != at && ::fseeko(stream_, at, SEEK_SET) != 0) {
        stream_at_ = -1;
        return -1;
    }
    const std::size_t got = std::fread(to, 1, count, stream_);
    stream_at_ = at + static_cast<off_t>(got);
    return std::ferror(stream_) ? -1 : static_cast<ssize_t>(got);
}

bool Io::write(const char *from, std::size_t count, off_t at) const {
    if (stream_ == nullptr) {
        while (count > 0) {
            const ssize_t written = ::pwrite(fd_, from, count, at);
            if (written <= 0)
                return false;
            from += written;
            count -= static_cast<std::size_t>(written);
            at += written;
        }
        return true;
    }
    // Flushed at once, so a failed write shows here and not later.
    stream_at_ = -1;
    return count == 0 || (::fseeko(stream_, at, SEEK_SET) == 0 &&
                          std::fwrite(from, count, 1, stream_) == 1 && std::fflush(stream_) == 0);
}

bool Io::truncate(off_t length) const {
    if (stream_ != nullptr && std::fflush(stream_) != 0)
        return false;
    return ::ftruncate(fd_, length) == 0;
}

bool within_size_limit(off_t size) {
    rlimit limit{};
    return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           static_cast<rlim_t>(size) <= limit.rlim_cur;
}

} // namespace iniplace
