// iniplace: read and edit INI files from shell scripts.
//
// Every command checks its arguments first, then reads the file whole under
// the library's lock, in the dialect of the programs that use it, and makes
// its edits as byte ranges through the library's edit driver. The command
// table below is the one source of --help, the manual page and the
// completion.
#include "help.h"
#include "io.h"
#include "module.h"
#include "options.h"
#include "output.h"

#include <exception>

namespace tool {

namespace {

const Command *const commands[] = {
    &get_command,  &set_command,     &del_command,    &keys_command,  &sections_command,
    &list_command, &entries_command, &first_command,  &has_command,   &next_command,
    &prev_command, &add_command,     &remove_command, &apply_command,
};

bool closed_input = false;

// A closed descriptor 0, 1 or 2 would be taken by the next file opened,
// and messages meant for the terminal would land in the user's file. It
// is held by /dev/null, opened for reading: writing a closed standard
// output or error still fails (status 3) instead of losing the output,
// and reading a closed standard input is refused.
bool standard_descriptors_open() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (iniplace::io::is_open(fd))
            continue;
        iniplace::Descriptor held;
        if (!iniplace::io::open("/dev/null", iniplace::Open::read, held).ok() || held.get() != fd)
            return false;
        (void)held.release();
        closed_input = closed_input || fd == 0;
    }
    return true;
}

// Runs what the command line asks for; a failure is thrown.
int dispatch(const std::vector<std::string> &words) {
    const Request request = read_command_line(words);
    switch (request.action) {
    case Action::usage:
        print_short_usage();
        return exit_usage;
    case Action::help:
        request.call.command != nullptr ? print_command_help(*request.call.command) : print_help();
        return exit_done;
    case Action::version:
        out(version_text() + "\n");
        return exit_done;
    // Used by the build to make the manual page and the bash completion.
    case Action::manual:
        print_manual();
        return exit_done;
    case Action::completion:
        print_completion();
        return exit_done;
    case Action::run:
        break;
    }
    return request.call.command->run(request.call);
}

} // namespace

CommandTable command_table() {
    return {std::begin(commands), std::end(commands)};
}

const Command *find_command(std::string_view name) {
    for (const Command *command : commands)
        if (name == command->name)
            return command;
    return nullptr;
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
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (runs_as_module(words))
        return finish(run_module(words[0]));
    int status = exit_done;
    try {
        status = dispatch(words);
    } catch (...) {
        const Failure failure = caught_failure();
        report(failure);
        status = failure.status;
    }
    return finish(status);
}
