// The tool as an Ansible binary module (see module.cpp).
#pragma once

#include "tool.h"

namespace tool {

// Whether the command line is the one Ansible gives a module: a single
// argument that is neither an option nor a command, naming a file that
// holds a JSON object (the task's arguments).
bool runs_as_module(const std::vector<std::string> &words);
// Runs the task in the JSON arguments file; prints its one JSON reply and
// returns the exit status (1 when the task failed).
int run_module(const std::string &arguments);

} // namespace tool
