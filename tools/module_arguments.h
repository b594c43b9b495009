// The arguments of the tool's Ansible module (see module.cpp).
#pragma once

#include "tool.h"

#include <optional>
#include <string>
#include <vector>

namespace tool {

// The arguments of a task, as the INI module of Ansible names them.
struct Task {
    std::string path;
    std::optional<std::string> section, option, value, type;
    std::vector<std::string> entries;
    bool present = true, create = true, ignore_case = false, entries_given = false;
    bool check = false, diff = false;
};

// Fails the task with `message` (status 2 in the module's reply).
[[noreturn]] void refuse(const std::string &message);

// Reads the task's arguments from the JSON object in `file` (- for standard
// input); names what is unknown, missing or in conflict, and refuses an
// argument that holds a zero byte, which a command line cannot.
Task read_task(const std::string &file);

} // namespace tool
