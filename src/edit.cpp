#include "edit.h"

#include "iniplace.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace iniplace {

namespace {

std::size_t chunk(off_t remaining, std::size_t block_size) {
    return static_cast<std::size_t>(std::min<off_t>(remaining, static_cast<off_t>(block_size)));
}

// Moves the bytes [from, to) up by `distance`, back to front, so each block
// is read before anything is written over it.
bool move_up(const Io &io, off_t from, off_t to, off_t distance, Buffer block) {
    while (to > from) {
        const std::size_t count = chunk(to - from, block.size);
        to -= static_cast<off_t>(count);
        if (io.read(block.data, count, to) != static_cast<ssize_t>(count) ||
            !io.write(block.data, count, to + distance))
            return false;
    }
    return true;
}

// Moves the bytes [from, to) down by `distance`, front to back.
bool move_down(const Io &io, off_t from, off_t to, off_t distance, Buffer block) {
    while (from < to) {
        const std::size_t count = chunk(to - from, block.size);
        if (io.read(block.data, count, from) != static_cast<ssize_t>(count) ||
            !io.write(block.data, count, from - distance))
            return false;
        from += static_cast<off_t>(count);
    }
    return true;
}

// Allocates the blocks of [from, to) that an edit writes into: the holes of
// a sparse file and the growth past its end would otherwise run out of
// space half-way through a move. False only when space is short; where the
// file system cannot reserve, the growth step still guards the end.
bool reserve(const Io &io, off_t from, off_t to) {
    if (to <= from || ::fallocate(io.fd(), FALLOC_FL_KEEP_SIZE, from, to - from) == 0)
        return true;
    return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
}

// Writes the bytes that inserting `text` at `at` puts past the old end of
// the file, before any existing byte is overwritten; if that fails, the
// file is cut back to its old length, as it was.
bool grow(const Io &io, off_t end, off_t at, std::string_view text, Buffer scratch) {
    const auto length = static_cast<off_t>(text.size());
    const off_t tail = end - at;
    bool written;
    if (tail <= 0)
        written = io.write(text.data(), text.size(), at);
    else if (length <= tail)
        written = move_up(io, end - length, end, length, scratch);
    else
        written = io.write(text.data() + tail, text.size() - static_cast<std::size_t>(tail), end) &&
                  move_up(io, at, end, length, scratch);
    if (!written)
        (void)io.truncate(end);
    return written;
}

bool insert_bytes(const Io &io, off_t end, off_t at, std::string_view text, Buffer scratch) {
    const auto length = static_cast<off_t>(text.size());
    if (!grow(io, end, at, text, scratch) ||
        !move_up(io, at, std::max(at, end - length), length, scratch))
        return false;
    const auto head = static_cast<std::size_t>(std::clamp<off_t>(end - at, 0, length));
    return head == 0 || io.write(text.data(), head, at);
}

// Before anything is written: every byte written lies below the larger of
// the old and the new end, which must be within the size limit, and the
// space written into must be there.
bool prepare(const Io &io, off_t at, off_t end, off_t new_end) {
    return within_size_limit(std::max(end, new_end)) && reserve(io, at, new_end);
}

bool remove_bytes(const Io &io, off_t end, off_t at, off_t length, Buffer scratch) {
    return move_down(io, at + length, end, length, scratch) && io.truncate(end - length);
}

// The edit itself, once prepared.
bool apply(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
           Buffer scratch) {
    const auto new_length = static_cast<off_t>(text.size());
    if (old_length > new_length)
        return io.write(text.data(), text.size(), at) &&
               remove_bytes(io, end, at + new_length, old_length - new_length, scratch);
    // The surplus goes in first; only then is the old line overwritten, so
    // a failed growth leaves the file as it was.
    const auto old_size = static_cast<std::size_t>(old_length);
    return (old_length == new_length ||
            insert_bytes(io, end, at + old_length, after(text, old_size), scratch)) &&
           io.write(text.data(), old_size, at);
}

off_t end_after(off_t end, off_t at, off_t old_length, std::string_view text) {
    return std::max(end, at) + static_cast<off_t>(text.size()) - old_length;
}

} // namespace

bool replace_bytes(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
                   Buffer scratch) {
    return prepare(io, at, end, end_after(end, at, old_length, text)) &&
           apply(io, end, at, old_length, text, scratch);
}

bool change(const File &file, off_t at, off_t old_length, std::string_view text, Buffer scratch) {
    const Io io = file.io();
    const off_t end = file.size();
    const off_t new_end = end_after(end, at, old_length, text);
    if (!prepare(io, at, end, new_end))
        return false;
    if constexpr (durable) {
        // Unless the size stays, the whole tail moves.
        const off_t changed = new_end == end ? old_length : end - at;
        Journal journal(file.path(), io.fd(), end, at, changed, new_end, scratch);
        if (journal.refused())
            return false;
        const bool done = apply(io, end, at, old_length, text, scratch);
        journal.finish(done, scratch);
        return done;
    }
    return apply(io, end, at, old_length, text, scratch);
}

int write_line(const char *path, std::string_view section, Finder find, std::string_view wanted,
               const Written &written, bool replace) {
    if (written.refusal != Refusal::none)
        return INI_EINVAL;
    const std::string_view line = written.text.line();
    const bool preamble = is_wildcard(section);
    File file;
    if (const int opened =
            open_or_create(file, path, text_at(section, line, !preamble, false).fits());
        opened != INI_OK)
        return opened;
    FileScan scan(file);
    Line found_line;
    const Found found = find(scan.scanner, section, wanted, found_line);
    const bool stays = found == Found::match && !replace; // an entry already there
    const Place place =
        found == Found::match ? scan.scanner.place_of(found_line) : scan.scanner.place_here();
    if (scan.in.failed())
        return INI_EOPEN;
    if (stays)
        return INI_OK;
    const bool new_section = found == Found::no_section && !preamble;
    const Text text = text_at(section, line, new_section, place.after_unterminated);
    if (!text.fits())
        return INI_EINVAL;
    (void)change(file, place.at, place.old_length, text.bytes(), scan.scratch());
    return INI_OK;
}

int remove_line(const char *path, std::string_view section, Finder find, std::string_view wanted) {
    const File file(path, Access::update);
    if (!file)
        return INI_EOPEN;
    FileScan scan(file);
    Line line;
    const Found found = find(scan.scanner, section, wanted, line);
    const Place place = found == Found::match ? scan.scanner.place_of(line) : Place();
    if (scan.in.failed())
        return INI_EOPEN;
    if (found == Found::match)
        (void)change(file, place.at, place.old_length, {}, scan.scratch());
    return INI_OK;
}

} // namespace iniplace
