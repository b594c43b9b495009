// Moving bytes in a file or a caller's stream: copying a range, and
// replacing a range with other bytes, which inserts, removes or overwrites
// as the lengths say. The tail after a change moves through a scratch
// block to make or close the gap.
#pragma once

#include "format.h"
#include "io_stream.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace iniplace {

// Block through which the building blocks move a caller's stream.
constexpr std::size_t move_block = 1000;

// Reads the `length` bytes at `at` of `from` block by block, handing each
// to `visit(bytes, offset)`, which returns a Status; stops at the first
// that fails.
template <typename Visit>
Status read_blocks(const Io &from, off_t at, off_t length, Buffer block, Visit visit) {
    for (; length > 0;) {
        const auto count =
            static_cast<std::size_t>(std::min<off_t>(length, static_cast<off_t>(block.size)));
        std::size_t got = 0;
        if (const Status read = from.read(block.data, count, at, got); !read.ok())
            return read;
        if (got != count)
            return failed(Outcome::not_read, Op::read, 0);
        if (const Status visited = visit(std::string_view(block.data, count), at); !visited.ok())
            return visited;
        at += static_cast<off_t>(count);
        length -= static_cast<off_t>(count);
    }
    return {};
}

// Copies `length` bytes at `from_at` of `from` to `to_at` of `to`, front to
// back (so a copy to a lower offset of the same file is safe), showing
// each block to `seen` as it passes.
template <typename Seen>
Status copy_bytes(const Io &from, off_t from_at, const Io &to, off_t to_at, off_t length,
                  Buffer block, Seen seen) {
    return read_blocks(from, from_at, length, block, [&](std::string_view bytes, off_t at) {
        const Status written = to.write(bytes.data(), bytes.size(), to_at + (at - from_at));
        if (written.ok())
            seen(bytes);
        return written;
    });
}

// A copy that shows its blocks to no one.
struct NoWatch {
    void operator()(std::string_view) const {}
};

// Bytes of the file already read: `bytes` are the file's from `at` on.
struct BytesRead {
    off_t at = 0;
    std::string_view bytes;
};

// Replaces the `old_length` bytes at `at` of a file of `end` bytes with
// `text`: with `old_length` 0 this inserts, with an empty `text` it
// removes. Growth is written first and cut back if it fails, so a full disk
// or the file-size limit leaves the file as it was. A tail that `read`
// holds whole is written from there, with the new text, in one call.
Status replace_bytes(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
                     Buffer scratch, BytesRead read = {});

// What replace_bytes checks before any byte moves: the file stays within
// the file-size limit, and where it is `sparse` the space written into is
// reserved, since a hole it writes into needs blocks the disk may lack.
// Growth needs no reservation: it is written first, and cut back if the
// disk is full.
Status prepare_replace(const Io &io, off_t end, off_t at, off_t old_length, std::size_t length,
                       bool sparse);
// replace_bytes once prepared.
Status replace_prepared(const Io &io, off_t end, off_t at, off_t old_length, std::string_view text,
                        Buffer scratch, BytesRead read = {});

// The size of a file of `end` bytes once `old_length` bytes at `at` are
// replaced with `length` bytes.
constexpr off_t end_after(off_t end, off_t at, off_t old_length, std::size_t length) {
    return std::max(end, at) + static_cast<off_t>(length) - old_length;
}

} // namespace iniplace
