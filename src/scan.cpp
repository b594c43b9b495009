#include "scan.h"

#include <algorithm>
#include <cstring>

namespace iniplace {

namespace {

constexpr std::size_t none = std::string_view::npos;

std::size_t first_not_blank(std::string_view bytes) {
    std::size_t first = 0;
    while (first < bytes.size() && is_blank(bytes[first]))
        ++first;
    return first;
}

// The start of the line that holds byte `at` of `bytes`, where `line` is
// the start of the line that holds byte `from`, and only the bytes from
// `from` on are looked at.
std::size_t line_start(std::string_view bytes, std::size_t line, std::size_t from, std::size_t at) {
    const void *feed = ::memrchr(bytes.data() + from, '\n', at - from);
    return feed != nullptr
               ? static_cast<std::size_t>(static_cast<const char *>(feed) - bytes.data()) + 1
               : line;
}

// The start of the piece that holds byte `at`, given the start of its
// line: a line is cut every `max` bytes from its start.
std::size_t piece_start(std::size_t line, std::size_t at, std::size_t max) {
    return at - line < max ? line : line + (at - line) / max * max;
}

// Finds the headers in `bytes`, whose first byte starts a piece: each `[`
// with only spaces and tabs between it and the start of its piece. Only
// the `[` are visited, not every line; the line feed before a `[` that
// does not start a line is looked for backwards, over bytes not yet seen.
class HeaderSearch {
  public:
    HeaderSearch(std::string_view bytes, std::size_t max) : bytes_(bytes), max_(max) {}

    // The `[` of the next header, or none.
    std::size_t next() {
        const char *const data = bytes_.data();
        while (const void *found = std::memchr(data + from_, '[', bytes_.size() - from_)) {
            const auto bracket = static_cast<std::size_t>(static_cast<const char *>(found) - data);
            from_ = bracket + 1;
            if (bracket == 0 || data[bracket - 1] == '\n') {
                line_ = seen_ = start_ = bracket;
                return bracket;
            }
            line_ = line_start(bytes_, line_, seen_, bracket);
            seen_ = bracket;
            const std::size_t start = piece_start(line_, bracket, max_);
            if (start == start_)
                continue; // a later `[` of a piece already judged
            start_ = start;
            if (start + first_not_blank(head(after(bytes_, start), bracket - start)) == bracket)
                return bracket;
        }
        return none;
    }
    // The start of the piece of the last header found.
    std::size_t start() const { return start_; }

  private:
    std::string_view bytes_;
    std::size_t max_;
    std::size_t from_ = 0;     // where the next `[` is looked for
    std::size_t line_ = 0;     // the start of the line that holds `seen_`
    std::size_t seen_ = 0;     // the bytes before it were looked at
    std::size_t start_ = none; // the start of the last piece judged
};

// Whether the header whose `[` is byte `bracket` of `bytes` may be
// `[name]`, as far as `bytes` reach: any byte there that differs rules it
// out. The `]` after the name and the name's last byte rule out most
// headers at once. `name` is not empty.
bool may_name(std::string_view bytes, std::size_t bracket, std::string_view name) {
    const std::size_t close = bracket + name.size() + 1;
    if (close < bytes.size() && (bytes[close] != ']' || bytes[close - 1] != name.back()))
        return false;
    const std::string_view inside = after(bytes, bracket + 1);
    return head(inside, name.size()) == head(name, inside.size());
}

// The start of the first header in `bytes`, whose first byte starts a
// piece, that may be `[name]` (any header for an empty name), or none.
std::size_t find_header(std::string_view bytes, std::size_t max, std::string_view name) {
    HeaderSearch search(bytes, max);
    for (std::size_t bracket; (bracket = search.next()) != none;) {
        if (name.empty() || may_name(bytes, bracket, name))
            return search.start();
    }
    return none;
}

// Of `bytes`, whose first byte starts a piece, the part made of the pieces
// that end inside it (at a line feed, or at `max` bytes).
std::size_t whole_pieces(std::string_view bytes, std::size_t max) {
    const std::size_t line = line_start(bytes, 0, 0, bytes.size());
    return piece_start(line, bytes.size(), max);
}

} // namespace

Piece Scanner::read_untrimmed(Line &line) {
    line.start = in_.offset();
    // The read that finds the end keeps the last piece: the caller's buffer
    // holds the last line read, also at the end of the file.
    const std::string_view piece = in_.next(spill_, max_);
    if (piece.empty())
        return Piece::end;
    last_ = piece;
    line.text = after(last_, first_not_blank(last_));
    return is_header(line.text) ? Piece::header : Piece::line;
}

Piece Scanner::read(Line &line) {
    const Piece piece = read_untrimmed(line);
    line.text = trimmed(line.text);
    return piece;
}

Piece Scanner::next_untrimmed(Line &line) {
    const Piece piece = read_untrimmed(line);
    if (piece == Piece::header)
        in_.move_to(line.start);
    return piece;
}

Piece Scanner::next(Line &line) {
    const Piece piece = next_untrimmed(line);
    line.text = trimmed(line.text);
    return piece;
}

bool Scanner::enter(std::string_view section) {
    if (is_wildcard(section))
        return true;
    Line header;
    while (next_header(header, section)) {
        if (header_names(header.text, section))
            return true;
    }
    return false;
}

bool Scanner::enter_next() {
    Line header;
    return next_header(header, {});
}

bool Scanner::enter_next(Line &header) {
    return next_header(header, {});
}

bool Scanner::next_header(Line &header, std::string_view name) {
    if (!read_header(header, name))
        return false;
    header_start_ = header.start;
    return true;
}

bool Scanner::skip_to_header() {
    Line header;
    if (!read_header(header, {}))
        return false;
    in_.move_to(header.start);
    return true;
}

bool Scanner::read_header(Line &header, std::string_view name) {
    for (;;) {
        if (in_.window().empty() && !in_.refill())
            return false;
        const std::string_view window = in_.window();
        const std::size_t found = find_header(window, max_, name);
        if (found != none) {
            in_.consume(found);
            return read(header) == Piece::header;
        }
        // No such header starts in the block: pass over it to the piece
        // that reaches past it, or to its end when that is a piece boundary.
        const std::size_t whole = whole_pieces(window, max_);
        in_.consume(whole);
        if (whole == window.size()) {
            // The last piece read, should the file end here.
            const std::size_t line = line_start(window, 0, 0, whole - 1);
            last_ = after(window, piece_start(line, whole - 1, max_));
            continue;
        }
        // Read once, also when it is a header.
        const Piece piece = read(header);
        if (piece != Piece::line)
            return piece == Piece::header;
    }
}

Place Scanner::place_here() {
    Place place;
    place.after_unterminated = !in_.after_line_feed();
    place.at = in_.offset();
    return place;
}

Place Scanner::place_of(const Line &line) {
    if (last_.empty() || last_.back() != '\n')
        in_.skip_line();
    Place place;
    place.at = line.start;
    place.old_length = in_.offset() - line.start;
    return place;
}

namespace {

// The one walk of a section: the first line that `matches`. Each line
// comes untrimmed, after its leading spaces and tabs, so that a line whose
// first byte rules it out costs no trimming; a match is trimmed.
template <typename Matches>
Found find_line(Scanner &scan, std::string_view section, Matches matches, Line &line) {
    if (!scan.enter(section))
        return Found::no_section;
    Piece piece;
    while ((piece = scan.next_untrimmed(line)) == Piece::line) {
        if (matches(line.text)) {
            line.text = trimmed(line.text);
            return Found::match;
        }
    }
    return piece == Piece::end && is_wildcard(section) ? Found::no_section : Found::no_match;
}

// Whether the trimmed form of `untrimmed`, a line that is no header, can
// start with `wanted`'s first byte: it starts with the line's first byte
// unless it is empty.
bool may_start_with(std::string_view untrimmed, std::string_view wanted) {
    return wanted.empty() || (!untrimmed.empty() && untrimmed[0] == wanted[0]);
}

} // namespace

Found find_key(Scanner &scan, std::string_view section, std::string_view key, Line &line) {
    if (is_wildcard(key))
        return find_line(
            scan, section, [](std::string_view text) { return is_key_line(trimmed(text)); }, line);
    return find_line(
        scan, section,
        [key](std::string_view untrimmed) {
            if (key.empty() || !may_start_with(untrimmed, key))
                return false;
            // A `=` right after the key makes it a key line; only
            // otherwise is the line looked through for one.
            const std::string_view text = trimmed(untrimmed);
            return key_matches(text, key) && (text[key.size()] == '=' || is_key_line(text));
        },
        line);
}

Found find_entry(Scanner &scan, std::string_view section, std::string_view wanted, Line &line) {
    return find_line(
        scan, section,
        [wanted](std::string_view untrimmed) {
            return may_start_with(untrimmed, wanted) && trimmed(untrimmed) == wanted;
        },
        line);
}

} // namespace iniplace
