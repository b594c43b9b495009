// What an edit changes, as a unified diff of the file's lines: for review in
// scripts and configuration management (--diff).
#pragma once

#include "plan.h"

namespace tool {

// The diff of `document` and what `edits` make of it, with three lines of
// context, under the name `name`; empty when there are no edits.
std::string unified_diff(const std::string &name, const Document &document,
                         const std::vector<Edit> &edits);

} // namespace tool
