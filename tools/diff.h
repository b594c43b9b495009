// What an edit changes, as a unified diff of the file's lines (--diff), and
// as the text around the lines it changes before and after (the module's
// diff mode): for review in scripts and configuration management.
#pragma once

#include "plan.h"

namespace tool {

// The diff of `document` and what `edits` make of it, with three lines of
// context, under the name `name`; empty when there are no edits.
std::string unified_diff(const std::string &name, const Document &document,
                         const std::vector<Edit> &edits);

// The text of `document` around the lines `edits` change, with the diff's
// context on each side (the whole file when it is small), before and after
// the edits; `new_text` is the file's text after them.
struct Neighbourhood {
    std::string before, after;
};
Neighbourhood neighbourhood(const Document &document, const std::vector<Edit> &edits,
                            std::string_view new_text);

} // namespace tool
