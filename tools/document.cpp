#include "document.h"
#include "refusals.h"

#include <algorithm>
#include <optional>

namespace tool {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Control bytes that text holds: bell, backspace, tab, line feed, vertical
// tab, form feed, carriage return and escape.
bool is_text_byte(unsigned char c) {
    return c >= 0x20 || (c >= 0x07 && c <= 0x0D) || c == 0x1B;
}

// The offsets of `part` of `text`, without blanks around it.
std::pair<std::size_t, std::size_t> trimmed_range(std::string_view text, std::size_t from,
                                                  std::size_t to) {
    while (from < to && is_blank(text[from]))
        ++from;
    while (to > from && is_blank(text[to - 1]))
        --to;
    return {from, to};
}

} // namespace

// Reads the lines one by one, keeping what a line needs of those before it:
// the section, and the key whose value the next line may go on.
class Document::Reader {
  public:
    explicit Reader(Document &document) : document_(document), text_(document.text_) {}

    void read(std::size_t start, std::size_t end) {
        Line line;
        line.start = start;
        line.end = end;
        line.content_end = start + without_line_end(text_.substr(start, end - start)).size();
        line.number = document_.lines_.size() + 1;
        line.last = document_.lines_.size();
        first_ = std::max(start, document_.text_start_);
        content_ = text_.substr(first_, line.content_end - first_);
        trimmed_ = trim(content_);
        if (!goes_on(line))
            read_own(line);
        line.section = section_;
        if (section_ >= 0 && line.kind != LineKind::header)
            document_.section_lines_[static_cast<std::size_t>(section_)].push_back(
                document_.lines_.size());
        document_.longest_line_ = std::max(document_.longest_line_, line.end - line.start);
        document_.lines_.push_back(line);
    }

  private:
    // A line that goes on the value of the key before it.
    bool goes_on(Line &line) {
        if (!open_)
            return false;
        switch (document_.dialect_) {
        case Dialect::configparser:
            return configparser_goes_on(line);
        case Dialect::systemd:
            return systemd_goes_on(line);
        case Dialect::git:
            return git_goes_on(line);
        }
        return false;
    }

    bool configparser_goes_on(Line &line) {
        if (trimmed_.empty()) {
            line.kind = LineKind::blank;
            return true;
        }
        if (starts_comment(trimmed_)) {
            line.kind = LineKind::comment;
            return true;
        }
        if (indent() <= indent_)
            return false;
        std::tie(line.value_start, line.value_end) =
            trimmed_range(text_, first_, first_ + inline_comment(content_));
        continued(line);
        return true;
    }

    bool systemd_goes_on(Line &line) {
        if (starts_comment(trimmed_)) {
            line.kind = LineKind::comment;
            return true;
        }
        std::tie(line.value_start, line.value_end) = trimmed_range(text_, first_, line.content_end);
        continued(line);
        if (!continues(content_))
            open_.reset();
        return true;
    }

    bool git_goes_on(Line &line) {
        if (line.start >= git_end_) {
            open_.reset();
            return false;
        }
        line.value_start = trimmed_range(text_, first_, line.content_end).first;
        line.value_end = std::clamp(git_raw_end_, line.value_start, line.content_end);
        continued(line);
        return true;
    }

    void continued(Line &line) {
        line.kind = LineKind::continuation;
        document_.lines_[*open_].last = line.last;
    }

    std::size_t indent() const {
        return trimmed_.empty() ? content_.size()
                                : static_cast<std::size_t>(trimmed_.data() - content_.data());
    }

    void read_own(Line &line) {
        open_.reset();
        if (trimmed_.empty()) {
            line.kind = LineKind::blank;
            return;
        }
        if (starts_comment(trimmed_)) {
            line.kind = LineKind::comment;
            return;
        }
        indent_ = indent();
        if (document_.dialect_ == Dialect::configparser)
            read_configparser(line);
        else if (trimmed_[0] == '[')
            read_header(line);
        else
            read_key(line);
    }

    // configparser: a header up to the last ], a directive, or a key.
    void read_configparser(Line &line) {
        const std::size_t comment = inline_comment(content_);
        const std::size_t from = static_cast<std::size_t>(trimmed_.data() - text_.data());
        const std::size_t to = comment == content_.size()
                                   ? from + trimmed_.size()
                                   : trimmed_range(text_, from, first_ + comment).second;
        const std::string_view head = text_.substr(from, to - from);
        if (const std::size_t close = head[0] == '[' ? head.rfind(']') : 0;
            close != std::string_view::npos && close >= 2) {
            header(line, std::string(head.substr(1, close - 1)));
            return;
        }
        if (is_directive(head)) {
            line.kind = LineKind::directive;
            return;
        }
        const std::size_t separator = head.find_first_of(separators(Dialect::configparser));
        key(line, from, separator == std::string_view::npos ? to : from + separator, to);
    }

    // [NAME], and after it only blanks or a comment; git's as git names it.
    void read_header(Line &line) {
        const std::size_t close = trimmed_.find(']');
        const std::string_view after =
            close == std::string_view::npos ? trimmed_ : trim(trimmed_.substr(close + 1));
        std::optional<std::string> name;
        if (close != std::string_view::npos && (after.empty() || starts_comment(after)))
            name = document_.dialect_ == Dialect::git ? git_section(trimmed_.substr(1, close - 1))
                                                      : std::string(trimmed_.substr(1, close - 1));
        if (name) {
            header(line, std::move(*name));
            return;
        }
        line.kind = LineKind::stray_header;
        section_ = -1;
    }

    void header(Line &line, std::string name) {
        line.kind = LineKind::header;
        section_ = document_.section_index(std::move(name));
    }

    // systemd and git: a key line holds =; git's key without one is true.
    void read_key(Line &line) {
        const std::size_t from = static_cast<std::size_t>(trimmed_.data() - text_.data());
        const std::size_t to = from + trimmed_.size();
        const std::size_t equals = trimmed_.find_first_of(separators(document_.dialect_));
        const bool git = document_.dialect_ == Dialect::git;
        if (equals == std::string_view::npos && !(git && !refuse_key(Dialect::git, trimmed_))) {
            line.kind = LineKind::entry;
            if (continues(content_))
                open_ = line.last;
            return;
        }
        key(line, from, equals == std::string_view::npos ? to : from + equals, to);
        if (git && line.has_value)
            read_git_value(line);
    }

    // A key line from `from`, its separator at `separator` (or none at `to`).
    void key(Line &line, std::size_t from, std::size_t separator, std::size_t to) {
        line.kind = LineKind::key;
        line.name_start = from;
        line.name_end = trimmed_range(text_, from, separator).second;
        line.has_value = separator < to;
        if (!line.has_value)
            return;
        std::tie(line.value_start, line.value_end) = trimmed_range(text_, separator + 1, to);
        if (line.value_start == line.value_end)
            line.value_start = line.value_end = separator + 1;
        open_ = line.last;
        if (document_.dialect_ == Dialect::systemd && !continues(content_))
            open_.reset();
    }

    void read_git_value(Line &line) {
        const GitValue value = git_value(text_, line.value_start);
        git_end_ = value.end;
        git_raw_end_ = value.raw_end;
        line.value_end = std::min(value.raw_end, line.content_end);
        if (value.end <= line.content_end)
            open_.reset();
    }

    Document &document_;
    std::string_view text_;
    int section_ = 0;
    // The line the text being read belongs to, and what is known of it.
    std::size_t first_ = 0;
    std::string_view content_, trimmed_;
    // The key (systemd: or entry) whose value the next line may go on; the
    // indentation of the last configparser line that went on none.
    std::optional<std::size_t> open_;
    std::size_t indent_ = 0;
    // git: where the open key's value ends, and its last byte.
    std::size_t git_end_ = 0, git_raw_end_ = 0;
};

Document::Document(std::string text, Dialect dialect) : text_(std::move(text)), dialect_(dialect) {
    if (std::string_view(text_).substr(0, byte_order_mark.size()) == byte_order_mark)
        text_start_ = byte_order_mark.size();
    if (const std::size_t feed = text_.find('\n'); feed != std::string::npos)
        line_end_ = feed > 0 && text_[feed - 1] == '\r' ? "\r\n" : "\n";
    sections_.emplace_back(preamble);
    section_lines_.emplace_back();
    lines_.reserve(text_.size() / 16 + 1);
    Reader reader(*this);
    for (std::size_t start = 0; start < text_.size();) {
        const std::size_t end = line_end_after(text_, start);
        reader.read(start, end);
        start = end;
    }
}

int Document::section_index(std::string name) {
    const auto [at, made] = section_numbers_.try_emplace(name, static_cast<int>(sections_.size()));
    if (made) {
        sections_.push_back(std::move(name));
        section_lines_.emplace_back();
    }
    return at->second;
}

std::size_t Document::start_of(const Line &line) const {
    return std::max(line.start, text_start_);
}

std::string_view Document::text_of(const Line &line) const {
    const std::size_t first = start_of(line);
    return trim(std::string_view(text_).substr(first, line.content_end - first));
}

std::string_view Document::name_of(const Line &line) const {
    return std::string_view(text_).substr(line.name_start, line.name_end - line.name_start);
}

std::string Document::value_of(const Line &line) const {
    const std::string_view text = text_;
    if (!line.has_value)
        return dialect_ == Dialect::git ? "true" : "";
    if (dialect_ == Dialect::git)
        return git_value(text, line.value_start).value;
    const std::size_t first = index_of(line);
    if (dialect_ == Dialect::configparser) {
        std::string value(text.substr(line.value_start, line.value_end - line.value_start));
        for (std::size_t i = first + 1; i <= line.last; ++i)
            if (lines_[i].kind != LineKind::comment)
                value.append("\n").append(text.substr(lines_[i].value_start,
                                                      lines_[i].value_end - lines_[i].value_start));
        return value;
    }
    // systemd: each \ that ends a line a blank, the next line (not a comment)
    // joined as it is.
    std::string value(text.substr(line.value_start, line.content_end - line.value_start));
    for (std::size_t i = first + 1; i <= line.last; ++i)
        if (lines_[i].kind != LineKind::comment) {
            value.back() = ' ';
            const std::size_t from = start_of(lines_[i]);
            value.append(text.substr(from, lines_[i].content_end - from));
        }
    return std::string(trim(value));
}

const std::vector<int> &Document::sections_named(std::string_view name, bool ignore_case) const {
    static const std::vector<int> the_preamble{0}, none;
    if (name == preamble)
        return the_preamble;
    auto &by_name = sections_by_name_[ignore_case ? 1 : 0];
    if (by_name.empty())
        for (std::size_t i = 1; i < sections_.size(); ++i)
            by_name[section_key(dialect_, sections_[i], ignore_case)].push_back(
                static_cast<int>(i));
    const auto found = by_name.find(section_key(dialect_, name, ignore_case));
    return found != by_name.end() ? found->second : none;
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
                                              std::string_view key, bool ignore_case) const {
    const std::string wanted = key_key(dialect_, key, ignore_case);
    std::vector<const Line *> found;
    for (const int section : sections) {
        auto [keys, made] = keys_by_name_[ignore_case ? 1 : 0].try_emplace(section);
        if (made)
            for (const Line *line : lines_of({section}))
                if (line->kind == LineKind::key)
                    keys->second[key_key(dialect_, name_of(*line), ignore_case)].push_back(line);
        if (const auto lines = keys->second.find(wanted); lines != keys->second.end())
            found.insert(found.end(), lines->second.begin(), lines->second.end());
    }
    std::sort(found.begin(), found.end());
    return found;
}

const Line *Document::line_equal(const std::vector<int> &sections, std::string_view entry) const {
    const Line *first = nullptr;
    for (const int section : sections) {
        auto [texts, made] = lines_by_text_.try_emplace(section);
        if (made)
            for (const Line *line : lines_of({section}))
                if (line->kind != LineKind::blank && line->kind != LineKind::directive)
                    texts->second.try_emplace(text_of(*line), line);
        if (const auto line = texts->second.find(trim(entry)); line != texts->second.end())
            first = first == nullptr ? line->second : std::min(first, line->second);
    }
    return first;
}

bool Document::is_text() const {
    const std::string_view probe = std::string_view(text_).substr(0, text_probe);
    return std::all_of(probe.begin(), probe.end(),
                       [](char c) { return is_text_byte(static_cast<unsigned char>(c)); });
}

} // namespace tool
