// The tool as an Ansible module. Ansible runs a binary module with one
// argument, a file holding the task's arguments as a JSON object, and reads
// one JSON object from its standard output. The tool takes a single
// argument that is neither an option nor a command for such a file (the
// collection's action plugin gives the module program `-`, the arguments
// on standard input): it edits as the commands do, with the task's check
// and diff modes, takes arguments as Ansible's own modules take them, and
// replies whatever the file holds in valid JSON, in the module's words.
#include "module.h"

#include "driver.h"
#include "files.h"
#include "io.h"
#include "options.h"
#include "output.h"
#include "values.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>

namespace tool {

namespace {

// The arguments of a task, as the INI module of Ansible names them.
struct Task {
    std::string path;
    std::optional<std::string> section, option, value, type;
    std::vector<std::string> entries;
    bool present = true, create = true, ignore_case = false, entries_given = false;
    bool check = false, diff = false;
};

const char *const known[] = {"path",   "section", "option", "value",      "state",
                             "create", "entries", "type",   "ignore_case"};

[[noreturn]] void refuse(const std::string &message) {
    throw Failure{exit_usage, "", message};
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
        if (!ours && name.rfind("_ansible_", 0) != 0)
            unknown += (unknown.empty() ? "" : ", ") + name;
        take(task, name, member.value);
    }
    if (!unknown.empty())
        refuse("unsupported parameters: " + unknown +
               "; supported: path, section, option, "
               "value, state, create, entries, type, ignore_case");
    if (const std::string conflict = conflict_in(task); !conflict.empty())
        refuse(conflict);
    return task;
}

// The call the task makes, as the command line would give it.
Call call_for(const Task &task, const Command &command) {
    Call call;
    call.command = &command;
    call.operands = {task.path, *task.section};
    if (task.option)
        call.operands.push_back(*task.option);
    if (task.value)
        call.operands.push_back(*task.value);
    if (task.type) {
        const std::optional<Type> type = type_named(*task.type);
        if (!type || (command.types & type_bit(*type)) == 0)
            refuse("argument type must be one of: " + type_names(command.types, ", "));
        call.type = *type;
    }
    call.ignore_case = task.ignore_case;
    call.check = task.check;
    call.diff = task.diff;
    return call;
}

// What the task asks the file to be.
std::vector<Change> changes_of(const Task &task, const std::string &value) {
    using Kind = Change::Kind;
    const std::string &section = *task.section;
    if (task.option)
        return {task.present ? Change{Kind::set, section, *task.option, value}
                             : Change{Kind::remove_key, section, *task.option, "", true}};
    if (!task.entries_given)
        return {{task.present ? Kind::make_section : Kind::remove_section, section}};
    std::vector<Change> changes;
    for (const std::string &entry : task.entries)
        changes.push_back({task.present ? Kind::add : Kind::remove_entry, section, entry});
    return changes;
}

// Refuses an argument that holds a zero byte, which a command line cannot.
void refuse_zero_bytes(const Task &task, const std::string &value) {
    std::vector<std::string_view> texts = {task.path, *task.section, value};
    texts.insert(texts.end(), task.entries.begin(), task.entries.end());
    if (task.option)
        texts.push_back(*task.option);
    for (const std::string_view text : texts)
        if (text.find('\0') != std::string_view::npos)
            refuse("an argument holds a zero byte");
}

// The tool's words for its operands and options, and the module's.
const std::pair<std::string_view, std::string_view> module_words[] = {
    {"; --all sets every one",
     "; the module sets a key of one line: state=absent deletes them all"},
    {"the key must", "option must"},
    {"the value ", "value "},
    {"the entry must", "each of entries must"},
    {"the section must", "section must"},
};

// A failure's message as the module says it.
std::string module_message(const Failure &failure) {
    std::string message =
        failure.file.empty() ? failure.message : failure.file + ": " + failure.message;
    for (const auto &[tool_words, words] : module_words)
        if (const std::size_t at = message.find(tool_words); at != std::string::npos)
            message.replace(at, tool_words.size(), words);
    return message;
}

std::string failed(const std::string &message) {
    return "{\"failed\":true,\"changed\":false,\"msg\":" + json_string(message) + "}\n";
}

std::string reply(const Task &task, const EditResult &result) {
    std::string json =
        std::string("{\"changed\":") + (result.changed ? "true" : "false") +
        ",\"path\":" + json_string(task.path) + ",\"msg\":" +
        json_string(result.changed ? task.check ? "would change" : "changed" : "unchanged");
    if (task.diff)
        json += ",\"diff\":{\"before\":" + json_string(result.before) +
                ",\"after\":" + json_string(result.after) +
                ",\"before_header\":" + json_string(task.path + " (before)") +
                ",\"after_header\":" + json_string(task.path + " (after)") + "}";
    return json + "}\n";
}

} // namespace

bool runs_as_module(const std::vector<std::string> &words) {
    if (words.size() != 1 || words[0].empty() || words[0][0] == '-' ||
        find_command(words[0]) != nullptr || words[0] == "help")
        return false;
    // The file Ansible gives holds a JSON object. A name that cannot be
    // opened or read is no such file: the word is a command, unknown.
    iniplace::Descriptor fd;
    char start[256];
    std::size_t got = 0;
    if (!iniplace::io::open(words[0].c_str(), iniplace::Open::read, fd).ok() ||
        !iniplace::io::read_on(fd.get(), start, sizeof start, got).ok())
        return false;
    const std::string_view text(start, got);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && text[first] == '{';
}

int run_module(const std::string &arguments) {
    try {
        const Task task = read_task(arguments);
        Call call = call_for(task, set_command);
        const std::string value =
            task.option && task.present ? typed_value(call) : task.value.value_or("");
        refuse_zero_bytes(task, value);
        const bool creates = task.present && task.create;
        std::string text;
        if (task.present && !task.create && !read_file(call, text, true))
            refuse(task.path + " does not exist, and create is false");
        const EditResult result =
            run_edit(call, creates ? Creates::yes : Creates::no, changes_of(task, value));
        out(reply(task, result));
        return exit_done;
    } catch (const Failure &failure) {
        out(failed(module_message(failure)));
    } catch (const std::bad_alloc &) {
        out(failed("out of memory"));
    } catch (const std::exception &error) {
        out(failed(error.what()));
    }
    return 1;
}

} // namespace tool
