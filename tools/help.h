// The texts made from the command and option tables: the short usage, the
// help, the manual page and the bash completion; and the topics no table
// holds (topics.cpp).
#pragma once

#include "tool.h"

namespace tool {

extern const char *const description;

struct Topic {
    const char *title;
    const char *body;
    bool manual_only = false;  // too long for --help: the examples, files, bugs
    bool preformatted = false; // lines kept as they are in the manual page
};

extern const Topic topics[];
extern const unsigned topic_count;

// Without arguments: a short usage on standard error that points at --help.
void print_short_usage();
void print_help();
void print_command_help(const Command &command);
void print_manual();
void print_completion();
std::string synopsis(const Command &command);
// The version, and which build this is.
std::string version_text();

} // namespace tool
