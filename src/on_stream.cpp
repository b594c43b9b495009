// What the exported functions do on a caller's stream: the scanners' steps
// (parse, parse_section), and bytes inserted or cut (file_ins, file_cut).
#include "on_stream.h"

#include "move.h"

#include <algorithm>
#include <limits>

#include <cstring>

namespace iniplace {

Found scan_key(Scanner &scan, std::string_view section, std::string_view key) {
    // An empty key matches no line: the scan stops at the section's header.
    if (key.empty() && !is_wildcard(section)) {
        if (!scan.enter(section))
            return Found::no_section;
        scan.reader().move_to(scan.header_start());
        return Found::no_match;
    }
    Line line;
    const Found found = find_key(scan, section, key, line);
    if (found == Found::match)
        scan.reader().move_to(line.start);
    return found;
}

Found scan_section(Scanner &scan, std::string_view section, bool rewind) {
    const bool named = !is_wildcard(section);
    if (!scan.enter(section))
        return Found::no_section;
    Line line;
    const Piece piece = scan.read(line);
    if (piece == Piece::end && !named)
        return Found::no_section;
    if (rewind)
        scan.reader().move_to(line.start);
    return piece == Piece::line ? Found::match : Found::no_match;
}

namespace {

template <typename Step>
Found scan_stream(std::FILE *stream, char *buf, std::size_t size, Step step) {
    off_t start = 0;
    if (!stream::position(stream, start).ok())
        return Found::no_section;
    buf[size - 1] = '\0';
    char block[stream_block];
    const Io io(stream, start);
    LineReader in(io, start, -1, {block, sizeof block});
    Scanner scanner(in, buf, size - 2);
    const Found found = step(scanner);
    const std::string_view last = scanner.last();
    if (!last.empty()) {
        std::memmove(buf, last.data(), last.size());
        buf[last.size()] = '\0';
        (void)trim_in_place(buf);
    }
    // A scan that cannot leave the stream where it says it does found
    // nothing: the caller would read or write elsewhere.
    const Status placed = stream::seek(stream, in.offset());
    std::clearerr(stream);
    return placed.ok() ? found : Found::no_section;
}

} // namespace

Found scan_key_in(std::FILE *stream, char *buf, std::size_t size, std::string_view section,
                  std::string_view key) {
    return scan_stream(stream, buf, size,
                       [&](Scanner &scanner) { return scan_key(scanner, section, key); });
}

Found scan_section_in(std::FILE *stream, char *buf, std::size_t size, std::string_view section,
                      bool rewind) {
    return scan_stream(stream, buf, size,
                       [&](Scanner &scanner) { return scan_section(scanner, section, rewind); });
}

Status insert_into_stream(std::FILE *stream, off_t length, const char *data) {
    off_t at = 0, end = 0;
    if (const Status known = stream::bounds(stream, at, end); !known.ok())
        return known;
    if (length > std::numeric_limits<off_t>::max() - std::max(at, end)) {
        // Back where it stood, as far as it can be: the refusal is reported.
        (void)stream::seek(stream, at);
        return failed(Outcome::not_written, Op::limit);
    }
    char block[move_block];
    const Status inserted = replace_bytes(
        Io(stream), end, at, 0, {data, static_cast<std::size_t>(length)}, {block, sizeof block});
    const Status placed = stream::seek(stream, inserted.ok() ? at + length : at);
    return inserted.ok() ? placed : inserted;
}

Status cut_from_stream(std::FILE *stream, off_t length) {
    off_t at = 0, end = 0;
    if (const Status known = stream::bounds(stream, at, end); !known.ok())
        return known;
    // Fewer bytes when the file ends sooner; nothing past its end.
    const off_t count = std::min<off_t>(length, std::max<off_t>(end - at, 0));
    if (count == 0)
        return {};
    char block[move_block];
    return replace_bytes(Io(stream), end, at, count, {}, {block, sizeof block});
}

} // namespace iniplace
