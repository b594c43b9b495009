// The listings of keys: sections, keys and list, in lines, for the shell
// or as JSON.
#include "locked_file.h"
#include "output.h"
#include "reading.h"

namespace tool {

using namespace iniplace;

namespace {

struct Section {
    std::string name;
    KeyLines keys;
};

// The sections `call` lists (all, or the one named), with their keys.
std::vector<Section> read_sections(const Call &call) {
    const bool one = call.args.size() > 1;
    const auto wanted = [&](std::string_view name) { return !one || call.args[1] == name; };
    LockedFile locked;
    open_for_reading(locked, call.file());
    Reader reader(locked.file(), call.file());
    std::vector<Section> sections;
    if (wanted(wildcard))
        sections.push_back({std::string(wildcard), {}});
    bool current = !sections.empty();
    reader.walk([&](const FileLine &line) {
        if (!line.header) {
            if (current)
                sections.back().keys.add(reader, line);
            return true;
        }
        if (current && one)
            return false;
        current = line.section != nullptr && wanted(*line.section);
        if (current)
            sections.push_back({*line.section, {}});
        return true;
    });
    return sections;
}

void print_json(const Call &call, const std::vector<Section> &sections) {
    std::string json = "{";
    for (const Section &section : sections) {
        const bool preamble = is_wildcard(section.name);
        if (preamble && section.keys.lines().empty())
            continue;
        if (section.name.empty()) {
            warn(call.file(), "the section [] is left out: \"\" is the preamble");
            continue;
        }
        json += (json.size() > 1 ? "," : "") + json_string(preamble ? "" : section.name) + ":{";
        const std::vector<KeyLine> &lines = section.keys.lines();
        for (std::size_t i = 0; i < lines.size(); ++i)
            json +=
                (i > 0 ? "," : "") + json_string(lines[i].key) + ":" + json_string(lines[i].value);
        json += "}";
    }
    out(json + "}\n");
}

// KEY='VALUE' lines for eval, the names with the --prefix: names the shell
// cannot assign and names of the environment are left out, with a warning.
void print_shell(const Call &call, const Section &section) {
    for (const KeyLine &line : section.keys.lines()) {
        const std::string name = call.prefix + line.key;
        const std::string where = "[" + section.name + "] " + line.key;
        if (!shell_name(name))
            warn(call.file(), where + ": not a shell name, left out");
        else if (environment_name(name))
            warn(call.file(), where + ": " + name + " is an environment-style name, left out");
        else
            out(name + "=" + shell_quoted(line.value) + "\n");
    }
}

} // namespace

int cmd_sections(const Call &call) {
    LockedFile locked;
    open_for_reading(locked, call.file());
    Reader reader(locked.file(), call.file());
    std::vector<std::string> names;
    reader.walk([&](const FileLine &line) {
        if (line.header && line.section != nullptr)
            names.push_back(*line.section);
        return true;
    });
    print_items(call, names);
    return exit_done;
}

int cmd_keys(const Call &call) {
    LockedFile locked;
    open_for_reading(locked, call.file());
    Reader reader(locked.file(), call.file());
    KeyLines keys;
    if (!reader.walk_section(call.args[1], [&](const FileLine &line) { keys.add(reader, line); }))
        return exit_not_found;
    std::vector<std::string> names;
    for (const KeyLine &line : keys.lines())
        names.push_back(line.key);
    print_items(call, names);
    return exit_done;
}

int cmd_list(const Call &call) {
    const bool shell = call.format == "sh";
    if (shell && call.args.size() < 2)
        usage_error("list --format sh needs a SECTION");
    if (!call.prefix.empty() && !shell)
        usage_error("--prefix goes with --format sh");
    if (!call.prefix.empty() && !shell_name(call.prefix))
        usage_error("the prefix " + call.prefix + " does not start a shell name");
    const std::vector<Section> sections = read_sections(call);
    if (sections.empty())
        return exit_not_found;
    if (call.format == "json")
        print_json(call, sections);
    else if (shell)
        print_shell(call, sections[0]);
    else
        for (const Section &section : sections)
            for (const KeyLine &line : section.keys.lines())
                out(section.name + "." + line.key + "=" + line.value + "\n");
    return exit_done;
}

} // namespace tool
