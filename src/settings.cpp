#include "settings.h"

#include "lines.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace iniplace {

namespace {

// Names seen so far, as bits of their hashes: a name not seen is told at
// once; one that may have been is looked for again in the file.
template <std::size_t Bits> class Seen {
  public:
    void clear() { bits_.fill(0); }
    // Whether `name` may have been added; adds it.
    bool add(std::string_view name) {
        std::uint64_t hash = 0xcbf29ce484222325ULL;
        for (const char byte : name)
            hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
        const auto first = static_cast<std::size_t>(hash % Bits);
        const auto second = static_cast<std::size_t>((hash >> 32) % Bits);
        const bool seen = test(first) && test(second);
        set(first);
        set(second);
        return seen;
    }

  private:
    bool test(std::size_t bit) const { return (bits_[bit / 8] >> (bit % 8) & 1) != 0; }
    void set(std::size_t bit) { bits_[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8)); }

    std::array<unsigned char, Bits / 8> bits_{};
};

// A small reader of its own, for the rare look back at what a walk passed.
struct LookBack {
    LookBack(const Io &io, off_t start, off_t size)
        : in(io, start, size, {block, sizeof block}), scanner(in, spill, piece_max) {}
    char block[256];
    char spill[line_size];
    LineReader in;
    Scanner scanner;
};

// Whether a key line of `key` stands in [from, until) of the file.
[[gnu::noinline]] bool stands_before(const Io &io, off_t size, off_t from, off_t until,
                                     std::string_view key) {
    LookBack back(io, from, size);
    Line line;
    while (back.in.offset() < until && back.scanner.next(line) == Piece::line)
        if (is_key_line(line.text) && key_of(line.text) == key)
            return true;
    return false;
}

// Whether the first header of `section` is the one at `start`.
[[gnu::noinline]] bool first_of_its_name(const Io &io, off_t size, std::string_view section,
                                         off_t start) {
    LookBack back(io, 0, size);
    return back.scanner.enter(section) && back.scanner.header_start() == start;
}

// A NUL-terminated copy of a text of at most a piece.
class Terminated {
  public:
    const char *of(std::string_view text) {
        const std::size_t length = std::min(text.size(), sizeof bytes_ - 1);
        std::memcpy(bytes_, text.data(), length);
        bytes_[length] = '\0';
        return bytes_;
    }

  private:
    char bytes_[line_size];
};

// The walk of ini_getkeys over one scan of the file.
class KeyWalk {
  public:
    KeyWalk(FileScan &scan, off_t size, KeyHandler handler, void *user)
        : scan_(scan), io_(scan.in.io()), size_(size), handler_(handler), user_(user) {}

    // The section the scanner is in, named `section`: its keys, up to the
    // next header. Returns the handler's non-zero return, or 0.
    int hand(std::string_view section) {
        const char *const name = section_.of(section);
        keys_.clear();
        Line line;
        off_t from = -1;
        while (scan_.scanner.next(line) == Piece::line) {
            from = from < 0 ? line.start : from;
            // A line as the scanner gives it, trimmed, holds no zero byte.
            const std::size_t equals = line.text.find('=');
            if (equals == std::string_view::npos)
                continue;
            const std::string_view key = key_of(head(line.text, equals));
            // A get finds no empty key, reads the first key line for the
            // wildcard, and the first line of a key that stands twice.
            if (key.empty() || is_wildcard(key) ||
                (keys_.add(key) && stands_before(io_, size_, from, line.start, key)))
                continue;
            const std::string_view value = trimmed_as_read(after(line.text, equals + 1));
            if (const int stop = handler_(user_, name, key_.of(key), value_.of(value)); stop != 0)
                return stop;
        }
        return 0;
    }

    // Every section, the preamble first.
    int hand_all() {
        int stop = hand(wildcard);
        Line header;
        while (stop == 0 && scan_.scanner.enter_next(header)) {
            const std::string_view text = header.text;
            // A get names only a header that ends in `]`, not the wildcard,
            // and reads only the first of a name.
            if (text.size() < 2 || text.back() != ']')
                continue;
            const std::string_view section = head(after(text, 1), text.size() - 2);
            if (is_wildcard(section) ||
                (sections_.add(section) && !first_of_its_name(io_, size_, section, header.start)))
                continue;
            stop = hand(section);
        }
        return stop;
    }

  private:
    FileScan &scan_;
    Io io_;
    off_t size_;
    KeyHandler handler_;
    void *user_;
    Seen<8192> keys_;
    Seen<8192> sections_;
    Terminated section_, key_, value_;
};

} // namespace

Status get_keys(const char *path, std::string_view section, bool every, KeyHandler handler,
                void *user, int &stopped) {
    stopped = 0;
    return scan_file(path, [&](FileScan &scan) {
        KeyWalk walk(scan, scan.in.size(), handler, user);
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

namespace {

// Plans one setting as its single call plans it, on a scan of the file (or
// of the file held in memory) from its start.
Status plan_setting(FileScan &scan, const Setting &setting, LineEdit &edit) {
    edit = LineEdit();
    if (setting.value == nullptr)
        return plan_removal(scan, setting.section, find_key, setting.key, edit);
    const Written written = key_line(setting.section, setting.key, setting.value);
    return plan_write(scan, setting.section, find_key, setting.key, written, LineFound::replaced,
                      edit);
}

// The settings of a batch, planned for the edit driver: on the whole file
// held in the driver's block where the file fits it, each setting made on
// what the ones before left there, and the bytes from the first one
// changed on written as one change; on a larger file, one step a setting,
// each planned on the file the last one left.
class Batch {
  public:
    Batch(const Setting *settings, std::size_t count) : settings_(settings), count_(count) {}

    Status operator()(const File &file, Buffer block, Edit &edit) {
        if (edit.step == 0) {
            next_ = 0;
            if (file.size() <= static_cast<off_t>(block.size)) {
                bool fitted = false;
                const Status made = in_memory(file, block, edit, fitted);
                if (!made.ok() || fitted)
                    return made;
            }
            if (const Status bounded = bound(file, block, edit); !bounded.ok())
                return bounded;
        }
        return step(file, block, edit);
    }

  private:
    // The batch made on the file read whole into `block`; `fitted` is false
    // when the file grows past the block on the way.
    Status in_memory(const File &file, Buffer block, Edit &edit, bool &fitted) {
        const off_t old_size = file.size();
        std::size_t size = 0;
        if (const Status read =
                io::read(file.fd(), block.data, static_cast<std::size_t>(old_size), 0, size);
            !read.ok() || size != static_cast<std::size_t>(old_size))
            return read.ok() ? failed(Outcome::not_read, Op::read) : read;
        off_t first = old_size;
        for (std::size_t i = 0; i < count_; ++i) {
            FileScan scan(block, size);
            if (const Status planned = plan_setting(scan, settings_[i], line_); !planned.ok())
                return planned;
            if (!line_.changes)
                continue;
            const Change change = line_.change();
            const auto at = static_cast<std::size_t>(change.at);
            const auto old_length = static_cast<std::size_t>(change.old_length);
            if (size - old_length + change.text.size() > block.size)
                return {};
            std::memmove(block.data + at + change.text.size(), block.data + at + old_length,
                         size - at - old_length);
            std::memcpy(block.data + at, change.text.data(), change.text.size());
            size = size - old_length + change.text.size();
            first = std::min(first, change.at);
        }
        fitted = true;
        const auto from = static_cast<std::size_t>(first);
        edit.changes = first < old_size || size != static_cast<std::size_t>(old_size);
        edit.change = {first, old_size - first, {block.data + from, size - from}};
        edit.scratch = {scratch_, sizeof scratch_};
        return {};
    }

    // What the steps journal: the file from the first byte any setting
    // changes in it as it is (no later step changes a byte before the
    // first byte an earlier one changed, or this one would find it there).
    Status bound(const File &file, Buffer block, Edit &edit) {
        off_t first = file.size(), growth = 0;
        for (std::size_t i = 0; i < count_; ++i) {
            FileScan scan(file, block);
            const Status planned = plan_setting(scan, settings_[i], line_);
            if (!scan.in.status().ok())
                return scan.in.status();
            if (!planned.ok() && !(planned.refusal == Refusal::too_long && made_before(i)))
                return planned;
            if (line_.changes)
                first = std::min(first, line_.place.at);
            // At most its line, under a new header, after a line feed.
            if (const Setting &setting = settings_[i]; setting.value != nullptr)
                growth +=
                    static_cast<off_t>(std::strlen(setting.section) + 4 + std::strlen(setting.key) +
                                       2 + std::strlen(setting.value) + 1);
        }
        edit.journal_from = first;
        edit.most_growth = growth;
        return {};
    }

    // Whether a setting before the `i`th sets a key of its section: the
    // section is there by then, and its line needs no new header.
    bool made_before(std::size_t i) const {
        for (std::size_t j = 0; j < i; ++j)
            if (settings_[j].value != nullptr &&
                std::strcmp(settings_[j].section, settings_[i].section) == 0)
                return true;
        return false;
    }

    // The next setting that changes the file, planned on it as it is.
    Status step(const File &file, Buffer block, Edit &edit) {
        while (next_ < count_) {
            FileScan scan(file, block);
            const Status planned = plan_setting(scan, settings_[next_++], line_);
            if (!scan.in.status().ok())
                return scan.in.status();
            if (!planned.ok())
                return planned;
            if (line_.changes) {
                edit.changes = true;
                edit.change = line_.change();
                edit.read = {scan.in.block_start(), scan.in.block()};
                edit.more = next_ < count_;
                return {};
            }
        }
        return {};
    }

    const Setting *settings_;
    std::size_t count_;
    std::size_t next_ = 0;
    LineEdit line_;
    char scratch_[1024];
};

} // namespace

Status set_keys(const char *path, const Setting *settings, std::size_t count) {
    if (count > settings_max)
        return refused(Refusal::too_many);
    bool sets = false;
    for (std::size_t i = 0; i < count; ++i) {
        const Setting &setting = settings[i];
        if (setting.value == nullptr)
            continue;
        sets = true;
        if (const Status checked = key_line(setting.section, setting.key, setting.value).status;
            !checked.ok())
            return checked;
    }
    Batch batch(settings, count);
    return edit_file(path, sets ? OnMissing::make : OnMissing::fail, batch);
}

} // namespace iniplace
