// The tool's edits: a command's edits planned on the file as it reads under
// its lock, and made through the library's edit driver in one change.
#pragma once

#include "plan.h"
#include "tool.h"

namespace tool {

enum class Creates { no, yes };
// What an edit came to: whether it changed the file (with --check: would),
// and with --diff the unified diff and the text before and after around the
// lines it changed.
struct EditResult {
    bool changed = false;
    bool missing = false; // no file, and none made
    std::string diff, before, after;
    // How it is told: changed, would change (with --check) or unchanged.
    const char *said(bool check) const {
        return !changed ? "unchanged" : check ? "would change" : "changed";
    }
};
// Makes `intents` of FILE as one edit, planned on the file as it reads
// under its lock, creating it when missing if `creates` (a missing file
// otherwise has nothing to change); with --check it writes nothing. An
// intent that refusal() refuses fails the whole (status 2) before the file
// is opened. An edit that changes nothing succeeds on a file the caller may
// read but not write.
EditResult run_edit(const Call &call, Creates creates, const std::vector<Intent> &intents);
// The same for a command: --diff prints the unified diff, --verbose says
// changed or unchanged. Returns the exit status.
int edit(const Call &call, Creates creates, const std::vector<Intent> &intents);

} // namespace tool
