#include "reading.h"

#include "locked_file.h"
#include "tool.h"

#include <algorithm>

namespace tool {

using namespace iniplace;

bool is_comment(std::string_view line) {
    return !line.empty() && (line[0] == ';' || line[0] == '#');
}

Reader::Reader(const File &file, std::string path)
    : path_(std::move(path)), scan_(std::make_unique<FileScan>(file)),
      section_(std::string(wildcard)) {}

void Reader::enter(std::string_view header) {
    const std::string_view name = header_name(header);
    reached_ = header_names(header, name) && !is_wildcard(name) && seen_.emplace(name).second;
    section_ = name;
}

void Reader::walk(const std::function<bool(const FileLine &)> &visit) {
    Scanner &scanner = scan_->scanner;
    Line piece;
    bool later = false; // the piece continues the line before
    for (Piece kind; (kind = scanner.read(piece)) != Piece::end;) {
        if (!later) {
            const bool header = kind == Piece::header;
            if (header)
                enter(piece.text);
            if (!visit({piece.start, piece.text, reached_ ? &section_ : nullptr, header}))
                break;
        } else {
            pass_later(kind == Piece::header, piece.text);
        }
        // whole() may have read the rest of the line.
        later = scanner.last().back() != '\n';
    }
    if (!scan_->in.status().ok())
        fail_file(path_, scan_->in.status());
}

void Reader::pass_later(bool header, std::string_view text) {
    if (reached_)
        crossed_.insert(section_);
    if (header)
        crossed_.emplace(header_name(text));
}

bool Reader::walk_section(std::string_view section,
                          const std::function<void(const FileLine &)> &visit) {
    bool inside = is_wildcard(section);
    bool found = inside;
    walk([&](const FileLine &line) {
        if (line.header) {
            if (inside)
                return false;
            inside = line.section != nullptr && *line.section == section;
            found = found || inside;
        } else if (inside) {
            visit(line);
        }
        return true;
    });
    return found;
}

std::string Reader::whole() {
    Scanner &scanner = scan_->scanner;
    std::string line(scanner.last());
    Line piece;
    while (line.back() != '\n' && scanner.read(piece) != Piece::end)
        line += scanner.last();
    return std::string(trimmed(line));
}

std::vector<std::string> key_values(Reader &reader, std::string_view section, std::string_view key,
                                    bool all) {
    std::vector<std::string> values;
    bool more = true;
    reader.walk_section(section, [&](const FileLine &line) {
        if (more && is_key_line(line.text) && key_matches(line.text, key)) {
            values.emplace_back(value_of(reader.whole()));
            more = all;
        }
    });
    return values;
}

bool section_lines(Reader &reader, std::string_view section, bool comments,
                   std::vector<std::string> &lines) {
    return reader.walk_section(section, [&](const FileLine &line) {
        if (!is_blank_line(line.text) && (comments || !is_comment(line.text)))
            lines.push_back(reader.whole());
    });
}

bool has_line(Reader &reader, std::string_view section, std::string_view entry) {
    std::vector<std::string> lines;
    section_lines(reader, section, true, lines);
    return std::find(lines.begin(), lines.end(), trimmed(entry)) != lines.end();
}

void KeyLines::add(Reader &reader, const FileLine &line) {
    if (!is_key_line(line.text) || is_comment(line.text))
        return;
    std::string key(key_of(line.text));
    if (check_key(key) != Refusal::none || !seen_.insert(key).second)
        return;
    std::string value(value_of(reader.whole()));
    lines_.push_back({std::move(key), std::move(value)});
}

} // namespace tool
