// The options: their table, which commands take them, and the reading of
// a command's arguments. Options stand anywhere; -- ends them.
#include "tool.h"

#include <algorithm>

namespace tool {

namespace {

const OptionInfo options[] = {
    {Opt::type, "type", "TYPE", "read or write the value as TYPE (see Numbers)"},
    {Opt::default_value, "default", "VALUE",
     "print VALUE when the key, its section or the file is missing"},
    {Opt::format, "format", "FORMAT", "print lines (the default), json or, with list, sh"},
    {Opt::prefix, "prefix", "PREFIX", "with --format sh: put PREFIX before each name"},
    {Opt::all, "all", nullptr, "every copy of a repeated key (get, del) or section (del)"},
    {Opt::verbose, "verbose", nullptr, "say changed or unchanged on standard error"},
    {Opt::check, "check", nullptr, "write nothing; status 0 if it would change the file, 1 if not"},
};

bool listed(const char *list, std::string_view word) {
    for (std::string_view rest = list != nullptr ? list : ""; !rest.empty();) {
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (rest.substr(0, end) == word)
            return true;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return false;
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

void set_option(Call &call, Opt id, const std::string &value) {
    const Command &command = call.command;
    switch (id) {
    case Opt::type:
        if (!listed(command.types, value))
            usage_error(std::string(command.name) + " takes no --type " + value);
        call.type = value;
        break;
    case Opt::format:
        if (!listed(command.formats, value))
            usage_error(std::string(command.name) + " takes no --format " + value);
        call.format = value;
        break;
    case Opt::default_value:
        call.default_value = value;
        break;
    case Opt::prefix:
        call.prefix = value;
        break;
    case Opt::all:
        call.all = true;
        break;
    case Opt::verbose:
        call.verbose = true;
        break;
    case Opt::check:
        call.check = true;
        break;
    }
}

// Takes the option `word` (--name or --name=value), and its value from the
// next word where it takes one; returns the words used.
std::size_t take_option(Call &call, const std::string &word, const std::string *next) {
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const OptionInfo *option =
        name.size() > 2 ? find_option(std::string_view(name).substr(2)) : nullptr;
    if (option == nullptr)
        usage_error("unknown option '" + word + "' (put -- before values that start with -)");
    if (!takes(call.command, option->id))
        usage_error(std::string(call.command.name) + " takes no " + name);
    if (option->value == nullptr) {
        if (equals != std::string::npos)
            usage_error(name + " takes no value");
        set_option(call, option->id, "");
        return 1;
    }
    if (equals != std::string::npos) {
        set_option(call, option->id, word.substr(equals + 1));
        return 1;
    }
    if (next == nullptr)
        usage_error(name + " needs a value");
    set_option(call, option->id, *next);
    return 2;
}

void check_operands(const Call &call) {
    std::size_t required = 0, allowed = 0;
    for (std::string_view rest = call.command.operands; !rest.empty();) {
        ++allowed;
        required += rest[0] != '[';
        rest.remove_prefix(std::min(rest.find(' '), rest.size() - 1) + 1);
    }
    if (call.args.size() < required || call.args.size() > allowed)
        usage_error("usage: " + synopsis(call.command));
}

} // namespace

Table<OptionInfo> option_table() {
    return {std::begin(options), std::end(options)};
}

bool takes(const Command &command, Opt id) {
    switch (id) {
    case Opt::type:
        return command.types != nullptr;
    case Opt::format:
        return command.formats != nullptr;
    case Opt::verbose:
    case Opt::check:
        return command.use != Use::read;
    case Opt::default_value:
    case Opt::prefix:
    case Opt::all:
        break;
    }
    return (command.extras & bit(id)) != 0;
}

bool read_options(Call &call, const std::vector<std::string> &words) {
    bool ended = false;
    for (std::size_t i = 0; i < words.size();) {
        const std::string &word = words[i];
        if (ended || operand(word)) {
            call.args.push_back(word);
            ++i;
        } else if (word == "--") {
            ended = true;
            ++i;
        } else if (word == "-h" || word == "--help") {
            print_command_help(call.command);
            return false;
        } else {
            i += take_option(call, word, i + 1 < words.size() ? &words[i + 1] : nullptr);
        }
    }
    check_operands(call);
    return true;
}

} // namespace tool
