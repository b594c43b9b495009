// How the tool edits a file: each edit is planned on the file as it reads
// when its turn comes (the library's plan_write, plan_removal and
// plan_section_removal) and made through the library: under one exclusive
// lock, in the durable build under its journal (one journal for all the
// edits of a call), and a missing file made whole. A failure is reported
// from the Status the library returns.
#pragma once

#include "lines.h"
#include "tool.h"

#include <functional>

namespace tool {

// Plans one edit of `file`: `edit.changes` false when the file already
// reads so.
using Plan = std::function<iniplace::Status(iniplace::File &file, iniplace::LineEdit &edit)>;

struct Edit {
    Plan plan;
    bool repeat = false; // planned and made again until nothing changes (--all)
};

// Reads the file (null when it is missing) before any edit, and may refuse
// the edits (a Failure). Returns the lowest offset the edits may touch, or
// -1 if not known: the durable build then journals from there at once.
using Vet = std::function<off_t(iniplace::File *file)>;

// Makes `edits` on the call's FILE, creating it when missing if the command
// creates files; with --check only tells whether they would change it.
// Returns the exit status; --verbose says changed or unchanged.
int make_edits(const Call &call, const std::vector<Edit> &edits, const Vet &vet = nullptr);

// Plans setting `key` to `value` unless get reads that value already
// (`path` names the file in messages), and adding an entry unless present.
iniplace::Status plan_set(iniplace::File &file, iniplace::LineEdit &edit, const std::string &path,
                          std::string_view section, std::string_view key, std::string_view value);
iniplace::Status plan_add(iniplace::File &file, iniplace::LineEdit &edit, std::string_view section,
                          std::string_view entry);

// The edits as plans: a key set (`path` names the file in messages) to `value` unless it has that
// value, an entry added unless present, a key line, an entry or a section removed.
Plan set_plan(std::string path, std::string section, std::string key, std::string value);
Plan add_plan(std::string section, std::string entry);
Plan key_removal_plan(std::string path, std::string section, std::string key);
Plan entry_removal_plan(std::string path, std::string section, std::string entry);
Plan section_removal_plan(std::string section);

} // namespace tool
