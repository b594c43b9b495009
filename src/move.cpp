#include "move.h"

#include <optional>

namespace iniplace {

namespace {

// Moves the bytes [from, to) up by `distance`, back to front, so each block
// is read before anything is written over it.
Status move_up(const Io &io, off_t from, off_t to, off_t distance, Buffer block) {
    while (to > from) {
        const auto count =
            static_cast<std::size_t>(std::min<off_t>(to - from, static_cast<off_t>(block.size)));
        to -= static_cast<off_t>(count);
        if (const Status moved =
                copy_bytes(io, to, io, to + distance, off_t(count), block, NoWatch());
            !moved.ok())
            return moved;
    }
    return {};
}

// Writes the bytes that inserting `text` at `at` puts past the old end of
// the file, before any existing byte is overwritten; if that fails, the
// file is cut back to its old length, as it was.
Status grow(const Io &io, off_t end, off_t at, std::string_view text, Buffer scratch) {
    const auto length = static_cast<off_t>(text.size());
    const off_t tail = end - at;
    Status written;
    if (tail <= 0)
        written = io.write(text.data(), text.size(), at);
    else if (length <= tail)
        written = move_up(io, end - length, end, length, scratch);
    else if (written =
                 io.write(text.data() + tail, text.size() - static_cast<std::size_t>(tail), end);
             written.ok())
        written = move_up(io, at, end, length, scratch);
    // Cut back to the old end, so the file is as it was. Should that fail
    // too, the failed write is what the caller hears of, and the bytes
    // past the old end are all that is left of it (the durable build's
    // journal cuts them off as well).
    if (!written.ok())
        (void)io.truncate(end);
    return written;
}

Status insert_bytes(const Io &io, off_t end, off_t at, std::string_view text, Buffer scratch) {
    const auto length = static_cast<off_t>(text.size());
    if (const Status grown = grow(io, end, at, text, scratch); !grown.ok())
        return grown;
    if (const Status moved = move_up(io, at, std::max(at, end - length), length, scratch);
        !moved.ok())
        return moved;
    const auto head = static_cast<std::size_t>(std::clamp<off_t>(end - at, 0, length));
    return io.write(text.data(), head, at);
}

Status remove_bytes(const Io &io, off_t end, off_t at, off_t length, Buffer scratch) {
    if (const Status moved =
            copy_bytes(io, at + length, io, at, end - at - length, scratch, NoWatch());
        !moved.ok())
        return moved;
    return io.truncate(end - length);
}

// The tail [from, end) if `read` holds all of it.
std::optional<std::string_view> tail_in(const BytesRead &read, off_t from, off_t end) {
    const off_t read_end = read.at + static_cast<off_t>(read.bytes.size());
    if (read.bytes.empty() || from < read.at || end > read_end || from > end)
        return std::nullopt;
    return head(after(read.bytes, static_cast<std::size_t>(from - read.at)),
                static_cast<std::size_t>(end - from));
}

// The bytes [from, to) of `text` followed by `tail`, as two parts.
std::pair<std::string_view, std::string_view> joined(std::string_view text, std::string_view tail,
                                                     std::size_t from, std::size_t to) {
    const std::size_t split = text.size();
    const auto part = [](std::string_view bytes, std::size_t a, std::size_t b) {
        return a < b ? head(after(bytes, a), b - a) : std::string_view();
    };
    return {part(text, from, std::min(to, split)),
            part(tail, std::max(from, split) - split, std::max(to, split) - split)};
}

// The edit with its tail in memory: the new bytes from `at` on are the text
// and the tail. Growth past the old end is written first (and cut back if
// it fails); then the rest over the old bytes; then a shorter file is cut.
Status replace_held(const Io &io, off_t end, off_t at, std::string_view text,
                    std::string_view tail) {
    const std::size_t total = text.size() + tail.size();
    const auto kept = static_cast<std::size_t>(end - at);
    if (total > kept) {
        const auto [first, second] = joined(text, tail, kept, total);
        if (const Status grown = io.write(first, second, end); !grown.ok()) {
            (void)io.truncate(end); // as in grow()
            return grown;
        }
    }
    const auto [first, second] = joined(text, tail, 0, std::min(total, kept));
    if (const Status written = io.write(first, second, at); !written.ok())
        return written;
    return total < kept ? io.truncate(at + static_cast<off_t>(total)) : Status();
}

} // namespace

Status replace_bytes(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
                     Buffer scratch, BytesRead read) {
    if (const Status prepared = prepare_replace(io, end, at, old_length, text.size(), true);
        !prepared.ok())
        return prepared;
    return replace_prepared(io, end, at, old_length, text, scratch, read);
}

// Every byte written lies below the larger of the old and the new end,
// which must be within the size limit.
Status prepare_replace(const Io &io, off_t end, off_t at, off_t old_length, std::size_t length,
                       bool sparse) {
    const off_t new_end = end_after(end, at, old_length, length);
    if (const Status within = io::within_size_limit(std::max(end, new_end)); !within.ok())
        return within;
    return sparse ? io.reserve(at, new_end - at) : Status();
}

Status replace_prepared(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
                        Buffer scratch, BytesRead read) {
    const auto new_length = static_cast<off_t>(text.size());
    if (new_length != old_length) {
        if (const auto tail = tail_in(read, at + old_length, end))
            return replace_held(io, end, at, text, *tail);
    }
    if (old_length > new_length) {
        if (const Status written = io.write(text.data(), text.size(), at); !written.ok())
            return written;
        return remove_bytes(io, end, at + new_length, old_length - new_length, scratch);
    }
    // The surplus goes in first; only then is the old line overwritten, so
    // a failed growth leaves the file as it was.
    const auto old_size = static_cast<std::size_t>(old_length);
    if (old_length < new_length) {
        if (const Status inserted =
                insert_bytes(io, end, at + old_length, after(text, old_size), scratch);
            !inserted.ok())
            return inserted;
    }
    return io.write(text.data(), old_size, at);
}

} // namespace iniplace
