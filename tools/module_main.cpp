// The module program of the Ansible collection: the tool's module alone,
// built for size. It takes one argument, the file of the task's arguments
// as Ansible gives a binary module, or `-` for the arguments on standard
// input as the collection's action plugin gives them. The commands, their
// help and the option parser stay out, and so do two parts of the C++
// runtime a small device pays for on every copy (see below).
#include "module.h"
#include "output.h"

#include <cmath>
#include <cstdlib>

namespace tool {

// Without the command table the module finds no command and takes no
// standard input but its arguments.
CommandTable command_table() {
    return {nullptr, nullptr};
}

const Command *find_command(std::string_view) {
    return nullptr;
}

bool input_closed() {
    return false;
}

} // namespace tool

// The runtime's handler for an exception nobody caught prints its type
// through the C++ demangler, 40 KB of code; the module catches every
// exception, so this one only ends the program.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

// The runtime's hash tables round with floor, which glibc keeps in libm on
// 32-bit PowerPC; defined here, the module loads the C library alone.
extern "C" double floor(double x) {
    constexpr double whole_above = 0x1p52; // every double this large is whole
    if (!(std::fabs(x) < whole_above))
        return x;
    const double truncated = static_cast<double>(static_cast<long long>(x));
    return truncated > x ? truncated - 1 : std::copysign(truncated, x);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        tool::report({tool::exit_usage, "",
                      "usage: ini ARGUMENTS (an Ansible module: a file "
                      "of the task's arguments in JSON, or - for standard "
                      "input)"});
        return tool::exit_usage;
    }
    return tool::finish(tool::run_module(argv[1]));
}
