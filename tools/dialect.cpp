#include "dialect.h"
#include "tool.h"

#include <algorithm>
#include <array>

namespace tool {

namespace {

const std::array<const char *, 3> dialect_words = {"configparser", "systemd", "git"};

// Unit and network file suffixes; a drop-in directory is one of them and .d.
constexpr std::string_view systemd_suffixes[] = {
    ".service", ".socket", ".device", ".mount",   ".automount", ".swap", ".target", ".path",
    ".timer",   ".slice",  ".scope",  ".network", ".netdev",    ".link", ".nspawn"};

bool systemd_name(std::string_view name) {
    return std::any_of(std::begin(systemd_suffixes), std::end(systemd_suffixes),
                       [&](std::string_view suffix) { return ends_with(name, suffix); });
}

// White space as git's reader takes it outside quotes.
bool git_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The escape of a git value's byte after a backslash, or 0 for none.
char git_escape(char c) {
    switch (c) {
    case 't':
        return '\t';
    case 'b':
        return '\b';
    case 'n':
        return '\n';
    case '\\':
    case '"':
        return c;
    default:
        return '\0';
    }
}

// A line feed at `at`: "\n", or "\r\n"; its size, 0 for none.
std::size_t line_feed_at(std::string_view text, std::size_t at) {
    if (at < text.size() && text[at] == '\n')
        return 1;
    return at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n' ? 2 : 0;
}

// The last byte of the line that holds byte `at`, before its line feed.
std::size_t last_of_line(std::string_view text, std::size_t at) {
    while (at + 1 < text.size() && line_feed_at(text, at + 1) == 0)
        ++at;
    return at;
}

// A git value's backslash at `at`, and the byte after it: the line going
// on, an escape, or one git refuses; a backslash that ends the file goes on
// to nothing.
void read_backslash(std::string_view text, std::size_t &at, GitValue &read) {
    if (const std::size_t feed = line_feed_at(text, at + 1); feed > 0)
        at += feed;
    else if (at + 1 < text.size() && git_escape(text[at + 1]) != '\0')
        read.value += git_escape(text[++at]);
    else
        read.valid = read.valid && at + 1 == text.size();
    read.raw_end = at + 1;
}

// A byte of a git value at `at` (not a blank or a comment outside quotes),
// after the blanks before it; whether quotes are open after it.
bool read_byte(std::string_view text, std::size_t &at, bool quoted, std::size_t &spaces,
               GitValue &read) {
    read.value.append(spaces, ' ');
    spaces = 0;
    read.raw_end = at + 1;
    if (text[at] == '"')
        return !quoted;
    if (text[at] == '\\')
        read_backslash(text, at, read);
    else
        read.value += text[at];
    return quoted;
}

// A git subsection in quotes, \ escaping the byte after it: the whole of
// `text`, or none.
std::optional<std::string> quoted_subsection(std::string_view text) {
    if (text.size() < 2 || text.front() != '"')
        return std::nullopt;
    std::string sub;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '"')
            return i + 1 == text.size() ? std::optional<std::string>(sub) : std::nullopt;
        if (text[i] == '\\' && i + 1 < text.size())
            ++i;
        sub += text[i];
    }
    return std::nullopt;
}

// A value's lines, each after the first on a line of its own indented by
// `indent`; a blank line of the value without the indentation.
std::string configparser_lines(std::string_view value, std::string_view indent,
                               std::string_view line_end) {
    std::string text;
    for (std::size_t start = 0;; ++start) {
        const std::size_t end = std::min(value.find('\n', start), value.size());
        const std::string_view line = value.substr(start, end - start);
        if (start > 0)
            text.append(line_end).append(line.empty() ? "" : indent);
        text.append(line);
        if (end == value.size())
            return text;
        start = end;
    }
}

// A value as git writes it: line feeds, tabs, quotes and backslashes
// escaped, in quotes where git would drop blanks at its ends or read a
// comment or a space.
std::string git_written(std::string_view value) {
    const bool quoted = !value.empty() && (git_space(value.front()) || git_space(value.back()) ||
                                           value.find_first_of(";#\v\f") != std::string::npos);
    std::string text;
    for (const char c : value) {
        if (c == '\n' || c == '\t')
            text += c == '\n' ? "\\n" : "\\t";
        else
            text.append(c == '"' || c == '\\' ? "\\" : "").append(1, c);
    }
    return quoted ? "\"" + text + "\"" : text;
}

} // namespace

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_key_char(char c) {
    return is_letter(c) || (c >= '0' && c <= '9') || c == '-';
}

// A git name's section and subsection: remote "origin" or remote.origin;
// false for a section with bytes git does not take.
GitName git_parts(std::string_view name) {
    GitName parts;
    if (const std::size_t blank = name.find_first_of(" \t"); blank != std::string_view::npos) {
        parts.section = name.substr(0, blank);
        parts.sub = quoted_subsection(trim(name.substr(blank)));
        parts.valid = parts.sub.has_value();
    } else {
        const std::size_t dot = name.find('.');
        parts.section = name.substr(0, dot);
        if (dot != std::string_view::npos)
            parts.sub = std::string(name.substr(dot + 1));
        parts.valid = true;
    }
    parts.valid = parts.valid && !parts.section.empty() &&
                  std::all_of(parts.section.begin(), parts.section.end(), is_key_char);
    return parts;
}

std::optional<Dialect> dialect_named(std::string_view name) {
    for (std::size_t i = 0; i < dialect_words.size(); ++i)
        if (name == dialect_words[i])
            return static_cast<Dialect>(i);
    return std::nullopt;
}

std::string dialect_names(const char *joint) {
    std::string text;
    for (const char *word : dialect_words)
        text += (text.empty() ? "" : joint) + std::string(word);
    return text;
}

Dialect dialect_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::string_view directory =
        slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    while (ends_with(directory, "/")) // a/.git//config
        directory.remove_suffix(1);
    const std::size_t parent_slash = directory.rfind('/');
    const std::string_view parent =
        parent_slash == std::string_view::npos ? directory : directory.substr(parent_slash + 1);
    if (systemd_name(name) || (ends_with(parent, ".d") && ends_with(name, ".conf") &&
                               systemd_name(parent.substr(0, parent.size() - 2))))
        return Dialect::systemd;
    if (name == ".gitconfig" || name == "gitconfig" || name == ".gitmodules" ||
        (name == "config" && (parent == ".git" || parent == "git")))
        return Dialect::git;
    return Dialect::configparser;
}

std::size_t inline_comment(std::string_view content) {
    std::size_t found = content.size();
    for (const char mark : {';', '#'})
        for (std::size_t at = content.find(mark); at < found; at = content.find(mark, at + 1))
            if (at > 0 && is_blank(content[at - 1]))
                found = at;
    return found;
}

bool is_directive(std::string_view text) {
    if (text.empty() || (text[0] != '!' && text[0] != '%'))
        return false;
    const std::string_view word = text.substr(0, std::min(text.find(' '), text.find('\t')));
    return word == "!include" || word == "!includedir" || word == "%include";
}

bool continues(std::string_view text) {
    const std::size_t last = text.find_last_not_of('\\');
    const std::size_t count = text.size() - (last == std::string_view::npos ? 0 : last + 1);
    return count % 2 == 1;
}

std::string folded(std::string_view name) {
    std::string text(name);
    for (char &c : text)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

std::size_t line_end_after(std::string_view text, std::size_t start) {
    const std::size_t feed = text.find('\n', start);
    return feed == std::string_view::npos ? text.size() : feed + 1;
}

std::vector<std::string_view> lines_of_text(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = line_end_after(text, start);
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string_view without_line_end(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

GitValue git_value(std::string_view text, std::size_t from) {
    GitValue read;
    bool quoted = false;
    std::size_t spaces = 0, at = from;
    for (; at < text.size() && line_feed_at(text, at) == 0; ++at) {
        const char c = text[at];
        if (!quoted && git_space(c))
            spaces += read.value.empty() ? 0 : 1;
        else if (!quoted && (c == ';' || c == '#'))
            at = last_of_line(text, at); // a comment, to the line end
        else
            quoted = read_byte(text, at, quoted, spaces, read);
    }
    read.raw_end = std::max(read.raw_end, from);
    read.end = at;
    read.valid = read.valid && !quoted;
    return read;
}

std::optional<std::string> git_section(std::string_view inside) {
    // The old form [section.sub] is read in lower case whole.
    if (inside.find('"') == std::string_view::npos)
        return !inside.empty() && std::all_of(inside.begin(), inside.end(),
                                              [](char c) { return is_key_char(c) || c == '.'; })
                   ? std::optional<std::string>(folded(inside))
                   : std::nullopt;
    const GitName parts = git_parts(inside);
    if (!parts.valid || !parts.sub)
        return std::nullopt;
    return folded(parts.section) + "." + *parts.sub;
}

std::string section_key(Dialect dialect, std::string_view name, bool ignore_case) {
    if (dialect == Dialect::git && name != preamble) {
        const GitName parts = git_parts(name);
        std::string key = folded(parts.section) + (parts.sub ? "." + *parts.sub : "");
        return ignore_case ? folded(key) : key;
    }
    return ignore_case ? folded(name) : std::string(name);
}

std::string key_key(Dialect dialect, std::string_view name, bool ignore_case) {
    return ignore_case || dialect == Dialect::git ? folded(name) : std::string(name);
}

std::string header_text(Dialect dialect, std::string_view section) {
    if (dialect != Dialect::git)
        return "[" + std::string(section) + "]";
    const GitName parts = git_parts(section);
    if (!parts.sub)
        return "[" + folded(parts.section) + "]";
    std::string header = "[" + folded(parts.section) + " \"";
    for (const char c : *parts.sub)
        header += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return header + "\"]";
}

std::string written_value(Dialect dialect, std::string_view value, std::string_view indent,
                          std::string_view line_end) {
    switch (dialect) {
    case Dialect::configparser:
        return configparser_lines(value, indent, line_end);
    case Dialect::git:
        return git_written(value);
    case Dialect::systemd:
        break;
    }
    return std::string(value);
}

} // namespace tool
