// The texts of --help and the manual page that no table holds: the
// description and the topics.
#pragma once

namespace tool {

extern const char *const description;

struct Topic {
    const char *title;
    const char *body;
    bool manual_only = false;  // too long for --help: the examples
    bool preformatted = false; // lines kept as they are in the manual page
};

extern const Topic topics[];
extern const unsigned topic_count;

} // namespace tool
