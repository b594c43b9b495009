#include "io_stream.h"

#include <fcntl.h>

namespace iniplace {

namespace {

SystemCall on_stream(Op op, std::FILE *stream, off_t at = 0, std::size_t size = 0,
                     const char *data = nullptr) {
    SystemCall call = io::on_fd(op, ::fileno(stream), at, size, data);
    call.stream = stream;
    return call;
}

long seek_to(std::FILE *stream, off_t at, int whence) {
    SystemCall call = on_stream(Op::seek, stream, at);
    call.flags = whence;
    return io::perform(call,
                       [](const SystemCall &c) { return long(::fseeko(c.stream, c.at, c.flags)); });
}

} // namespace

Io::Io(std::FILE *stream, off_t at) : fd_(::fileno(stream)), stream_(stream), stream_at_(at) {}

Status Io::read(char *to, std::size_t count, off_t at, std::size_t &got) const {
    if (stream_ == nullptr)
        return io::read(fd_, to, count, at, got);
    got = 0;
    if (stream_at_ != at && seek_to(stream_, at, SEEK_SET) != 0) {
        stream_at_ = -1;
        return io::failure(Outcome::not_read, Op::seek);
    }
    // An error flag the stream had before is not this read's: the C
    // library's own line reads read such a stream too.
    std::clearerr(stream_);
    SystemCall call = on_stream(Op::read, stream_, at, count);
    const long n = io::perform(call, [to](const SystemCall &c) {
        const std::size_t read = std::fread(to, 1, c.size, c.stream);
        return std::ferror(c.stream) ? -1L : static_cast<long>(read);
    });
    if (n < 0) {
        stream_at_ = -1;
        return io::failure(Outcome::not_read, Op::read);
    }
    got = static_cast<std::size_t>(n);
    stream_at_ = at + static_cast<off_t>(got);
    return {};
}

Status Io::write(const char *from, std::size_t count, off_t at) const {
    if (stream_ == nullptr)
        return io::write(fd_, from, count, at);
    if (count == 0)
        return {};
    stream_at_ = -1;
    if (seek_to(stream_, at, SEEK_SET) != 0)
        return io::failure(Outcome::not_written, Op::seek);
    std::clearerr(stream_);
    SystemCall call = on_stream(Op::write, stream_, at, count, from);
    if (io::perform(call, [](const SystemCall &c) {
            return long(std::fwrite(c.data, 1, c.size, c.stream));
        }) != static_cast<long>(count)) {
        if (!std::ferror(stream_))
            errno = ENOSPC;
        return io::failure(Outcome::not_written, Op::write);
    }
    // Flushed at once, so a failed write shows here and not later.
    SystemCall flush = on_stream(Op::flush, stream_);
    if (io::perform(flush, [](const SystemCall &c) { return long(std::fflush(c.stream)); }) != 0)
        return io::failure(Outcome::not_written, Op::flush);
    return {};
}

Status Io::write(std::string_view first, std::string_view second, off_t at) const {
    if (stream_ == nullptr)
        return io::write(fd_, first, second, at);
    const Status written = write(first.data(), first.size(), at);
    return written.ok() ? write(second.data(), second.size(), at + off_t(first.size())) : written;
}

Status Io::truncate(off_t length) const {
    if (stream_ != nullptr) {
        SystemCall flush = on_stream(Op::flush, stream_);
        if (io::perform(flush, [](const SystemCall &c) { return long(std::fflush(c.stream)); }) !=
            0)
            return io::failure(Outcome::not_written, Op::flush);
    }
    return io::truncate(fd_, length);
}

Status Io::reserve(off_t at, off_t length) const {
    return io::reserve(fd_, at, length);
}

namespace stream {

Status position(std::FILE *stream, off_t &at) {
    // The offset comes back through `at`: a long is narrower on the target.
    SystemCall call = on_stream(Op::seek, stream);
    at = -1;
    (void)io::perform(call, [&at](const SystemCall &c) {
        at = ::ftello(c.stream);
        return at >= 0 ? 0L : -1L;
    });
    return at >= 0 ? Status() : io::failure(Outcome::not_read, Op::seek);
}

Status seek(std::FILE *stream, off_t at) {
    return seek_to(stream, at, SEEK_SET) == 0 ? Status() : io::failure(Outcome::not_read, Op::seek);
}

Status refuse_appending(std::FILE *stream) {
    SystemCall call = on_stream(Op::flags, stream);
    const long flags =
        io::perform(call, [](const SystemCall &c) { return long(::fcntl(c.fd, F_GETFL)); });
    if (flags < 0)
        return io::failure(Outcome::not_opened, Op::flags);
    return (flags & O_APPEND) != 0 ? failed(Outcome::refused, Op::flags) : Status();
}

Status bounds(std::FILE *stream, off_t &at, off_t &end) {
    Status status = refuse_appending(stream);
    if (status.ok())
        status = position(stream, at);
    if (!status.ok())
        return status;
    if (seek_to(stream, 0, SEEK_END) == 0 && (status = position(stream, end)).ok())
        return {};
    // Back where it stood; if even that fails, the caller hears of it.
    if (const Status back = seek(stream, at); !back.ok())
        return back;
    return status.ok() ? io::failure(Outcome::not_read, Op::seek) : status;
}

} // namespace stream
} // namespace iniplace
