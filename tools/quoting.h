// Texts quoted for the programs that read the tool's output: JSON strings
// and arrays, and sh words and the names sh may be told to assign.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tool {

// A JSON string of any bytes: valid UTF-8 as it is, `"` and `\` escaped,
// control bytes as \u00XX, and each byte that is not part of valid UTF-8
// as a lone low surrogate \uDC80 to \uDCFF, which no valid text gives.
std::string json_string(std::string_view text);
std::string json_array(const std::vector<std::string> &items);
// A name the shell can assign: letters, digits and _, not starting with a
// digit; a byte of one.
bool shell_name(std::string_view name);
bool shell_name_byte(char c);
std::string shell_quoted(std::string_view text);

} // namespace tool
