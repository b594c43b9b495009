#include "diff.h"

#include <algorithm>

namespace tool {

namespace {

constexpr std::size_t context = 3;

// Lines [first, last) of the file, and the lines that replace them.
struct LineChange {
    std::size_t first, last;
    std::string text; // the new lines, whole
};

// The index of the line that holds byte `at`; the number of lines at the
// end of the text.
std::size_t line_at(const std::vector<Line> &lines, std::size_t at) {
    const auto after =
        std::upper_bound(lines.begin(), lines.end(), at,
                         [](std::size_t x, const Line &line) { return x < line.start; });
    return static_cast<std::size_t>(after - lines.begin()) - (after == lines.begin() ? 0 : 1);
}

// The lines an edit touches: none (an insertion before line `first`), or
// from the line of its first byte to the line of its last.
LineChange lines_of(const Document &document, const Edit &edit) {
    const std::vector<Line> &lines = document.lines();
    const std::string &text = document.text();
    if (edit.at >= text.size()) {
        // Appended: to the last line, when that has no line end yet.
        const bool unended = !lines.empty() && text.back() != '\n';
        return unended ? LineChange{lines.size() - 1, lines.size(), {}}
                       : LineChange{lines.size(), lines.size(), {}};
    }
    const std::size_t first = line_at(lines, edit.at);
    if (edit.old_length == 0 && edit.at == lines[first].start)
        return {first, first, {}};
    const std::size_t last =
        line_at(lines, edit.at + std::max<std::size_t>(edit.old_length, 1) - 1);
    return {first, last + 1, {}};
}

// The edits grouped by the lines they touch, each group's new lines made.
std::vector<LineChange> line_changes_of(const Document &document, const std::vector<Edit> &edits) {
    const std::vector<Line> &lines = document.lines();
    const std::string_view text = document.text();
    std::vector<LineChange> changes;
    std::vector<std::size_t> firsts; // of each change's edits
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const LineChange touched = lines_of(document, edits[i]);
        if (!changes.empty() && touched.first < changes.back().last)
            changes.back().last = std::max(changes.back().last, touched.last);
        else {
            changes.push_back(touched);
            firsts.push_back(i);
        }
    }
    firsts.push_back(edits.size());
    for (std::size_t c = 0; c < changes.size(); ++c) {
        LineChange &change = changes[c];
        const std::size_t from =
            change.first < lines.size() ? lines[change.first].start : text.size();
        const std::size_t to = change.last > change.first ? lines[change.last - 1].end : from;
        change.text =
            applied(text, edits.data() + firsts[c], edits.data() + firsts[c + 1], from, to);
    }
    return changes;
}

// A line of the diff: its mark and text, and the note a line without a line
// end needs.
std::string diff_line(char mark, std::string_view line) {
    std::string text = mark + std::string(line);
    return line.empty() || line.back() != '\n' ? text + "\n\\ No newline at end of file\n" : text;
}

std::string range(std::size_t first, std::size_t count) {
    return std::to_string(count == 0 ? first : first + 1) + "," + std::to_string(count);
}

// A hunk: the changes [first, last] of `changes`, whose contexts meet, with
// the file's lines [begin, end) around them. Returns its body; `added` is
// the number of its new-side lines.
std::string hunk_body(const Document &document, const std::vector<LineChange> &changes,
                      std::size_t first, std::size_t last, std::size_t begin, std::size_t end,
                      std::size_t &added) {
    const std::vector<Line> &lines = document.lines();
    const auto old_line = [&](std::size_t i) {
        return std::string_view(document.text())
            .substr(lines[i].start, lines[i].end - lines[i].start);
    };
    std::string body;
    added = 0;
    for (std::size_t i = begin, k = first; i < end || k <= last;) {
        if (k > last || i != changes[k].first) {
            body += diff_line(' ', old_line(i++));
            ++added;
            continue;
        }
        for (std::size_t j = changes[k].first; j < changes[k].last; ++j)
            body += diff_line('-', old_line(j));
        for (const std::string_view line : lines_of_text(changes[k].text)) {
            body += diff_line('+', line);
            ++added;
        }
        i = changes[k++].last;
    }
    return body;
}

} // namespace

Neighbourhood neighbourhood(const Document &document, const std::vector<Edit> &edits,
                            std::string_view new_text) {
    constexpr std::size_t small = 16384;
    const std::string_view old_text = document.text();
    if (old_text.size() <= small && new_text.size() <= small)
        return {std::string(old_text), std::string(new_text)};
    const std::vector<Line> &lines = document.lines();
    const std::vector<LineChange> changes = line_changes_of(document, edits);
    const std::size_t begin = changes.front().first - std::min(changes.front().first, context);
    const std::size_t end = std::min(changes.back().last + context, lines.size());
    const std::size_t start = begin < lines.size() ? lines[begin].start : old_text.size();
    const std::size_t old_end = end > begin ? lines[end - 1].end : start;
    const std::size_t new_end = old_end + new_text.size() - old_text.size();
    return {std::string(old_text.substr(start, old_end - start)),
            std::string(new_text.substr(start, new_end - start))};
}

std::string unified_diff(const std::string &name, const Document &document,
                         const std::vector<Edit> &edits) {
    const std::vector<LineChange> changes = line_changes_of(document, edits);
    std::string diff = changes.empty() ? "" : "--- a/" + name + "\n+++ b/" + name + "\n";
    long shift = 0; // lines added before the hunk, less lines removed
    for (std::size_t first = 0; first < changes.size();) {
        std::size_t last = first;
        while (last + 1 < changes.size() &&
               changes[last + 1].first <= changes[last].last + 2 * context)
            ++last;
        const std::size_t begin =
            changes[first].first > context ? changes[first].first - context : 0;
        const std::size_t end = std::min(changes[last].last + context, document.lines().size());
        std::size_t added = 0;
        const std::string body = hunk_body(document, changes, first, last, begin, end, added);
        const std::size_t old_count = end - begin;
        diff += "@@ -" + range(begin, old_count) + " +" +
                range(static_cast<std::size_t>(static_cast<long>(begin) + shift), added) + " @@\n" +
                body;
        shift += static_cast<long>(added) - static_cast<long>(old_count);
        first = last + 1;
    }
    return diff;
}

} // namespace tool
