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
#include "module_arguments.h"
#include "options.h"
#include "output.h"
#include "quoting.h"
#include "values.h"

#include <exception>

namespace tool {

namespace {

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
std::vector<Intent> intents_of(const Task &task, const std::string &value) {
    using Kind = Intent::Kind;
    const std::string &section = *task.section;
    if (task.option)
        return {task.present ? Intent{Kind::set, section, *task.option, value}
                             : Intent{Kind::remove_key, section, *task.option, "", true}};
    if (!task.entries_given)
        return {{task.present ? Kind::make_section : Kind::remove_section, section}};
    std::vector<Intent> intents;
    for (const std::string &entry : task.entries)
        intents.push_back({task.present ? Kind::add : Kind::remove_entry, section, entry});
    return intents;
}

// The tool's words for its operands and options, and the module's: where
// a message's reason starts (after "[section] key: "), or, for an option
// named at its end, there. A test of every failure's words keeps them tied
// to the messages they stand in.
const std::pair<std::string_view, std::string_view> module_words[] = {
    {"; --all sets every one",
     "; the module sets a key of one line: state=absent deletes them all"},
    {"the key must", "option must"},
    {"the value ", "value "},
    {"the entry must", "each of entries must"},
    {"the section must", "section must"},
};

// Where `words` stand in `message` to be reworded: after ": " (a reason,
// after the setting it names), or at its end (an option); npos where they
// do not.
std::size_t reworded_at(std::string_view message, std::string_view words) {
    if (words[0] == ';')
        return ends_with(message, words) ? message.size() - words.size() : std::string::npos;
    const std::size_t at = message.find(": " + std::string(words));
    return at == std::string::npos ? at : at + 2;
}

// A failure's message as the module says it; the file's name as it is.
std::string module_message(const Failure &failure) {
    std::string message = failure.message;
    for (const auto &[tool_words, words] : module_words)
        if (const std::size_t at = reworded_at(message, tool_words); at != std::string::npos)
            message.replace(at, tool_words.size(), words);
    return failure.file.empty() ? message : failure.file + ": " + message;
}

std::string failed(const std::string &message) {
    return "{\"failed\":true,\"changed\":false,\"msg\":" + json_string(message) + "}\n";
}

std::string reply(const Task &task, const EditResult &result) {
    std::string json = std::string("{\"changed\":") + (result.changed ? "true" : "false") +
                       ",\"path\":" + json_string(task.path) +
                       ",\"msg\":" + json_string(result.said(task.check));
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
    // opened as an input or read is no such file, nor is anything but a
    // regular file (a pipe's bytes would be gone): the word is a command,
    // unknown.
    iniplace::Descriptor fd;
    iniplace::FileInfo info;
    char start[256];
    std::size_t got = 0;
    if (!open_input(words[0], fd).ok() || !iniplace::io::stat(fd.get(), info).ok() ||
        !info.regular || !iniplace::io::read(fd.get(), start, sizeof start, 0, got).ok())
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
        const bool creates = task.present && task.create;
        const EditResult result =
            run_edit(call, creates ? Creates::yes : Creates::no, intents_of(task, value));
        if (result.missing && task.present && !task.create)
            refuse(task.path + " does not exist, and create is false");
        out(reply(task, result));
        return exit_done;
    } catch (...) {
        out(failed(module_message(caught_failure())));
    }
    return 1;
}

} // namespace tool
