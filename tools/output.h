// What the tool prints: standard output with its first error kept for the
// exit status, messages (the library's Status in words), JSON strings and
// shell quoting.
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

// A JSON string of any bytes: valid UTF-8 as it is, `"` and `\` escaped,
// control bytes as \u00XX, and each byte that is not part of valid UTF-8
// as a lone low surrogate \uDC80 to \uDCFF, which no valid text gives.
std::string json_string(std::string_view text);
std::string json_array(const std::vector<std::string> &items);
// Items one a line, or as a JSON array with --format json.
void print_items(const Call &call, const std::vector<std::string> &items);

// A name the shell can assign: letters, digits and _, not starting with a
// digit; a byte of one.
bool shell_name(std::string_view name);
bool shell_name_byte(char c);
// A name that programs or the shell read from the environment or tie to
// shell state, which eval of a file's keys must not set.
bool environment_name(std::string_view name);
std::string shell_quoted(std::string_view text);

} // namespace tool
