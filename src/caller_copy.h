// What the getters hand a caller: a text copied into the caller's buffer.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace iniplace {

// Copies `text` into a caller's `dst` as the C library's bounded copy does:
// at most `len` bytes, the rest of them zero-filled; not terminated when
// `text` has `len` bytes or more.
inline void copy_bounded(char *dst, std::size_t len, std::string_view text) {
    const std::size_t copied = text.size() < len ? text.size() : len;
    std::memcpy(dst, text.data(), copied);
    std::memset(dst + copied, 0, len - copied);
}

} // namespace iniplace
