// A task's arguments, read from the JSON object Ansible gives a module and
// taken as Ansible's own modules take them: strings, booleans and paths.
#include "module_arguments.h"

#include "files.h"
#include "quoting.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace tool {

void refuse(const std::string &message) {
    fail(exit_usage, "", message);
}

namespace {

const char *const known[] = {"path",   "section", "option", "value",      "state",
                             "create", "entries", "type",   "ignore_case"};

std::string known_names() {
    std::string names;
    for (const char *name : known)
        names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

// A JSON value as the text a string argument takes, as Ansible's modules
// convert it: strings as they are, numbers as the controller wrote them
// (read as strings, so 1.05 stays 1.05 and no integer is too large),
// booleans as True and False, null as none.
std::optional<std::string> text_of(const char *name, const rapidjson::Value &value) {
    if (value.IsNull())
        return std::nullopt;
    if (value.IsString())
        return std::string(value.GetString(), value.GetStringLength());
    if (value.IsBool())
        return value.GetBool() ? "True" : "False";
    refuse(std::string("argument ") + name + " must be a string");
}

// A flag, as Ansible reads a boolean: the words in any case, 1 and 0.
bool flag_of(const char *name, const rapidjson::Value &value) {
    if (value.IsBool())
        return value.GetBool();
    const std::string text = folded(text_of(name, value).value_or(""));
    for (const char *yes : {"yes", "y", "true", "t", "on", "1"})
        if (text == yes)
            return true;
    for (const char *no : {"no", "n", "false", "f", "off", "0"})
        if (text == no)
            return false;
    refuse(std::string("argument ") + name + " must be a boolean");
}

// The variable at `dollar` of `path`, $NAME or ${NAME}: where it ends, and
// its value if it is set (none for a $ that starts no name).
struct Variable {
    std::size_t end;
    const char *value = nullptr;
};

Variable variable_at(const std::string &path, std::size_t dollar) {
    const bool braced = path.compare(dollar, 2, "${") == 0;
    const std::size_t name_start = dollar + (braced ? 2 : 1);
    std::size_t name_end = braced ? std::min(path.find('}', name_start), path.size()) : name_start;
    while (!braced && name_end < path.size() && shell_name_byte(path[name_end]))
        ++name_end;
    if ((braced && name_end == path.size()) || (!braced && name_end == name_start))
        return {dollar + 1};
    const std::size_t end = name_end + (braced ? 1 : 0);
    if (name_end == name_start)
        return {end};
    return {end, std::getenv(path.substr(name_start, name_end - name_start).c_str())};
}

// The environment's variables in a path, $NAME and ${NAME}, each one that
// is set replaced by its value; the others stay as they stand, and what
// they hold is not looked at again.
std::string variables_expanded(const std::string &path) {
    std::string expanded;
    std::size_t at = 0;
    for (std::size_t dollar; (dollar = path.find('$', at)) != std::string::npos;) {
        const Variable variable = variable_at(path, dollar);
        expanded.append(path, at, dollar - at);
        if (variable.value == nullptr)
            expanded.append(path, dollar, variable.end - dollar);
        else
            expanded += variable.value;
        at = variable.end;
    }
    return expanded.append(path, at);
}

// A path as Ansible's modules take one (type path): variables expanded,
// then ~ or ~USER at its start made the home directory, whose final
// slashes go; a user or home that cannot be found leaves the path as it is.
std::string path_expanded(const std::string &given) {
    const std::string path = variables_expanded(given);
    if (path.empty() || path[0] != '~')
        return path;
    const std::size_t slash = std::min(path.find('/'), path.size());
    const std::string user = path.substr(1, slash - 1);
    const char *home = user.empty() ? std::getenv("HOME") : nullptr;
    if (home == nullptr) {
        const passwd *entry = user.empty() ? getpwuid(getuid()) : getpwnam(user.c_str());
        if (entry == nullptr)
            return path;
        home = entry->pw_dir;
    }
    std::string expanded(home);
    while (!expanded.empty() && expanded.back() == '/')
        expanded.pop_back();
    expanded += path.substr(slash);
    return expanded.empty() ? "/" : expanded;
}

// The arguments that are plain texts or flags, and the fields they fill.
const std::pair<const char *, std::optional<std::string> Task::*> text_arguments[] = {
    {"option", &Task::option}, {"value", &Task::value}, {"type", &Task::type}};
const std::pair<const char *, bool Task::*> flag_arguments[] = {
    {"create", &Task::create},
    {"ignore_case", &Task::ignore_case},
    {"_ansible_check_mode", &Task::check},
    {"_ansible_diff", &Task::diff}};

// Whether the state asked for is present (else absent).
bool present_of(const rapidjson::Value &value) {
    const std::optional<std::string> state = text_of("state", value);
    if (state != "present" && state != "absent")
        refuse("argument state must be present or absent, not " + state.value_or("null"));
    return state == "present";
}

std::vector<std::string> entries_of(const rapidjson::Value &value) {
    if (!value.IsArray())
        refuse("argument entries must be a list");
    std::vector<std::string> entries;
    for (const rapidjson::Value &entry : value.GetArray())
        entries.push_back(text_of("entries", entry).value_or(""));
    return entries;
}

void take(Task &task, std::string_view name, const rapidjson::Value &value) {
    for (const auto &[argument, field] : text_arguments)
        if (name == argument)
            task.*field = text_of(argument, value);
    for (const auto &[argument, field] : flag_arguments)
        if (name == argument)
            task.*field = flag_of(argument, value);
    if (name == "path")
        task.path = path_expanded(text_of("path", value).value_or(""));
    else if (name == "section")
        task.section = text_of("section", value).value_or(std::string(preamble));
    else if (name == "state")
        task.present = present_of(value);
    else if (name == "entries") {
        task.entries = entries_of(value);
        task.entries_given = true;
    }
}

// What is missing from a task, or in conflict in it; empty when nothing.
std::string conflict_in(const Task &task) {
    if (task.path.empty() || !task.section)
        return std::string("missing required arguments: ") +
               (task.path.empty() ? task.section ? "path" : "path, section" : "section");
    if (task.path == "-")
        return "path - names no file";
    if (task.option && task.entries_given)
        return "parameters are mutually exclusive: option, entries";
    if (task.value && !task.option)
        return "value needs an option";
    if (task.option && task.present && !task.value)
        return "state is present but all of the following are missing: value";
    return "";
}

// Refuses an argument that holds a zero byte, which a command line cannot.
void refuse_zero_bytes(const Task &task) {
    const auto holds = [](const std::optional<std::string> &text) {
        return text && text->find('\0') != std::string::npos;
    };
    if (holds(task.path) || holds(task.section) || holds(task.option) || holds(task.value) ||
        std::any_of(task.entries.begin(), task.entries.end(), holds))
        refuse("an argument holds a zero byte");
}

} // namespace

// Reads the task's arguments; names what is unknown, missing or in
// conflict.
Task read_task(const std::string &file) {
    const std::string text = read_input(file);
    rapidjson::Document json;
    json.Parse<rapidjson::kParseNumbersAsStringsFlag>(text.data(), text.size());
    if (json.HasParseError() || !json.IsObject())
        refuse(input_name(file) + ": not a JSON object of module arguments: " +
               rapidjson::GetParseError_En(json.GetParseError()));
    Task task;
    std::string unknown;
    for (const auto &member : json.GetObject()) {
        const std::string name(member.name.GetString(), member.name.GetStringLength());
        const bool ours = std::find(std::begin(known), std::end(known), name) != std::end(known);
        if (!ours && !starts_with(name, "_ansible_"))
            unknown += (unknown.empty() ? "" : ", ") + name;
        take(task, name, member.value);
    }
    if (!unknown.empty())
        refuse("unsupported parameters: " + unknown + "; supported: " + known_names());
    if (const std::string conflict = conflict_in(task); !conflict.empty())
        refuse(conflict);
    refuse_zero_bytes(task);
    return task;
}

} // namespace tool
