// ini_getkeys: every key of a section, or of every section, handed in one
// walk over the file, as the gets read them.
#include "key_walk.h"

#include "hash.h"
#include "read.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace iniplace {

namespace {

// Names seen so far, as `Hashes` bits of their hashes each: a name not
// seen is told at once; one that may have been is looked for again in the
// file. Sized for the sections of a file, which may be thousands: with
// 3,000, about one in ten is looked for again.
template <std::size_t Bits, std::size_t Hashes> class Seen {
  public:
    void clear() { bits_.fill(0); }
    // Whether the name of `hash` may have been added; adds it.
    bool add(std::uint64_t hash) {
        // The bits of a name: first, first + step, first + 2 step, ...
        std::size_t bit = static_cast<std::size_t>(hash % Bits);
        const std::size_t step = static_cast<std::size_t>((hash >> 32) % Bits) | 1;
        bool seen = true;
        for (std::size_t i = 0; i < Hashes; ++i, bit = (bit + step) % Bits) {
            seen = seen && test(bit);
            set(bit);
        }
        return seen;
    }

  private:
    bool test(std::size_t bit) const { return (bits_[bit / 8] >> (bit % 8) & 1) != 0; }
    void set(std::size_t bit) { bits_[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8)); }

    std::array<unsigned char, Bits / 8> bits_{};
};

// A name's 64-bit hash (FNV-1a from `start`, its bits then mixed), never 0.
// The walk picks its start from the clock and the stack, so that names
// whose hashes collide cannot be made in advance to hide a key.
std::uint64_t hash_of(std::string_view name, std::uint64_t start) {
    std::uint64_t hash = fnv(name, start);
    hash ^= hash >> 31;
    hash *= 0x9e3779b97f4a7c15ULL;
    hash ^= hash >> 29;
    return hash == 0 ? 1 : hash;
}

// The filter of section names hashes from fnv_start, the same from call to
// call: a call reads the file the way the last one did.
std::uint64_t picked_start(const void *here) {
    const timespec time = io::now();
    return fnv_start ^ static_cast<std::uint64_t>(time.tv_nsec) << 24 ^
           static_cast<std::uint64_t>(time.tv_sec) ^ reinterpret_cast<std::uintptr_t>(here);
}

// The key lines of a window of a section, told by the hashes of their
// names (up to three quarters of `Size` names): which line of a name comes
// first in the window, and which names stand before the window.
template <std::size_t Size> class KeyWindow {
  public:
    static constexpr std::size_t most = Size / 4 * 3;
    static constexpr std::uint32_t before = UINT32_MAX; // a name before the window

    void clear() {
        hashes_.fill(0);
        count_ = 0;
    }
    // Whether the window holds its most names, or as many lines as it can
    // number.
    bool full(std::size_t lines) const { return count_ == most || lines == before; }
    // Adds the key line numbered `index` in the window; tells whether it is
    // the first of its name there.
    bool add(std::uint64_t hash, std::size_t index) {
        const std::size_t slot = find(hash);
        if (hashes_[slot] == hash)
            return false;
        hashes_[slot] = hash;
        first_[slot] = static_cast<std::uint32_t>(index);
        ++count_;
        return true;
    }
    // A key line before the window: no line of its name in it is handed.
    void stands_before(std::uint64_t hash) {
        const std::size_t slot = find(hash);
        if (hashes_[slot] == hash)
            first_[slot] = before;
    }
    // Whether the key line numbered `index` in the window is handed.
    bool handed(std::uint64_t hash, std::size_t index) const {
        const std::size_t slot = find(hash);
        return first_[slot] == index;
    }

  private:
    std::size_t find(std::uint64_t hash) const {
        std::size_t slot = static_cast<std::size_t>(hash % Size);
        while (hashes_[slot] != 0 && hashes_[slot] != hash)
            slot = (slot + 1) % Size;
        return slot;
    }

    std::array<std::uint64_t, Size> hashes_{};
    // The number of the first line of each name in the window, or `before`.
    std::array<std::uint32_t, Size> first_{};
    std::size_t count_ = 0;
};

// NUL-terminated copies of texts of a line: a section's name, or a key and
// its value together.
class Terminated {
  public:
    const char *of(std::string_view text) { return copy(text, 0); }
    // `key` and then `value`, as two strings.
    const char *of(std::string_view key, std::string_view value, const char *&value_copy) {
        const char *const key_copy = of(key);
        value_copy = copy(value, key.size() + 1);
        return key_copy;
    }

  private:
    const char *copy(std::string_view text, std::size_t at) {
        at = std::min(at, sizeof bytes_ - 1);
        const std::size_t length = std::min(text.size(), sizeof bytes_ - 1 - at);
        std::memcpy(bytes_ + at, text.data(), length);
        bytes_[at + length] = '\0';
        return bytes_ + at;
    }

    char bytes_[line_size];
};

// The walk of ini_getkeys over one scan of the file. A name that may have
// stood before is looked for with the walk's own scan, which then goes
// back to where it was.
class KeyWalk {
  public:
    KeyWalk(FileScan &scan, KeyHandler handler, void *user)
        : scan_(scan), handler_(handler), user_(user), start_(picked_start(this)) {}

    // The keys of the section the scanner is in, named `section`, up to the
    // next header. Returns the handler's non-zero return, or 0.
    int hand(std::string_view section) { return hand_named(section_.of(section)); }

    // Every section, the preamble first.
    int hand_all() {
        int stop = hand(wildcard);
        Line header;
        while (stop == 0 && scan_.scanner.enter_next(header)) {
            // A get names only a header that ends in `]`, not the wildcard,
            // and reads only the first of a name.
            std::string_view section;
            if (!named_by(header.text, section) || is_wildcard(section))
                continue;
            const char *const name = section_.of(section);
            if (sections_.add(hash_of(section, fnv_start)) &&
                !first_of_its_name(name, header.start))
                continue;
            if (!scan_.in.status().ok())
                break; // the call fails, nothing more handed
            stop = hand_named(name);
        }
        return stop;
    }

  private:
    // The key of a key line a get can find (not empty, not the wildcard),
    // in `key`.
    static bool findable(std::string_view line, std::string_view &key) {
        if (!is_key_line(line))
            return false;
        key = key_name(line);
        return !key.empty() && !is_wildcard(key);
    }

    // A section's keys in windows of a bounded number of names. A get reads
    // the first line of a key that stands twice: the first window's lines
    // are handed as they are read; a later window's names are gathered
    // first, looked for before the window, and then handed.
    int hand_named(const char *name) {
        const off_t start = scan_.in.offset();
        int stop = 0;
        for (off_t window = start; stop == 0 && window >= 0 && scan_.in.status().ok();) {
            off_t next = -1;
            stop = gather(name, window == start, next);
            if (window != start && stop == 0)
                stop = hand_window(name, start, window, next);
            scan_.in.move_to(next >= 0 ? next : scan_.in.offset());
            window = next;
        }
        return stop;
    }

    // Gathers the names of the window the scanner stands at, up to the most
    // it holds (`next`: where the next window starts, or -1 at the next
    // header); a first window's lines are handed as they are read.
    int gather(const char *name, bool first, off_t &next) {
        keys_.clear();
        Line line;
        std::string_view key;
        std::size_t count = 0;
        while (scan_.scanner.next(line) == Piece::line) {
            if (!findable(line.text, key))
                continue;
            if (keys_.full(count)) {
                next = line.start;
                return 0;
            }
            if (keys_.add(hash_of(key, start_), count++) && first)
                if (const int stop = hand_line(name, line.text, key); stop != 0)
                    return stop;
        }
        return 0;
    }

    // The key lines of [window, end) not standing in [start, window) nor
    // earlier in the window (the gathered names); `end` < 0: to the next
    // header.
    int hand_window(const char *name, off_t start, off_t window, off_t end) {
        Line line;
        std::string_view key;
        scan_.in.move_to(start);
        while (scan_.in.offset() < window && scan_.scanner.next(line) == Piece::line)
            if (findable(line.text, key))
                keys_.stands_before(hash_of(key, start_));
        if (!scan_.in.status().ok())
            return 0; // the call fails, nothing more handed
        scan_.in.move_to(window);
        std::size_t index = 0;
        while ((end < 0 || scan_.in.offset() < end) && scan_.scanner.next(line) == Piece::line)
            if (findable(line.text, key) && keys_.handed(hash_of(key, start_), index++))
                if (const int stop = hand_line(name, line.text, key); stop != 0)
                    return stop;
        return 0;
    }

    // Hands a key line's key and value.
    int hand_line(const char *name, std::string_view line, std::string_view key) {
        // The value a get reads.
        const std::string_view value = value_of(line);
        const char *value_copy = nullptr;
        const char *const key_copy = pair_.of(key, value, value_copy);
        return handler_(user_, name, key_copy, value_copy);
    }

    // Whether the first header named `section` is the one at `start`.
    bool first_of_its_name(const char *section, off_t start) {
        const off_t here = scan_.in.offset();
        scan_.in.move_to(0);
        const bool first = scan_.scanner.enter(section) && scan_.scanner.header_start() == start;
        scan_.in.move_to(here);
        return first;
    }

    FileScan &scan_;
    KeyHandler handler_;
    void *user_;
    KeyWindow<256> keys_;
    Seen<16384, 3> sections_;
    Terminated section_, pair_;
    std::uint64_t start_; // of the names' hashes
};

} // namespace

Status get_keys(const char *path, std::string_view section, bool every, KeyHandler handler,
                void *user, int &stopped) {
    stopped = 0;
    return scan_file(path, [&](FileScan &scan) {
        KeyWalk walk(scan, handler, user);
        if (every) {
            stopped = walk.hand_all();
            return Status();
        }
        if (!scan.scanner.enter(section))
            return not_found();
        stopped = walk.hand(section);
        return Status();
    });
}

} // namespace iniplace
