// iniplace: read and edit INI files from shell scripts.
//
// Every command checks its arguments first, then opens and locks the file,
// reads it by whole lines with the library's scanner and format rules, and
// edits it through the library's plans and changes. The command table below
// is the one source of --help, the manual page and the completion.
#include "iniplace.h"
#include "io.h"
#include "output.h"

#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <new>

namespace tool {

namespace {

constexpr unsigned none = 0;

const Command commands[] = {
    {"get", "FILE SECTION KEY", Use::read, bit(Opt::default_value) | bit(Opt::all),
     "string long ulong bin", nullptr, "print the value of KEY in SECTION",
     "Prints the value of KEY in SECTION: the text after the first = of its\n"
     "key line, trimmed, whole however long the line; quotes are kept unless\n"
     "--type string. With --type long, ulong or bin the value is read as a\n"
     "number (see Numbers) and printed in decimal; a value that is no such\n"
     "number is status 2. --default VALUE is printed when the key, the section\n"
     "or the file is missing. --all prints the value of every line of KEY.",
     cmd_get},
    {"set", "FILE SECTION KEY VALUE", Use::create, none, "string long ulong hex bin", nullptr,
     "write KEY=VALUE, creating file and section",
     "Writes the line KEY=VALUE: replaces the key line get reads, or adds the\n"
     "line at the end of SECTION, or appends the section; creates FILE if\n"
     "missing. Nothing is written when get reads VALUE already. --type string\n"
     "writes the value in double quotes; long, ulong, hex and bin read VALUE\n"
     "as a number (see Numbers) and write it in decimal, as 0x and upper-case\n"
     "digits, or as 32 binary digits. Rejected input (status 2) leaves the file\n"
     "untouched.",
     cmd_set},
    {"del", "FILE SECTION [KEY]", Use::edit, bit(Opt::all), nullptr, nullptr,
     "delete a key line, or a whole section",
     "Deletes the key line get reads for KEY, or without KEY the whole\n"
     "section from its header up to the next header; --all deletes every line\n"
     "of KEY in the section, or every section of the name. Deleting what is\n"
     "not there succeeds.",
     cmd_del},
    {"keys", "FILE SECTION", Use::read, none, nullptr, "lines json", "print the keys of SECTION",
     "Prints each key of SECTION once, in file order: the keys get can read,\n"
     "comments left out. Status 1 if the section is missing.",
     cmd_keys},
    {"sections", "FILE", Use::read, none, nullptr, "lines json", "print the section names",
     "Prints each section name once, in file order.", cmd_sections},
    {"list", "FILE [SECTION]", Use::read, bit(Opt::prefix), nullptr, "lines sh json",
     "print the key lines of the file or of SECTION",
     "Prints the key lines of the file, or of SECTION, in file order: each\n"
     "key once, with the value get reads; comments are left out (see Output).\n"
     "Status 1 if SECTION is missing.",
     cmd_list},
    {"entries", "FILE SECTION", Use::read, none, nullptr, "lines json",
     "print the entries of SECTION",
     "Prints the entries of SECTION, trimmed, in file order; blank lines and\n"
     "comments are left out. Status 1 if the section is missing.",
     cmd_entries},
    {"first", "FILE SECTION", Use::read, none, nullptr, nullptr, "print the first entry of SECTION",
     "Prints the first entry of SECTION, as entries lists them.", cmd_first},
    {"has", "FILE SECTION ENTRY", Use::read, none, nullptr, nullptr,
     "succeed if SECTION holds ENTRY",
     "Succeeds (status 0) if a line of SECTION equals ENTRY, compared after\n"
     "trimming (a comment too); status 1 if not.",
     cmd_has},
    {"next", "FILE SECTION ENTRY", Use::read, none, nullptr, nullptr, "print the entry after ENTRY",
     "Prints the entry after the first one equal to ENTRY, as entries lists\n"
     "them; status 1 if there is none.",
     cmd_next},
    {"prev", "FILE SECTION ENTRY", Use::read, none, nullptr, nullptr,
     "print the entry before ENTRY",
     "Prints the entry before the first one equal to ENTRY, as entries lists\n"
     "them; status 1 if there is none.",
     cmd_prev},
    {"add", "FILE SECTION ENTRY", Use::create, none, nullptr, nullptr,
     "append ENTRY unless it is there",
     "Adds ENTRY as the last line of SECTION unless an equal line is there;\n"
     "appends the section and creates FILE if missing. A blank entry or one\n"
     "starting with [ is rejected (status 2).",
     cmd_add},
    {"remove", "FILE SECTION ENTRY", Use::edit, none, nullptr, nullptr,
     "remove the first line equal to ENTRY",
     "Removes the first line of SECTION equal to ENTRY (after trimming);\n"
     "succeeds if there is none.",
     cmd_remove},
    {"apply", "FILE [FRAGMENT]", Use::create, none, nullptr, nullptr,
     "bring FILE in line with an INI fragment",
     "Reads an INI fragment of at most 1048576 bytes from FRAGMENT, or from\n"
     "standard input when it is - or absent, and brings FILE in line with it\n"
     "under one lock: each key line is set (KEY=VALUE, the value trimmed),\n"
     "each other line added as an entry of its section unless present; blank\n"
     "lines, comments and a byte-order mark at the start are passed over. The\n"
     "whole fragment is checked first: if any line would be rejected, or goes\n"
     "to a section that holds a line longer than 998 bytes, nothing is\n"
     "written (status 2, naming the line). A failure of the file part way\n"
     "(status 3) can leave the lines before it applied, except in the durable\n"
     "build, which makes all the edits under one journal and undoes them.",
     cmd_apply},
};

bool closed_input = false;

// A closed descriptor 0, 1 or 2 would be taken by the next file opened,
// and messages meant for the terminal would land in the user's file. It
// is held by /dev/null, opened for reading: writing a closed standard
// output or error still fails (status 3) instead of losing the output,
// and apply refuses a closed standard input.
bool standard_descriptors_open() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        iniplace::Descriptor held;
        if (!iniplace::io::open("/dev/null", iniplace::Open::read, held).ok() || held.get() != fd)
            return false;
        (void)held.release();
        closed_input = closed_input || fd == 0;
    }
    return true;
}

const Command *find_command(std::string_view name) {
    for (const Command &command : commands)
        if (name == command.name)
            return &command;
    return nullptr;
}

// Runs what the arguments ask for; a failure is thrown.
int dispatch(const std::vector<std::string> &words) {
    if (words.empty()) {
        print_usage(false);
        return exit_usage;
    }
    const std::string &first = words[0];
    if (first == "--help" || first == "-h" || first == "help") {
        const Command *topic = words.size() > 1 ? find_command(words[1]) : nullptr;
        topic != nullptr ? print_command_help(*topic) : print_usage(true);
        return exit_done;
    }
    if (first == "--version") {
        int major = 0, minor = 0, micro = 0;
        ini_version(&major, &minor, &micro);
        out("iniplace " + std::to_string(major) + "." + std::to_string(minor) + "." +
            std::to_string(micro) + "\n");
        return exit_done;
    }
    // Used by the build to make the manual page and the bash completion.
    if (first == "--manual" || first == "--completion") {
        first == "--manual" ? print_manual() : print_completion();
        return exit_done;
    }
    const Command *command = find_command(first);
    if (command == nullptr)
        usage_error("unknown command '" + first + "'");
    Call call(*command);
    if (!read_options(call, {words.begin() + 1, words.end()}))
        return exit_done;
    return command->run(call);
}

} // namespace

Table<Command> command_table() {
    return {std::begin(commands), std::end(commands)};
}

bool input_closed() {
    return closed_input;
}

} // namespace tool

// The one exit path: every failure is reported here as one line, and
// standard output is flushed and checked.
int main(int argc, char **argv) {
    using namespace tool;
    if (!standard_descriptors_open())
        return exit_file;
    int status = exit_done;
    try {
        status = dispatch({argv + 1, argv + argc});
    } catch (const Failure &failure) {
        report(failure);
        status = failure.status;
    } catch (const std::bad_alloc &) {
        report({exit_file, "", "out of memory"});
        status = exit_file;
    } catch (const std::exception &error) {
        report({exit_file, "", error.what()});
        status = exit_file;
    }
    return finish(status);
}
