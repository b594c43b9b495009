// The tool's reading of files: a file read whole under the library's shared
// lock, standard input, and the other inputs it names (a fragment, the
// module's arguments), with the limits of what it holds in memory.
#pragma once

#include "document.h"
#include "file.h"
#include "tool.h"

namespace tool {

// The largest file the tool reads: it holds the whole file in memory.
constexpr std::size_t file_max = std::size_t{64} << 20;
// The longest input read besides the file, held in memory too: an INI
// fragment, the module's arguments. A literal, so that help texts can say
// it: "at most " TOOL_INPUT_MAX_TEXT " bytes".
#define TOOL_INPUT_MAX 1048576
#define TOOL_TEXT_OF(number) #number
#define TOOL_DIGITS_OF(number) TOOL_TEXT_OF(number)
#define TOOL_INPUT_MAX_TEXT TOOL_DIGITS_OF(TOOL_INPUT_MAX)
constexpr std::size_t input_max = TOOL_INPUT_MAX;

// Reads FILE (standard input for -) under a shared lock into `text`; false
// when it is missing and `missing_ok`, else a missing or unreadable file
// fails (status 3).
bool read_file(const Call &call, std::string &text, bool missing_ok = false);
// FILE read as read_file() reads it (a missing file fails), in the call's
// dialect.
Document read_document(const Call &call);
// Reads the file open in `file` whole into `text`, FILE `path` in messages
// (status 3 beyond file_max).
iniplace::Status read_open(const std::string &path, const iniplace::File &file, std::string &text);
// Reads all of the descriptor `fd` (`name` in messages), at most `most`
// bytes (status 2 beyond).
std::string read_all(int fd, const std::string &name, std::size_t most);
// An input's name in messages: standard input for -.
std::string input_name(const std::string &name);
// Reads an input of at most input_max bytes: standard input for -, the
// descriptor N for /dev/stdin (0) and /dev/fd/N (as a shell's <(...) names
// a pipe), else the file at `name`, reached through a symbolic link only
// where no other user could have put it in the way, as the library follows
// links.
std::string read_input(const std::string &name);
// Opens the named input FILE (not - or /dev/fd/N) as read_input() does.
iniplace::Status open_input(const std::string &name, iniplace::Descriptor &fd);

} // namespace tool
