// FNV-1a over 64 bits, for the journal's checksums and the key walk's
// hashes of names.
#pragma once

#include <cstdint>
#include <string_view>

namespace iniplace {

constexpr std::uint64_t fnv_start = 0xcbf29ce484222325ULL;

// `bytes` added to the hash `hash` (fnv_start for a hash of them alone).
constexpr std::uint64_t fnv(std::string_view bytes, std::uint64_t hash) {
    for (const char byte : bytes)
        hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
    return hash;
}

} // namespace iniplace
