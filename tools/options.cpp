#include "options.h"

#include <algorithm>

namespace tool {

namespace {

const OptionInfo options[] = {
    {Opt::type, "type", "TYPE", "read or write the value as TYPE (see Numbers)"},
    {Opt::default_value, "default", "VALUE",
     "print VALUE when the key, its section or the file is missing"},
    {Opt::format, "format", "FORMAT", "print lines (the default), json or, with list, sh"},
    {Opt::prefix, "prefix", "PREFIX", "with --format sh: put PREFIX before each name"},
    {Opt::all, "all", nullptr, "every line of a key that stands on several (get, set, del)"},
    {Opt::ignore_case, "ignore-case", nullptr,
     "match section and key names without regard to ASCII case"},
    {Opt::verbose, "verbose", nullptr, "say changed, would change or unchanged on standard error"},
    {Opt::check, "check", nullptr, "write nothing; status 0 if it would change the file, 1 if not"},
    {Opt::diff, "diff", nullptr, "print what the edit changes as a unified diff"},
    {Opt::dialect, "dialect", "DIALECT",
     "read FILE as configparser, systemd or git reads it (see Dialects)"},
};

const char *const type_words[] = {"text", "string", "long", "ulong", "hex", "bin"};
const char *const format_words[] = {"lines", "sh", "json"};

template <std::size_t N>
std::string names(const char *const (&words)[N], unsigned bits, const char *joint) {
    std::string text;
    for (std::size_t i = 0; i < N; ++i)
        if (bits & (1u << i))
            text += (text.empty() ? "" : joint) + std::string(words[i]);
    return text;
}

template <std::size_t N> int index_of(const char *const (&words)[N], std::string_view word) {
    for (std::size_t i = 0; i < N; ++i)
        if (word == words[i])
            return static_cast<int>(i);
    return -1;
}

const OptionInfo *find_option(std::string_view name) {
    for (const OptionInfo &option : options)
        if (name == option.name)
            return &option;
    return nullptr;
}

// An operand, though it starts with -: standard input, or a number.
bool operand(std::string_view word) {
    return word.size() < 2 || word[0] != '-' || (word[1] >= '0' && word[1] <= '9');
}

// An option as given: its entry and its value.
struct Given {
    const OptionInfo *option;
    std::string value;
    std::string word; // as written, for messages
};

// The options that set a flag of the call.
const std::pair<Opt, bool Call::*> flags[] = {{Opt::all, &Call::all},
                                              {Opt::ignore_case, &Call::ignore_case},
                                              {Opt::verbose, &Call::verbose},
                                              {Opt::check, &Call::check},
                                              {Opt::diff, &Call::diff}};

void set_option(Call &call, const Given &given) {
    const Command &command = *call.command;
    const std::string name = std::string("--") + given.option->name;
    if (!takes(command, given.option->id))
        usage_error(std::string(command.name) + " takes no " + name);
    switch (given.option->id) {
    case Opt::type: {
        const int type = index_of(type_words, given.value);
        if (type < 0 || (command.types & (1u << type)) == 0)
            usage_error(std::string(command.name) + " takes no --type " + given.value);
        call.type = static_cast<Type>(type);
        break;
    }
    case Opt::format: {
        const int format = index_of(format_words, given.value);
        if (format < 0 || (command.formats & (1u << format)) == 0)
            usage_error(std::string(command.name) + " takes no --format " + given.value);
        call.format = static_cast<Format>(format);
        break;
    }
    case Opt::default_value:
        call.default_value = given.value;
        break;
    case Opt::prefix:
        call.prefix = given.value;
        break;
    default: // a flag
        for (const auto &[id, flag] : flags)
            if (id == given.option->id)
                call.*flag = true;
        break;
    case Opt::dialect:
        call.given_dialect = dialect_named(given.value);
        if (!call.given_dialect)
            usage_error("--dialect takes " + dialect_names(", ") + ", not " + given.value);
        break;
    }
}

// Reads the option `word` (--name or --name=value), with its value from
// `next` where it takes one; returns the words used.
std::size_t read_option(const std::string &word, const std::string *next,
                        std::vector<Given> &given) {
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const OptionInfo *option =
        name.size() > 2 && name[1] == '-' ? find_option(name.substr(2)) : nullptr;
    if (option == nullptr)
        usage_error("unknown option '" + word + "' (put -- before values that start with -)");
    if (option->value == nullptr) {
        if (equals != std::string::npos)
            usage_error(name + " takes no value");
        given.push_back({option, "", word});
        return 1;
    }
    if (equals != std::string::npos) {
        given.push_back({option, word.substr(equals + 1), word});
        return 1;
    }
    if (next == nullptr)
        usage_error(name + " needs a value");
    given.push_back({option, *next, word});
    return 2;
}

void check_operands(const Call &call) {
    std::size_t required = 0, allowed = 0;
    for (std::string_view rest = call.command->operands; !rest.empty();) {
        ++allowed;
        required += rest[0] != '[';
        rest.remove_prefix(std::min(rest.find(' '), rest.size() - 1) + 1);
    }
    if (call.operands.size() < required || call.operands.size() > allowed)
        usage_error(std::string("usage: iniplace ") + call.command->name + " [OPTIONS] " +
                    call.command->operands);
    if (call.operands[0].empty())
        usage_error("the FILE name is empty");
}

// The action a word of its own asks for, or none.
Action action_of(std::string_view word) {
    if (word == "-h" || word == "--help")
        return Action::help;
    if (word == "--version")
        return Action::version;
    if (word == "--manual")
        return Action::manual;
    return word == "--completion" ? Action::completion : Action::run;
}

} // namespace

OptionTable option_table() {
    return {std::begin(options), std::end(options)};
}

bool takes(const Command &command, Opt id) {
    // Every command reads a file.
    if (id == Opt::dialect)
        return true;
    if (id == Opt::type)
        return command.types != 0;
    if (id == Opt::format)
        return command.formats != 0;
    return (command.options & bit(id)) != 0;
}

std::optional<Type> type_named(std::string_view name) {
    const int type = index_of(type_words, name);
    return type < 0 ? std::nullopt : std::optional<Type>(static_cast<Type>(type));
}

std::string type_names(unsigned bits, const char *joint) {
    return names(type_words, bits, joint);
}

std::string format_names(unsigned bits, const char *joint) {
    return names(format_words, bits, joint);
}

namespace {

// Sorts the words into options, operands and the action asked for.
Action sort_words(const std::vector<std::string> &words, std::vector<Given> &given,
                  std::vector<std::string> &operands) {
    Action asked = Action::run;
    bool ended = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        const Action action = ended ? Action::run : action_of(word);
        if (asked == Action::run)
            asked = action;
        if (ended || operand(word))
            operands.push_back(word);
        else if (word == "--")
            ended = true;
        else if (action == Action::run)
            i += read_option(word, i + 1 < words.size() ? &words[i + 1] : nullptr, given) - 1;
    }
    // help COMMAND is COMMAND --help.
    if (!operands.empty() && operands[0] == "help") {
        asked = Action::help;
        operands.erase(operands.begin());
    }
    return asked;
}

} // namespace

Request read_command_line(const std::vector<std::string> &words) {
    Request request;
    std::vector<Given> given;
    std::vector<std::string> operands;
    request.action = sort_words(words, given, operands);
    if (!operands.empty() && (request.call.command = find_command(operands[0])) == nullptr)
        usage_error("unknown command '" + operands[0] + "'");
    if (request.action != Action::run)
        return request;
    if (request.call.command == nullptr) {
        request.action = Action::usage;
        return request;
    }
    request.call.operands.assign(operands.begin() + 1, operands.end());
    for (const Given &option : given)
        set_option(request.call, option);
    check_operands(request.call);
    return request;
}

} // namespace tool
