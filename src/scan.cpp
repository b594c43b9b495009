#include "scan.h"

#include "iniplace.h"

#include <algorithm>

namespace iniplace {

Piece Scanner::read(Line &line) {
    line.start = in_.offset();
    last_ = in_.next(spill_, max_);
    if (last_.empty())
        return Piece::end;
    line.text = trimmed(last_);
    return is_header(line.text) ? Piece::header : Piece::line;
}

Piece Scanner::next(Line &line) {
    const Piece piece = read(line);
    if (piece == Piece::header)
        in_.move_to(line.start);
    return piece;
}

bool Scanner::enter(std::string_view section) {
    if (is_wildcard(section))
        return true;
    while (enter_next()) {
        if (header_names(trimmed(last_), section))
            return true;
    }
    return false;
}

bool Scanner::enter_next() {
    if (!skip_to_header())
        return false;
    Line header;
    header_start_ = in_.offset();
    return read(header) == Piece::header;
}

bool Scanner::skip_to_header() {
    for (;;) {
        // Pieces that end inside the block are passed over in place.
        const std::string_view window = in_.window();
        std::string_view rest = window;
        for (;;) {
            const std::size_t first = std::min(rest.find_first_not_of(" \t"), rest.size());
            if (first < rest.size() && first < max_ && rest[first] == '[') {
                in_.consume(window.size() - rest.size());
                return true;
            }
            const std::size_t line_feed = head(rest, max_).find('\n');
            if (line_feed == std::string_view::npos)
                break;
            last_ = head(rest, line_feed + 1);
            rest.remove_prefix(line_feed + 1);
        }
        in_.consume(window.size() - rest.size());
        // A piece that reaches past the block, or to the end of the file.
        const off_t start = in_.offset();
        const std::string_view piece = in_.next(spill_, max_);
        if (piece.empty())
            return false;
        last_ = piece;
        if (starts_header(piece)) {
            in_.move_to(start);
            return true;
        }
    }
}

Place Scanner::place_here() const {
    const int before = in_.byte_before();
    Place place;
    place.at = in_.offset();
    place.after_unterminated = before != -1 && before != '\n';
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

// The one walk of a section: the first line that `matches`.
template <typename Matches>
Found find_line(Scanner &scan, std::string_view section, Matches matches, Line &line) {
    if (!scan.enter(section))
        return Found::no_section;
    Piece piece;
    while ((piece = scan.next(line)) == Piece::line) {
        if (matches(line.text))
            return Found::match;
    }
    return piece == Piece::end && is_wildcard(section) ? Found::no_section : Found::no_match;
}

} // namespace

Found find_key(Scanner &scan, std::string_view section, std::string_view key, Line &line) {
    const bool any_key = is_wildcard(key);
    return find_line(
        scan, section,
        [key, any_key](std::string_view text) {
            return is_key_line(text) && (any_key || key_matches(text, key));
        },
        line);
}

Found find_entry(Scanner &scan, std::string_view section, std::string_view wanted, Line &line) {
    return find_line(
        scan, section, [wanted](std::string_view text) { return text == wanted; }, line);
}

int scan_key(Scanner &scan, std::string_view section, std::string_view key) {
    // An empty key matches no line: the scan stops at the section's header.
    if (key.empty() && !is_wildcard(section)) {
        if (!scan.enter(section))
            return INI_SCAN_NONE;
        scan.reader().move_to(scan.header_start());
        return INI_SCAN_BOUNDARY;
    }
    Line line;
    switch (find_key(scan, section, key, line)) {
    case Found::match:
        scan.reader().move_to(line.start);
        return INI_SCAN_LINE;
    case Found::no_match:
        return INI_SCAN_BOUNDARY;
    case Found::no_section:
        break;
    }
    return INI_SCAN_NONE;
}

int scan_section(Scanner &scan, std::string_view section, bool rewind) {
    const bool named = !is_wildcard(section);
    if (!scan.enter(section))
        return INI_SCAN_NONE;
    Line line;
    const Piece piece = scan.read(line);
    if (piece == Piece::end && !named)
        return INI_SCAN_NONE;
    if (rewind)
        scan.reader().move_to(line.start);
    return piece == Piece::line ? INI_SCAN_LINE : INI_SCAN_BOUNDARY;
}

} // namespace iniplace
