#include "plan.h"

#include "format.h"
#include "refusals.h"
#include "tool.h"

#include <algorithm>

namespace tool {

namespace {

// "line 4", "lines 4 and 9", "lines 4, 9 and 12".
std::string line_numbers(const std::vector<const Line *> &lines) {
    std::string text = lines.size() > 1 ? "lines " : "line ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const char *joint = i == 0 ? "" : i + 1 == lines.size() ? " and " : ", ";
        text += joint + std::to_string(lines[i]->number);
    }
    return text;
}

// How much deeper than its key line a new configparser value's lines go.
constexpr std::string_view value_indent = "    ";

KeyStyle default_style(Dialect dialect) {
    if (dialect == Dialect::git)
        return {"\t", " ", "=", " "};
    return {};
}

std::size_t separator_of(const Document &document, const Line &line) {
    return document.text().find_first_of(separators(document.dialect()), line.name_end);
}

KeyStyle style_of(const Document &document, const Line &line) {
    const std::string_view text = document.text();
    const std::size_t first = document.start_of(line), separator = separator_of(document, line);
    return {std::string(text.substr(first, line.name_start - first)),
            std::string(text.substr(line.name_end, separator - line.name_end)),
            std::string(1, text[separator]),
            std::string(text.substr(separator + 1, line.value_start - separator - 1))};
}

// The width of `text` on a terminal: its UTF-8 characters.
std::size_t width(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool spaces_only(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// The last key line with a separator, and with `filled` a value on it.
const Line *model_of(const std::vector<const Line *> &lines, bool filled) {
    const auto found = std::find_if(lines.rbegin(), lines.rend(), [&](const Line *line) {
        return line->kind == LineKind::key && line->has_value &&
               (!filled || line->value_end > line->value_start);
    });
    return found != lines.rend() ? *found : nullptr;
}

// The column the separators of `lines` are aligned at, as the model's is:
// where a key line pads its name with spaces to the model's column.
std::optional<std::size_t> aligned_column(const Document &document,
                                          const std::vector<const Line *> &lines,
                                          const Line &model) {
    const std::string_view text = document.text();
    const auto column = [&](const Line &line) {
        return width(text.substr(document.start_of(line),
                                 separator_of(document, line) - document.start_of(line)));
    };
    const std::size_t wanted = column(model);
    for (const Line *line : lines) {
        if (line->kind != LineKind::key || !line->has_value)
            continue;
        const std::string_view gap =
            text.substr(line->name_end, separator_of(document, *line) - line->name_end);
        if (gap.size() >= 2 && spaces_only(gap) && column(*line) == wanted)
            return wanted;
    }
    return std::nullopt;
}

// The bytes a line is indented by.
std::string_view indent_of(const Document &document, const Line &line) {
    const std::string_view text = document.text();
    const std::size_t first = document.start_of(line);
    std::size_t end = first;
    while (end < line.content_end && is_blank(text[end]))
        ++end;
    return text.substr(first, end - first);
}

// A header, or a line that ends a section as one.
bool is_boundary(LineKind kind) {
    return kind == LineKind::header || kind == LineKind::stray_header;
}

} // namespace

Plan::Plan(const Document &document, std::string_view file, bool ignore_case)
    : document_(document), file_(file), ignore_case_(ignore_case) {
    if (!document.is_text())
        fail(exit_usage, file_,
             "not a text file: a zero byte or a control byte in its first " +
                 std::to_string(text_probe) + " bytes; nothing written");
}

void Plan::refuse(std::string_view where, const std::string &why) const {
    fail(exit_usage, file_, std::string(where) + ": " + why);
}

void Plan::check_lines(std::string_view lines, std::size_t number) const {
    if (document_.longest_line() > iniplace::piece_max)
        return;
    for (const std::string_view line : lines_of_text(lines))
        if (without_line_end(line).size() + document_.line_end().size() > iniplace::piece_max) {
            const std::string which =
                number > 0 ? "line " + std::to_string(number) : "the new line";
            fail(exit_usage, file_,
                 which + " would be longer than " + std::to_string(iniplace::piece_max) +
                     " bytes, which programs that use the library read in pieces");
        }
}

std::optional<std::string> refusal(Dialect dialect, const Intent &intent) {
    using Kind = Intent::Kind;
    using Refuse = std::optional<std::string> (*)(Dialect, std::string_view);
    std::optional<std::string> found;
    const auto check = [&](Refuse refuse, std::string_view text) {
        if (!found)
            found = refuse(dialect, text);
    };
    if (intent.kind == Kind::set || intent.kind == Kind::add || intent.kind == Kind::make_section)
        check(refuse_section, intent.section);
    if (intent.keyed())
        check(refuse_key, intent.name);
    if (intent.kind == Kind::set)
        check(refuse_value, intent.value);
    if (intent.kind == Kind::add)
        check(refuse_entry, intent.name);
    return found;
}

void Plan::make(const Intent &intent) {
    switch (intent.kind) {
    case Intent::Kind::set:
        return set(intent.section, intent.name, intent.value, intent.all);
    case Intent::Kind::remove_key:
        return remove_key(intent.section, intent.name, intent.all);
    case Intent::Kind::remove_section:
        return remove_section(intent.section);
    case Intent::Kind::add:
        return add(intent.section, intent.name);
    case Intent::Kind::remove_entry:
        return remove_entry(intent.section, intent.name);
    case Intent::Kind::make_section:
        return make_section(intent.section);
    }
}

void Plan::set(const std::string &section, const std::string &key, const std::string &value,
               bool all) {
    const Dialect dialect = document_.dialect();
    const std::string where = setting_name(section, key);
    const std::vector<int> &in = sections(section);
    const std::vector<const Line *> lines = key_lines(in, key);
    if (lines.size() > 1 && !all)
        fail(exit_usage, file_,
             where + " stands on " + line_numbers(lines) + "; --all sets every one");
    if (lines.empty())
        add_line(section, key_line(in, key, value));
    for (const Line *line : lines) {
        if ((line->has_value || dialect == Dialect::git) && document_.value_of(*line) == value)
            continue;
        Edit edit = value_edit(*line, value);
        const std::string_view text = document_.text();
        const std::size_t first = document_.start_of(*line), tail = edit.at + edit.old_length,
                          last_end = document_.lines()[line->last].content_end;
        check_lines(std::string(text.substr(first, edit.at - first)) + edit.text +
                        std::string(text.substr(tail, std::max(last_end, tail) - tail)),
                    line->number);
        edits_.push_back(std::move(edit));
    }
}

Edit Plan::value_edit(const Line &line, std::string_view value) const {
    const Dialect dialect = document_.dialect();
    const std::string_view text = document_.text();
    const KeyStyle style = section_style({line.section}, document_.name_of(line));
    // The lines of a configparser value: indented as its own go on, or by
    // four more spaces than its key.
    std::string indent = std::string(indent_of(document_, line)) + std::string(value_indent);
    for (std::size_t i = document_.index_of(line) + 1; i <= line.last; ++i)
        if (document_.lines()[i].kind == LineKind::continuation) {
            indent = indent_of(document_, document_.lines()[i]);
            break;
        }
    const std::string written = written_value(dialect, value, indent, document_.line_end());
    if (!line.has_value)
        return {line.name_end, 0, style.before + style.separator + style.after + written};
    std::size_t at = line.value_start;
    std::string prefix;
    if (line.value_start == line.value_end) {
        // An empty value filled: after the line's blanks, or with the
        // section's spacing where it has none.
        const std::string_view rest = text.substr(at, line.content_end - at);
        const bool blank = trim(rest).empty();
        at = blank ? line.content_end : at;
        prefix = blank && !rest.empty() ? "" : style.after;
    }
    const std::size_t end = std::max(document_.value_end_of(line), at);
    return {at, end - at, prefix + written};
}

void Plan::remove_key(const std::string &section, const std::string &key, bool all) {
    const std::vector<const Line *> lines = key_lines(sections(section), key);
    if (lines.size() > 1 && !all)
        fail(exit_usage, file_,
             setting_name(section, key) + " stands on " + line_numbers(lines) +
                 "; --all deletes every one");
    for (const Line *line : lines)
        edits_.push_back({document_.start_of(*line),
                          document_.span_end_of(*line) - document_.start_of(*line), ""});
}

void Plan::remove_section(const std::string &section) {
    const std::vector<int> &in = sections(section);
    const std::vector<Line> &lines = document_.lines();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::header &&
            std::find(in.begin(), in.end(), lines[i].section) != in.end())
            remove_part(i);
}

void Plan::remove_part(std::size_t header) {
    const std::vector<Line> &lines = document_.lines();
    const std::size_t kept = part_kept(header);
    std::size_t from = document_.start_of(lines[header]);
    // File-wide directives stay, with the comments right above them.
    for (std::size_t i = header + 1; i < kept; ++i) {
        if (lines[i].kind != LineKind::directive)
            continue;
        std::size_t comments = i;
        while (comments > header + 1 && lines[comments - 1].kind == LineKind::comment)
            --comments;
        if (lines[comments].start > from)
            edits_.push_back({from, lines[comments].start - from, ""});
        from = lines[i].end;
    }
    const std::size_t end = kept < lines.size() ? lines[kept].start : document_.text().size();
    if (end > from)
        edits_.push_back({from, end - from, ""});
}

std::size_t Plan::part_kept(std::size_t header) const {
    const std::vector<Line> &lines = document_.lines();
    std::size_t next = header + 1;
    while (next < lines.size() && !is_boundary(lines[next].kind))
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
    if (document_.line_equal(sections(section), wanted) != nullptr)
        return;
    if (Added &added = added_to(section); added.entries.insert(std::string(wanted)).second)
        add_line(section, wanted);
}

void Plan::remove_entry(const std::string &section, const std::string &entry) {
    const Line *const line = document_.line_equal(sections(section), entry);
    if (line == nullptr)
        return;
    if (line->kind == LineKind::continuation && document_.dialect() != Dialect::configparser)
        refuse(setting_name(section), "line " + std::to_string(line->number) +
                                          " goes on the value of the line before it; set or del "
                                          "that key");
    const std::size_t from = document_.start_of(*line);
    const std::size_t to =
        line->kind == LineKind::continuation ? line->end : document_.span_end_of(*line);
    edits_.push_back({from, to - from, ""});
}

void Plan::make_section(const std::string &section) {
    if (section != preamble && sections(section).empty())
        (void)added_to(section);
}

Plan::Added &Plan::added_to(const std::string &section) {
    const auto [at, made] = added_by_name_.try_emplace(
        section_key(document_.dialect(), section, ignore_case_), added_.size());
    if (made) {
        added_.push_back({sections(section), section, "", {}});
        if (added_.back().sections.empty())
            check_lines(header_text(document_.dialect(), section), 0);
    }
    return added_[at->second];
}

void Plan::add_line(const std::string &section, std::string_view line) {
    Added &added = added_to(section);
    check_lines(line, 0);
    added.lines.append(line).append(document_.line_end());
}

KeyStyle Plan::section_style(const std::vector<int> &sections, std::string_view key) const {
    const std::vector<const Line *> lines = document_.lines_of(sections);
    if (const Line *model = model_of(lines, true)) {
        KeyStyle style = style_of(document_, *model);
        if (const auto column = aligned_column(document_, lines, *model)) {
            const std::size_t used = width(style.indent) + width(key);
            style.before = std::string(*column > used ? *column - used : 1, ' ');
        }
        return style;
    }
    // The file's layout, without another section's padding; the spacing
    // after a separator, where no value shows it, as before it.
    std::vector<const Line *> all;
    for (const Line &line : document_.lines())
        all.push_back(&line);
    const Line *model = model_of(all, true);
    const Line *unfilled =
        model_of(lines, false) != nullptr ? model_of(lines, false) : model_of(all, false);
    if (model == nullptr && unfilled == nullptr)
        return default_style(document_.dialect());
    KeyStyle style = style_of(document_, model != nullptr ? *model : *unfilled);
    style.before = style.before.substr(0, 1);
    style.after = model != nullptr ? style.after.substr(0, 1) : style.before;
    return style;
}

std::string Plan::key_line(const std::vector<int> &sections, std::string_view key,
                           std::string_view value) const {
    KeyStyle style = section_style(sections, key);
    // A configparser key line indented deeper than the line before it would
    // go on that line's value.
    if (const Line *before = insertion(sections).last_own;
        before != nullptr && document_.dialect() == Dialect::configparser &&
        indent_of(document_, *before).size() < style.indent.size())
        style.indent = indent_of(document_, *before);
    return style.indent + std::string(key) + style.before + style.separator + style.after +
           written_value(document_.dialect(), value, style.indent + std::string(value_indent),
                         document_.line_end());
}

Plan::Insertion Plan::insertion(const std::vector<int> &sections) const {
    const std::vector<Line> &lines = document_.lines();
    // The last part of the sections: from their last header, or the preamble.
    std::size_t first = 0;
    Insertion found{sections == std::vector<int>{0} ? document_.text_start() : 0, nullptr};
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::header &&
            std::find(sections.begin(), sections.end(), lines[i].section) != sections.end()) {
            first = i + 1;
            found.at = lines[i].end;
        }
    std::size_t next = first;
    for (; next < lines.size() && !is_boundary(lines[next].kind); ++next) {
        // A directive is the file's, not the section's last line.
        const LineKind kind = lines[next].kind;
        if (kind == LineKind::blank || kind == LineKind::comment || kind == LineKind::directive)
            continue;
        found.at = lines[next].end;
        found.last_own = kind == LineKind::continuation ? found.last_own : &lines[next];
    }
    if (found.last_own == nullptr)
        found.at = after_comments(first, next, found.at);
    return found;
}

std::size_t Plan::after_comments(std::size_t first, std::size_t next, std::size_t at) const {
    // After the comments, but for those right above the next header, after
    // a blank line, which introduce it.
    const std::vector<Line> &lines = document_.lines();
    std::size_t end = next;
    while (end > first && lines[end - 1].kind == LineKind::comment)
        --end;
    if (next == lines.size() || end == next || end == first)
        end = next;
    for (std::size_t i = end; i > first; --i)
        if (lines[i - 1].kind == LineKind::comment)
            return lines[i - 1].end;
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
        blocks += header_text(document_.dialect(), added.name) + std::string(end) + added.lines;
        after_text = true;
    }
    return blocks;
}

std::vector<Edit> Plan::edits() const {
    const auto in_file_order = [](const Edit &a, const Edit &b) {
        return a.at != b.at ? a.at < b.at : a.old_length < b.old_length;
    };
    std::vector<Edit> planned = edits_;
    std::stable_sort(planned.begin(), planned.end(), in_file_order);
    // An intent given twice (a key set again, an entry removed twice)
    // planned the same bytes twice: the later edit stands.
    std::vector<Edit> all;
    for (Edit &edit : planned)
        if (!all.empty() && all.back().at == edit.at && all.back().old_length == edit.old_length)
            all.back() = std::move(edit);
        else
            all.push_back(std::move(edit));
    const std::string_view text = document_.text();
    for (const Added &added : added_) {
        if (added.sections.empty())
            continue;
        all.push_back({insertion(added.sections).at, 0, added.lines});
    }
    if (std::string blocks = new_sections(); !blocks.empty())
        all.push_back({text.size(), 0, std::move(blocks)});
    std::stable_sort(all.begin(), all.end(), in_file_order);
    // A last line without its line end gets one before the lines added after it.
    const bool unended = text.size() > document_.text_start() && text.back() != '\n';
    const auto appended = std::find_if(all.begin(), all.end(), [&](const Edit &edit) {
        return edit.at == text.size() && edit.old_length == 0;
    });
    if (unended && appended != all.end())
        appended->text.insert(0, document_.line_end());
    return all;
}

std::string applied(std::string_view text, const Edit *first, const Edit *last, std::size_t from,
                    std::size_t to) {
    std::string result;
    std::size_t at = from;
    for (const Edit *edit = first; edit != last; ++edit) {
        result.append(text.substr(at, edit->at - at)).append(edit->text);
        at = edit->at + edit->old_length;
    }
    return result.append(text.substr(at, std::max(to, at) - at));
}

} // namespace tool
