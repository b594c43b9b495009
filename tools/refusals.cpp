#include "refusals.h"

#include <algorithm>

namespace tool {

namespace {

bool holds_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A configparser value's line: no blanks around it, no comment in it.
std::optional<std::string> refuse_configparser_line(std::string_view line, bool first) {
    if (trim(line) != line)
        return "a line of the value must not start or end with a blank";
    if (!first && starts_comment(line))
        return "a line of the value must not start with ';' or '#', which make a comment";
    if (inline_comment(line) < line.size() || starts_comment(line))
        return "the value must not hold ';' or '#' at its start or after a blank, which start a "
               "comment";
    return std::nullopt;
}

std::optional<std::string> refuse_configparser_value(std::string_view value) {
    if (!value.empty() && value.back() == '\n')
        return "the value must not end with a line feed";
    for (std::size_t start = 0, count = 0; start <= value.size(); ++count) {
        const std::size_t end = std::min(value.find('\n', start), value.size());
        if (auto refusal = refuse_configparser_line(value.substr(start, end - start), count == 0))
            return refusal;
        start = end + 1;
    }
    return std::nullopt;
}

// What the tool refuses in every dialect: a section, key, value (on one
// line) or entry that would not read back as given.
std::optional<std::string> refuse_section(std::string_view section) {
    if (holds_line_break(section))
        return "the section must not hold a line feed or a carriage return";
    if (section.empty())
        return "the section must not be empty";
    if (section.find(']') != std::string_view::npos)
        return "the section must not hold ']'";
    return std::nullopt;
}

// The library's refusals of a key, in the tool's words, and what the tool
// refuses besides: a carriage return, a comment's start, a blank at the end.
std::optional<std::string> refuse_key(std::string_view key) {
    constexpr const char *characters =
        "the key must not hold '=', a line feed or a carriage return";
    constexpr const char *start = "the key must not start with '[', ';' or '#'";
    constexpr const char *blanks = "the key must not start or end with a space or a tab";
    switch (iniplace::check_key(key).refusal) {
    case iniplace::Refusal::key_empty:
        return "the key must not be empty or *";
    case iniplace::Refusal::key_character:
        return characters;
    case iniplace::Refusal::key_start:
        return key[0] == '[' ? start : blanks;
    default:
        break;
    }
    if (key.find('\r') != std::string_view::npos)
        return characters;
    if (starts_comment(key))
        return start;
    if (is_blank(key.back()))
        return blanks;
    return std::nullopt;
}

std::optional<std::string> refuse_value(std::string_view value) {
    if (holds_line_break(value))
        return "the value must not hold a line feed or a carriage return";
    return std::nullopt;
}

// The library's refusals of an entry, in the tool's words, and what the
// tool refuses besides: a carriage return, a comment's start.
std::optional<std::string> refuse_entry(std::string_view entry) {
    if (entry.find('\r') != std::string_view::npos)
        return "the entry must not hold a line feed or a carriage return";
    switch (iniplace::check_entry(entry).refusal) {
    case iniplace::Refusal::line_feed:
        return "the entry must not hold a line feed or a carriage return";
    case iniplace::Refusal::entry_empty:
        return "the entry must not be blank";
    case iniplace::Refusal::entry_header:
        return "the entry must not start with '['";
    default:
        break;
    }
    if (starts_comment(trim(entry)))
        return "the entry must not start with ';' or '#', which make a comment";
    return std::nullopt;
}

} // namespace

std::optional<std::string> refuse_section(Dialect dialect, std::string_view section) {
    if (auto refusal = refuse_section(section))
        return refusal;
    if (dialect == Dialect::configparser && inline_comment(section) < section.size())
        return "the section must not hold ';' or '#' after a blank, which start a comment";
    if (dialect == Dialect::git && section != preamble && !git_parts(section).valid)
        return "a git section's name is letters, digits and -, then a subsection: "
               "name \"sub\" or name.sub";
    return std::nullopt;
}

std::optional<std::string> refuse_key(Dialect dialect, std::string_view key) {
    if (auto refusal = refuse_key(key))
        return refusal;
    if (dialect == Dialect::git &&
        !(is_letter(key[0]) && std::all_of(key.begin(), key.end(), is_key_char)))
        return "a git key is letters, digits and -, starting with a letter";
    if (dialect != Dialect::configparser)
        return std::nullopt;
    if (key.find(':') != std::string_view::npos)
        return "the key must not hold ':', which ends a key's name";
    if (inline_comment(key) < key.size())
        return "the key must not hold ';' or '#' after a blank, which start a comment";
    if (is_directive(key))
        return "the key must not be a directive (!include, !includedir, %include)";
    return std::nullopt;
}

std::optional<std::string> refuse_value(Dialect dialect, std::string_view value) {
    if (dialect == Dialect::systemd && holds_line_break(value))
        return refuse_value(value);
    if (value.find('\r') != std::string_view::npos)
        return "the value must not hold a carriage return";
    if (dialect == Dialect::systemd && continues(value))
        return "the value must not end with '\\', which goes on to the next line";
    if (dialect == Dialect::configparser)
        return refuse_configparser_value(value);
    return std::nullopt;
}

std::optional<std::string> refuse_entry(Dialect dialect, std::string_view entry) {
    if (auto refusal = refuse_entry(entry))
        return refusal;
    const std::string_view text = trim(entry);
    if (dialect != Dialect::configparser && continues(text))
        return "the entry must not end with '\\', which goes on to the next line";
    if (dialect == Dialect::configparser && is_directive(text))
        return "the entry must not be a directive (!include, !includedir, %include), which is "
               "the file's";
    if (dialect != Dialect::git)
        return std::nullopt;
    const std::size_t name_end = std::min(text.find_first_of(" \t="), text.size());
    const std::string_view after = trim(text.substr(name_end));
    if (refuse_key(dialect, text.substr(0, name_end)) ||
        !(after.empty() || (after[0] == '=' && git_value(after, 1).valid)))
        return "git reads each line of a section as a key: the entry must be a key, or a key, = "
               "and a value";
    return std::nullopt;
}

} // namespace tool
