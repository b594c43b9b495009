#include "help.h"

#include "iniplace_version.h"
#include "journal.h"
#include "options.h"
#include "output.h"

#include <algorithm>
#include <cstdio>

namespace tool {

namespace {

// The general options every command takes, and the end of the options.
const std::pair<const char *, const char *> general_options[] = {
    {"--help, -h", "print this help, or with a COMMAND its help"},
    {"--version", "print the version and the build"},
    {"--", "end the options: later arguments are taken as they are, even\n"
           "when they start with -: iniplace set f.ini net n -- --x"},
};

std::string option_synopsis(const Command &command, const OptionInfo &option) {
    std::string text = std::string("--") + option.name;
    if (option.id == Opt::type)
        return text + " " + type_names(command.types, "|");
    if (option.id == Opt::format)
        return text + " " + format_names(command.formats, "|");
    return option.value != nullptr ? text + " " + option.value : text;
}

std::string indented(std::string_view text, std::size_t width) {
    std::string result;
    const std::string margin(width, ' ');
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        result += margin + std::string(text.substr(start, end - start)) + "\n";
        start = end + 1;
    }
    return result;
}

std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size() + 1, width), ' ');
    return text;
}

std::string option_help(const OptionInfo &option) {
    std::string name = std::string("--") + option.name;
    return padded(option.value != nullptr ? name + " " + option.value : name, 20) + option.help;
}

std::string command_list() {
    std::string text;
    for (const Command *command : command_table())
        text += "  " + padded(std::string(command->name) + " " + command->operands, 30) +
                command->summary + "\n";
    return text;
}

// Text for roff: backslashes and minus signs escaped, and a . or ' that
// starts a line kept from being read as a request.
std::string roff(std::string_view text) {
    std::string escaped;
    bool line_start = true;
    for (const char c : text) {
        if (line_start && (c == '.' || c == '\''))
            escaped += "\\&";
        escaped += c == '\\'  ? std::string("\\e")
                   : c == '-' ? std::string("\\-")
                              : std::string(1, c);
        line_start = c == '\n';
    }
    return escaped;
}

std::string upper(std::string text) {
    for (char &c : text)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

// The completion's case for one command: its operands, options and the
// values of --type and --format.
std::string completion_case(const Command &command) {
    std::string operands;
    for (const char c : std::string_view(command.operands))
        if (c != '[' && c != ']')
            operands += c;
    std::string options;
    for (const OptionInfo &option : option_table())
        if (takes(command, option.id))
            options += std::string("--") + option.name + " ";
    return std::string("    ") + command.name + ") operands='" + operands + "' options='" +
           options + "--help' types='" + type_names(command.types) + "' formats='" +
           format_names(command.formats) + "' ;;\n";
}

} // namespace

std::string version_text() {
    return std::string("iniplace ") + INIPLACE_RELEASE +
           (iniplace::durable ? " (durable build: every edit journaled)" : " (default build)");
}

std::string synopsis(const Command &command) {
    std::string text = std::string("iniplace ") + command.name;
    for (const OptionInfo &option : option_table())
        if (takes(command, option.id))
            text += " [" + option_synopsis(command, option) + "]";
    return text + " " + command.operands;
}

void print_short_usage() {
    const std::string text = "usage: iniplace [OPTIONS] COMMAND FILE [ARGS...]\n\nCommands:\n" +
                             command_list() +
                             "\n'iniplace --help' explains the commands, the options and how the "
                             "file is read;\n'iniplace COMMAND --help' one command.\n";
    std::fputs(text.c_str(), stderr);
}

void print_help() {
    std::string text = "usage: iniplace [OPTIONS] COMMAND FILE [ARGS...]\n\n" +
                       std::string(description) + "\n\nCommands:\n" + command_list();
    text += "\nOptions (see 'iniplace COMMAND --help' for which a command takes):\n";
    for (const OptionInfo &option : option_table())
        text += "  " + option_help(option) + "\n";
    for (const auto &[name, help] : general_options)
        text += "  " + padded(name, 20) + indented(help, 22).substr(22);
    for (unsigned i = 0; i < topic_count; ++i)
        if (!topics[i].manual_only)
            text += "\n" + std::string(topics[i].title) + ":\n" + indented(topics[i].body, 2);
    out(text + "\nExamples, files and known limits: see the manual page iniplace(1).\n");
}

void print_command_help(const Command &command) {
    std::string text = "usage: " + synopsis(command) + "\n\n" + command.help + "\n";
    bool heading = false;
    for (const OptionInfo &option : option_table())
        if (takes(command, option.id)) {
            text += heading ? "" : "\nOptions:\n";
            heading = true;
            text += "  " + option_help(option) + "\n";
        }
    out(text);
}

void print_manual() {
    std::string text = ".TH INIPLACE 1 \"\" \"" + roff(version_text()) +
                       "\" \"User Commands\"\n"
                       ".SH NAME\niniplace \\- read and edit INI files in place\n"
                       ".SH SYNOPSIS\n.B iniplace\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR \\fIFILE\\fR "
                       "[\\fIARGS\\fR...]\n.SH DESCRIPTION\n" +
                       roff(description) + "\n.SH COMMANDS\n";
    for (const Command *command : command_table())
        text += ".TP\n.B " + roff(synopsis(*command)) + "\n" + roff(command->help) + "\n";
    text += ".SH OPTIONS\n";
    for (const OptionInfo &option : option_table())
        text += ".TP\n.B " + roff(std::string("--") + option.name) +
                (option.value != nullptr ? std::string(" \\fI") + option.value + "\\fR" : "") +
                "\n" + roff(option.help) + "\n";
    for (const auto &[name, help] : general_options)
        text += ".TP\n.B " + roff(name) + "\n" + roff(help) + "\n";
    for (unsigned i = 0; i < topic_count; ++i) {
        const Topic &topic = topics[i];
        text += ".SH \"" + upper(topic.title) + "\"\n";
        text +=
            topic.preformatted ? ".nf\n" + roff(topic.body) + "\n.fi\n" : roff(topic.body) + "\n";
    }
    out(text);
}

// The bash completion: commands, options and their values from the tables;
// sections, keys and entries from the file named on the command line, each
// matched as plain text and quoted for the shell, never expanded or run.
void print_completion() {
    std::string names, cases, valued;
    for (const Command *command : command_table()) {
        names += std::string(command->name) + " ";
        cases += completion_case(*command);
    }
    // The options that take a value, whose value is no operand.
    for (const OptionInfo &option : option_table())
        if (option.value != nullptr)
            valued += (valued.empty() ? "--" : "|--") + std::string(option.name);
    out(R"sh(# bash completion for iniplace, made by 'iniplace --completion'
# Fills COMPREPLY with the lines of standard input that start with $cur,
# quoted for the shell: no word of a file is expanded or run.
_iniplace_lines() {
    local line
    COMPREPLY=()
    while IFS= read -r line; do
        [[ $line == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$line")")
    done
}
_iniplace() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local operands options types formats word skip= ended= file
    if [[ $cur == = ]]; then cur=; elif [[ $prev == = ]]; then prev=${COMP_WORDS[COMP_CWORD-2]}; fi
    local -a given=()
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        if [[ ! $ended && $word == = ]]; then skip=1; continue; fi
        if [[ $skip ]]; then skip=; continue; fi
        if [[ ! $ended && $word == -- ]]; then ended=1; continue; fi
        if [[ ! $ended && $word == -* && $word != -[0-9]* && $word != - ]]; then
            case $word in )sh" +
        valued + R"sh() skip=1 ;; esac
            continue
        fi
        given+=("$word")
    done
    if ((${#given[@]} == 0)); then
        mapfile -t COMPREPLY < <(compgen -W ')sh" +
        names + R"sh(--help --version' -- "$cur")
        return
    fi
    case ${given[0]} in
)sh" + cases +
        R"sh(    *) return ;;
    esac
    case $prev in
    --type) mapfile -t COMPREPLY < <(compgen -W "$types" -- "$cur"); return ;;
    --format) mapfile -t COMPREPLY < <(compgen -W "$formats" -- "$cur"); return ;;
    --dialect) mapfile -t COMPREPLY < <(compgen -W ')sh" +
        dialect_names(" ") + R"sh(' -- "$cur"); return ;;
    --default|--prefix) return ;;
    esac
    if [[ $cur == -* && $cur != -[0-9]* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options --" -- "$cur")
        return
    fi
    local -a names=($operands)
    file=${given[1]}
    [[ $file == "~/"* ]] && file=$HOME/${file:2}
    cur=${cur#[\"\']}
    case ${names[${#given[@]}-1]} in
    FILE|FRAGMENT)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    SECTION) _iniplace_lines < <("${COMP_WORDS[0]}" sections -- "$file" 2>/dev/null) ;;
    KEY) _iniplace_lines < <("${COMP_WORDS[0]}" keys -- "$file" "${given[2]}" 2>/dev/null) ;;
    ENTRY) _iniplace_lines < <("${COMP_WORDS[0]}" entries -- "$file" "${given[2]}" 2>/dev/null) ;;
    esac
}
complete -F _iniplace iniplace
)sh");
}

} // namespace tool
