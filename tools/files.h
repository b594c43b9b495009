// The tool's files: a file read whole under the library's shared lock (or
// standard input), and a command's edits planned on the file as it reads
// and made through the library's edit driver, in one change.
#pragma once

#include "plan.h"
#include "status.h"
#include "tool.h"

#include <functional>

namespace tool {

// The largest file the tool reads: it holds the whole file in memory.
constexpr std::size_t file_max = std::size_t{64} << 20;

// Reads FILE (standard input for -) under a shared lock into `text`; false
// when it is missing and `missing_ok`, else a missing or unreadable file
// fails (status 3).
bool read_file(const Call &call, std::string &text, bool missing_ok = false);
// Reads all of the descriptor `fd` (`name` in messages), at most `most`
// bytes (status 2 beyond).
std::string read_all(int fd, const std::string &name, std::size_t most);

// Plans a command's edits on the file as it reads.
using Planner = std::function<void(Plan &plan)>;
enum class Creates { no, yes };
// What an edit came to: whether it changed the file (with --check: would),
// and with --diff the unified diff and the text before and after around the
// lines it changed.
struct EditResult {
    bool changed = false;
    std::string diff, before, after;
};
// Makes the planned edits of FILE, creating it when missing if `creates`
// (a missing file otherwise has nothing to change); with --check it writes
// nothing. An edit that changes nothing succeeds on a file the caller may
// read but not write.
EditResult run_edit(const Call &call, Creates creates, const Planner &planner);
// The same for a command: --diff prints the unified diff, --verbose says
// changed or unchanged. Returns the exit status.
int edit(const Call &call, Creates creates, const Planner &planner);

// The message for a failed Status of the library.
std::string describe(const iniplace::Status &status);
[[noreturn]] void fail_file(const std::string &path, const iniplace::Status &status);

} // namespace tool
