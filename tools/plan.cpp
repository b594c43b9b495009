#include "plan.h"

#include "format.h"
#include "tool.h"

#include <algorithm>

namespace tool {

namespace {

bool holds_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool starts_comment(std::string_view text) {
    return !text.empty() && (text[0] == ';' || text[0] == '#');
}

// "line 4", "lines 4 and 9", "lines 4, 9 and 12".
std::string line_numbers(const std::vector<const Line *> &lines) {
    std::string text = lines.size() > 1 ? "lines " : "line ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const char *joint = i == 0 ? "" : i + 1 == lines.size() ? " and " : ", ";
        text += joint + std::to_string(lines[i]->number);
    }
    return text;
}

// The bytes of `line` before its name, between its name and =, and between
// = and its value.
struct KeyStyle {
    std::string_view indent, before_equals, after_equals;
};

KeyStyle style_of(const Document &document, const Line &line) {
    const std::string_view text = document.text();
    const std::size_t first = std::max(line.start, document.text_start());
    const std::size_t equals = text.find('=', line.name_end);
    return {text.substr(first, line.name_start - first),
            text.substr(line.name_end, equals - line.name_end),
            text.substr(equals + 1, line.value_start - equals - 1)};
}

const Line *last_key_line(const std::vector<const Line *> &lines) {
    const auto found = std::find_if(lines.rbegin(), lines.rend(),
                                    [](const Line *line) { return line->kind == LineKind::key; });
    return found != lines.rend() ? *found : nullptr;
}

} // namespace

std::optional<std::string> refuse_section(std::string_view section) {
    if (holds_line_break(section))
        return "the section must not hold a line feed or a carriage return";
    if (section.find(']') != std::string_view::npos)
        return "the section must not hold ']'";
    return std::nullopt;
}

std::optional<std::string> refuse_key(std::string_view key) {
    if (key.empty() || key == preamble)
        return "the key must not be empty or *";
    if (key.find_first_of("=\r\n") != std::string_view::npos)
        return "the key must not hold '=', a line feed or a carriage return";
    if (key[0] == '[' || starts_comment(key))
        return "the key must not start with '[', ';' or '#'";
    if (is_blank(key.front()) || is_blank(key.back()))
        return "the key must not start or end with a space or a tab";
    return std::nullopt;
}

std::optional<std::string> refuse_value(std::string_view value) {
    if (holds_line_break(value))
        return "the value must not hold a line feed or a carriage return";
    return std::nullopt;
}

std::optional<std::string> refuse_entry(std::string_view entry) {
    if (holds_line_break(entry))
        return "the entry must not hold a line feed or a carriage return";
    const std::string_view text = trim(entry);
    if (text.empty())
        return "the entry must not be blank";
    if (text[0] == '[')
        return "the entry must not start with '['";
    if (starts_comment(text))
        return "the entry must not start with ';' or '#', which make a comment";
    return std::nullopt;
}

Plan::Plan(const Document &document, std::string_view file, bool ignore_case)
    : document_(document), file_(file), ignore_case_(ignore_case) {
    const std::vector<std::string> &names = document.sections();
    for (std::size_t i = 1; i < names.size(); ++i)
        sections_[folded(names[i])].push_back(static_cast<int>(i));
}

std::string Plan::folded(std::string_view name) const {
    std::string text(name);
    if (ignore_case_)
        for (char &c : text)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

const std::vector<int> &Plan::sections(const std::string &section) const {
    static const std::vector<int> none, the_preamble{0};
    if (section == preamble)
        return the_preamble;
    const auto found = sections_.find(folded(section));
    return found != sections_.end() ? found->second : none;
}

std::vector<const Line *> Plan::key_lines(const std::vector<int> &sections,
                                          const std::string &key) const {
    std::vector<const Line *> lines;
    for (const int section : sections) {
        auto [keys, made] = keys_.try_emplace(section);
        if (made)
            for (const Line *line : document_.lines_of({section}))
                if (line->kind == LineKind::key)
                    keys->second[folded(document_.name_of(*line))].push_back(line);
        if (const auto found = keys->second.find(folded(key)); found != keys->second.end())
            lines.insert(lines.end(), found->second.begin(), found->second.end());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void Plan::check_length(std::size_t length, std::size_t number) const {
    if (length <= iniplace::text_max)
        return;
    const std::string which = number > 0 ? "line " + std::to_string(number) : "the new line";
    fail(exit_usage, file_,
         which + " would be longer than " + std::to_string(iniplace::text_max) +
             " bytes, which programs that use the library read in pieces");
}

void Plan::set(const std::string &section, const std::string &key, const std::string &value,
               bool all) {
    const std::vector<int> &in = sections(section);
    const std::vector<const Line *> lines = key_lines(in, key);
    if (lines.size() > 1 && !all)
        fail(exit_usage, file_,
             "[" + section + "] " + key + " stands on " + line_numbers(lines) +
                 "; --all sets every one");
    if (lines.empty())
        add_line(section, key_line(in, key, value));
    for (const Line *line : lines) {
        if (document_.value_of(*line) == value)
            continue;
        const std::size_t old_length = line->value_end - line->value_start;
        check_length(line->end - line->start - old_length + value.size(), line->number);
        edits_.push_back({line->value_start, old_length, value});
    }
}

void Plan::remove_key(const std::string &section, const std::string &key, bool all) {
    const std::vector<const Line *> lines = key_lines(sections(section), key);
    if (lines.size() > 1 && !all)
        fail(exit_usage, file_,
             "[" + section + "] " + key + " stands on " + line_numbers(lines) +
                 "; --all deletes every one");
    for (const Line *line : lines)
        edits_.push_back({line->start, line->end - line->start, ""});
}

void Plan::remove_section(const std::string &section) {
    const std::vector<int> &in = sections(section);
    const std::vector<Line> &lines = document_.lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::header ||
            std::find(in.begin(), in.end(), lines[i].section) == in.end())
            continue;
        const std::size_t kept = part_kept(i);
        const std::size_t end = kept < lines.size() ? lines[kept].start : document_.text().size();
        edits_.push_back({lines[i].start, end - lines[i].start, ""});
    }
}

std::size_t Plan::part_kept(std::size_t header) const {
    const std::vector<Line> &lines = document_.lines();
    std::size_t next = header + 1;
    while (next < lines.size() && lines[next].kind != LineKind::header &&
           lines[next].kind != LineKind::stray_header)
        ++next;
    if (next == lines.size())
        return next;
    // The comment lines right above the next header introduce it.
    std::size_t comments_end = next;
    while (comments_end > header + 1 && lines[comments_end - 1].kind == LineKind::blank)
        --comments_end;
    std::size_t comments = comments_end;
    while (comments > header + 1 && lines[comments - 1].kind == LineKind::comment)
        --comments;
    return comments < comments_end ? comments : next;
}

void Plan::add(const std::string &section, const std::string &entry) {
    const std::string_view wanted = trim(entry);
    for (const int in : sections(section)) {
        auto [texts, made] = texts_.try_emplace(in);
        if (made)
            for (const Line *line : document_.lines_of({in}))
                texts->second.insert(document_.text_of(*line));
        if (texts->second.count(wanted) != 0)
            return;
    }
    if (Added &added = added_to(section); added.entries.insert(std::string(wanted)).second)
        add_line(section, entry);
}

void Plan::remove_entry(const std::string &section, const std::string &entry) {
    const std::string_view wanted = trim(entry);
    for (const Line *line : document_.lines_of(sections(section)))
        if (line->kind != LineKind::blank && document_.text_of(*line) == wanted) {
            edits_.push_back({line->start, line->end - line->start, ""});
            return;
        }
}

void Plan::make_section(const std::string &section) {
    if (section != preamble && sections(section).empty())
        (void)added_to(section);
}

Plan::Added &Plan::added_to(const std::string &section) {
    const auto [at, made] = added_by_name_.try_emplace(folded(section), added_.size());
    if (made) {
        added_.push_back({sections(section), section, "", {}});
        if (added_.back().sections.empty())
            check_length(section.size() + 2 + document_.line_end().size(), 0);
    }
    return added_[at->second];
}

void Plan::add_line(const std::string &section, std::string_view line) {
    Added &added = added_to(section);
    check_length(line.size() + document_.line_end().size(), 0);
    added.lines.append(line).append(document_.line_end());
}

std::string Plan::key_line(const std::vector<int> &sections, std::string_view key,
                           std::string_view value) const {
    const Line *model = last_key_line(document_.lines_of(sections));
    if (model == nullptr) {
        std::vector<const Line *> all;
        for (const Line &line : document_.lines())
            all.push_back(&line);
        model = last_key_line(all);
    }
    const KeyStyle style = model != nullptr ? style_of(document_, *model) : KeyStyle();
    return std::string(style.indent) + std::string(key) + std::string(style.before_equals) + "=" +
           std::string(style.after_equals) + std::string(value);
}

std::size_t Plan::insertion_point(const std::vector<int> &sections) const {
    const std::vector<Line> &lines = document_.lines();
    // The last part of the sections: from their last header, or the preamble.
    std::size_t first = 0, at = sections == std::vector<int>{0} ? document_.text_start() : 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::header &&
            std::find(sections.begin(), sections.end(), lines[i].section) != sections.end()) {
            first = i + 1;
            at = lines[i].end;
        }
    for (std::size_t i = first; i < lines.size(); ++i) {
        const LineKind kind = lines[i].kind;
        if (kind == LineKind::header || kind == LineKind::stray_header)
            break;
        if (kind != LineKind::blank && kind != LineKind::comment)
            at = lines[i].end;
    }
    return at;
}

std::string Plan::new_sections() const {
    const std::string_view text = document_.text(), end = document_.line_end();
    const std::vector<Line> &lines = document_.lines();
    // The file's style: a blank line before its last header.
    bool separated = false;
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::header)
            separated = lines[i - 1].kind == LineKind::blank;
    std::string blocks;
    bool after_text = text.size() > document_.text_start();
    const bool ends_blank = !lines.empty() && lines.back().kind == LineKind::blank;
    for (const Added &added : added_) {
        if (!added.sections.empty())
            continue;
        if (separated && after_text && !(blocks.empty() && ends_blank))
            blocks += end;
        blocks += "[" + added.name + "]" + std::string(end) + added.lines;
        after_text = true;
    }
    return blocks;
}

std::vector<Edit> Plan::edits() const {
    std::vector<Edit> all = edits_;
    const std::string_view text = document_.text();
    for (const Added &added : added_) {
        if (added.sections.empty())
            continue;
        all.push_back({insertion_point(added.sections), 0, added.lines});
    }
    if (std::string blocks = new_sections(); !blocks.empty())
        all.push_back({text.size(), 0, std::move(blocks)});
    std::stable_sort(all.begin(), all.end(), [](const Edit &a, const Edit &b) {
        return a.at != b.at ? a.at < b.at : a.old_length < b.old_length;
    });
    // A last line without its line end gets one before the lines added after it.
    const bool unended = text.size() > document_.text_start() && text.back() != '\n';
    const auto appended = std::find_if(all.begin(), all.end(), [&](const Edit &edit) {
        return edit.at == text.size() && edit.old_length == 0;
    });
    if (unended && appended != all.end())
        appended->text.insert(0, document_.line_end());
    return all;
}

std::string applied(const Document &document, const std::vector<Edit> &edits, std::size_t from) {
    const std::string_view text = document.text();
    std::string result;
    std::size_t at = from;
    for (const Edit &edit : edits) {
        result.append(text.substr(at, edit.at - at)).append(edit.text);
        at = edit.at + edit.old_length;
    }
    return result.append(text.substr(at));
}

} // namespace tool
