#include "document.h"

#include <algorithm>

namespace tool {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool starts_comment(char c) {
    return c == ';' || c == '#';
}

} // namespace

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool Match::operator()(std::string_view written) const {
    if (written.size() != name.size())
        return false;
    if (!ignore_case)
        return written == name;
    return std::equal(written.begin(), written.end(), name.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

Document::Document(std::string text) : text_(std::move(text)) {
    if (std::string_view(text_).substr(0, byte_order_mark.size()) == byte_order_mark)
        text_start_ = byte_order_mark.size();
    if (const std::size_t feed = text_.find('\n'); feed != std::string::npos)
        line_end_ = feed > 0 && text_[feed - 1] == '\r' ? "\r\n" : "\n";
    sections_.emplace_back(preamble);
    section_lines_.emplace_back();
    lines_.reserve(text_.size() / 24 + 1);
    int section = 0;
    for (std::size_t start = 0; start < text_.size();) {
        const std::size_t feed = text_.find('\n', start);
        const std::size_t end = feed == std::string::npos ? text_.size() : feed + 1;
        read_line(start, end, section);
        start = end;
    }
}

int Document::section_index(std::string_view name) {
    const auto [at, made] =
        section_numbers_.try_emplace(std::string(name), static_cast<int>(sections_.size()));
    if (made) {
        sections_.emplace_back(name);
        section_lines_.emplace_back();
    }
    return at->second;
}

void Document::read_line(std::size_t start, std::size_t end, int &section) {
    Line line;
    line.start = start;
    line.end = line.content_end = end;
    line.number = lines_.size() + 1;
    const std::string_view text = text_;
    if (line.content_end > start && text[line.content_end - 1] == '\n')
        --line.content_end;
    if (line.content_end > start && text[line.content_end - 1] == '\r')
        --line.content_end;
    std::size_t first = std::max(start, text_start_);
    while (first < line.content_end && is_blank(text[first]))
        ++first;
    const std::string_view content = text.substr(first, line.content_end - first);
    if (content.empty())
        line.kind = LineKind::blank;
    else if (starts_comment(content[0]))
        line.kind = LineKind::comment;
    else if (content[0] == '[')
        read_header(line, first, section);
    else if (content.find('=') != std::string_view::npos)
        read_key(line, first);
    else
        line.kind = LineKind::entry;
    line.section = section;
    if (section >= 0 && line.kind != LineKind::header)
        section_lines_[static_cast<std::size_t>(section)].push_back(lines_.size());
    lines_.push_back(line);
}

// [NAME], and after it only blanks or a comment.
void Document::read_header(Line &line, std::size_t first, int &section) {
    const std::string_view content =
        std::string_view(text_).substr(first, line.content_end - first);
    const std::size_t close = content.find(']');
    const std::string_view after =
        close == std::string_view::npos ? content : trim(content.substr(close + 1));
    const bool header =
        close != std::string_view::npos && (after.empty() || starts_comment(after[0]));
    line.kind = header ? LineKind::header : LineKind::stray_header;
    line.name_start = first + 1;
    line.name_end = first + (header ? close : 1);
    section = header ? section_index(content.substr(1, close - 1)) : -1;
}

void Document::read_key(Line &line, std::size_t first) {
    const std::string_view text = text_, content = text.substr(first, line.content_end - first);
    const std::size_t equals = content.find('=');
    line.kind = LineKind::key;
    line.name_start = first;
    line.name_end = first + trim(content.substr(0, equals)).size();
    const std::string_view value = trim(content.substr(equals + 1));
    line.value_start =
        value.empty() ? line.content_end : static_cast<std::size_t>(value.data() - text.data());
    line.value_end = line.value_start + value.size();
}

std::string_view Document::text_of(const Line &line) const {
    const std::size_t first = std::max(line.start, text_start_);
    return trim(std::string_view(text_).substr(first, line.content_end - first));
}

std::string_view Document::name_of(const Line &line) const {
    return std::string_view(text_).substr(line.name_start, line.name_end - line.name_start);
}

std::string_view Document::value_of(const Line &line) const {
    return std::string_view(text_).substr(line.value_start, line.value_end - line.value_start);
}

std::vector<int> Document::sections_named(const Match &match) const {
    if (match.name == preamble)
        return {0};
    std::vector<int> found;
    for (std::size_t i = 1; i < sections_.size(); ++i)
        if (match(sections_[i]))
            found.push_back(static_cast<int>(i));
    return found;
}

std::vector<const Line *> Document::lines_of(const std::vector<int> &sections) const {
    std::vector<const Line *> found;
    for (const int section : sections)
        for (const std::size_t index : section_lines_[static_cast<std::size_t>(section)])
            found.push_back(&lines_[index]);
    if (sections.size() > 1)
        std::sort(found.begin(), found.end());
    return found;
}

std::vector<const Line *> Document::key_lines(const std::vector<int> &sections,
                                              const Match &key) const {
    std::vector<const Line *> found;
    for (const Line *line : lines_of(sections))
        if (line->kind == LineKind::key && key(name_of(*line)))
            found.push_back(line);
    return found;
}

} // namespace tool
