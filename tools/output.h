// What the tool prints: standard output with its first error kept for the
// exit status, and messages (the library's Status in words).
#pragma once

#include "options.h"
#include "status.h"

namespace tool {

struct Call;

// Writes to standard output; the first failure is reported at the end.
void out(std::string_view text);
// Flushes standard output: the status to exit with, `status` unless
// standard output could not be written.
int finish(int status);
// Flushes standard output; false when it or an earlier write failed.
bool output_flushed();

// The one line printed for a failure or warning: control bytes show as ?.
std::string one_line(std::string_view text);
void report(const Failure &failure);
// The message for a failed Status of the library, and the failure it makes
// of the file at `path` (status 3).
std::string describe(const iniplace::Status &status);
[[noreturn]] void fail_file(const std::string &path, const iniplace::Status &status);

// Items one a line, or as a JSON array with --format json.
void print_items(const Call &call, const std::vector<std::string> &items);

} // namespace tool
