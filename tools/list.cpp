// The listings of keys: sections, keys and list, in lines, for the shell
// or as JSON.
#include "document.h"
#include "files.h"
#include "options.h"
#include "output.h"
#include "quoting.h"
#include "refusals.h"

#include <algorithm>
#include <unordered_map>

namespace tool {

namespace {

// A proxy setting as programs read it in lower case: SCHEME_proxy
// (http_proxy, socks5_proxy), all_proxy, no_proxy.
bool proxy_name(std::string_view name) {
    constexpr std::string_view suffix = "_proxy";
    return ends_with(name, suffix) && name.size() > suffix.size() &&
           name.substr(0, name.size() - suffix.size()).find('_') == std::string_view::npos;
}

// Upper-case names are the environment's and the shell's (PATH, IFS,
// LD_PRELOAD). In lower case, programs read the proxy settings and npm its
// npm_config_ settings; shells tie some names to their state (zsh's path
// for PATH, argv for the arguments, bash's histchars).
// A name that programs or the shell read from the environment or tie to
// shell state, which eval of a file's keys must not set.
bool environment_name(std::string_view name) {
    constexpr std::string_view tied[] = {
        "path", "fpath",   "cdpath", "manpath", "mailpath", "module_path", "histchars",
        "argv", "fignore", "prompt", "psvar",   "watch",    "auto_resume",
    };
    return std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }) ||
           proxy_name(name) || starts_with(name, "npm_config_") ||
           std::find(std::begin(tied), std::end(tied), name) != std::end(tied);
}

// A key of a section as the listings show it: once, named as where it
// first stands (git's in lower case, as git lists them), with the value get
// reads (that of its last line).
struct Listed {
    std::string key;
    std::string value;
    bool has_value;     // false for a key without a separator
    std::size_t number; // of the line the value is on
};

// The keys of `sections` get can read, in the order they first appear.
std::vector<Listed> listed_keys(const Document &document, const std::vector<int> &sections,
                                bool ignore_case) {
    const Dialect dialect = document.dialect();
    std::vector<std::vector<const Line *>> lines; // of each key, in file order
    std::unordered_map<std::string, std::size_t> seen;
    for (const Line *line : document.lines_of(sections)) {
        if (line->kind != LineKind::key || refuse_key(dialect, document.name_of(*line)))
            continue;
        const auto [at, made] =
            seen.try_emplace(key_key(dialect, document.name_of(*line), ignore_case), lines.size());
        if (made)
            lines.emplace_back();
        lines[at->second].push_back(line);
    }
    std::vector<Listed> keys;
    for (const std::vector<const Line *> &key : lines) {
        const Line &read = *Document::line_read(key);
        keys.push_back({key_key(dialect, document.name_of(*key.front()), false),
                        document.value_of(read), read.has_value, read.number});
    }
    return keys;
}

struct Section {
    std::string name;
    std::vector<Listed> keys;
};

// The sections a list call shows: the one named, or every one, the preamble
// first.
std::vector<Section> listed_sections(const Call &call, const Document &document) {
    std::vector<Section> sections;
    const std::vector<std::string> &names = document.sections();
    if (call.operands.size() > 1) {
        const std::vector<int> named = document.sections_named(call.section(), call.ignore_case);
        if (!named.empty())
            sections.push_back({call.section(), listed_keys(document, named, call.ignore_case)});
        return sections;
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        sections.push_back(
            {names[i], listed_keys(document, {static_cast<int>(i)}, call.ignore_case)});
    return sections;
}

// A value printed as text: one with a zero byte would be cut.
const std::string &text_value(const Call &call, const Listed &key) {
    if (key.value.find('\0') != std::string::npos)
        fail(exit_usage, call.file() + ":" + std::to_string(key.number),
             key.key + ": the value holds a zero byte; --format json shows it");
    return key.value;
}

// "KEY":"VALUE", and null for the value of a key without one (git's is
// true).
std::string json_member(const Call &call, const Listed &key) {
    const bool null = !key.has_value && call.dialect() != Dialect::git;
    return json_string(key.key) + ":" + (null ? "null" : json_string(key.value));
}

void print_json(const Call &call, const std::vector<Section> &sections) {
    std::string json = "{";
    for (const Section &section : sections) {
        const bool is_preamble = section.name == preamble;
        if (is_preamble && section.keys.empty())
            continue;
        if (section.name.empty()) {
            warn(call.file(), "the section [] is left out: \"\" is the preamble");
            continue;
        }
        json += (json.size() > 1 ? "," : "") + json_string(is_preamble ? "" : section.name) + ":{";
        for (std::size_t i = 0; i < section.keys.size(); ++i)
            json += (i > 0 ? "," : "") + json_member(call, section.keys[i]);
        json += "}";
    }
    out(json + "}\n");
}

// KEY='VALUE' lines for eval, the names with the --prefix: names the shell
// cannot assign and names of the environment are left out, with a warning.
void print_shell(const Call &call, const Section &section) {
    for (const Listed &key : section.keys) {
        const std::string name = call.prefix + key.key;
        const std::string where = setting_name(section.name, key.key);
        if (!shell_name(name))
            warn(call.file(), where + ": not a shell name, left out");
        else if (environment_name(name))
            warn(call.file(), where + ": " + name + " is an environment-style name, left out");
        else
            out(name + "=" + shell_quoted(text_value(call, key)) + "\n");
    }
}

int run_sections(const Call &call) {
    const Document document = read_document(call);
    print_items(call, {document.sections().begin() + 1, document.sections().end()});
    return exit_done;
}

int run_keys(const Call &call) {
    const Document document = read_document(call);
    const std::vector<int> sections = document.sections_named(call.section(), call.ignore_case);
    if (sections.empty())
        return exit_not_found;
    std::vector<std::string> names;
    for (const Listed &key : listed_keys(document, sections, call.ignore_case))
        names.push_back(key.key);
    print_items(call, names);
    return exit_done;
}

int run_list(const Call &call) {
    const bool shell = call.format == Format::sh;
    if (shell && call.operands.size() < 2)
        usage_error("list --format sh needs a SECTION");
    if (!call.prefix.empty() && !shell)
        usage_error("--prefix goes with --format sh");
    if (!call.prefix.empty() && !shell_name(call.prefix))
        usage_error("the prefix " + call.prefix + " does not start a shell name");
    const Document document = read_document(call);
    const std::vector<Section> sections = listed_sections(call, document);
    if (sections.empty())
        return exit_not_found;
    if (call.format == Format::json)
        print_json(call, sections);
    else if (shell)
        print_shell(call, sections[0]);
    else
        for (const Section &section : sections)
            for (const Listed &key : section.keys)
                out(section.name + "." + key.key +
                    (key.has_value ? "=" + text_value(call, key) : std::string()) + "\n");
    return exit_done;
}

constexpr unsigned lists = format_bit(Format::lines) | format_bit(Format::json);

} // namespace

const Command keys_command = {
    "keys",
    "FILE SECTION",
    bit(Opt::ignore_case),
    0,
    lists,
    "print the keys of SECTION",
    "Prints each key of SECTION once, in the order they first appear, in all\n"
    "its parts: the keys get can read, comments left out. Status 1 if the\n"
    "section is missing.",
    run_keys};

const Command sections_command = {"sections",
                                  "FILE",
                                  0,
                                  0,
                                  lists,
                                  "print the section names",
                                  "Prints each section name once, in file order.",
                                  run_sections};

const Command list_command = {
    "list",
    "FILE [SECTION]",
    bit(Opt::prefix) | bit(Opt::ignore_case),
    0,
    lists | format_bit(Format::sh),
    "print the keys and values of the file or of SECTION",
    "Prints the keys of the file, or of SECTION, each once with the value get\n"
    "reads, in the order they first appear; comments are left out (see\n"
    "Output): a git file's as git config --list names them. Status 1 if\n"
    "SECTION is missing.",
    run_list};

} // namespace tool
