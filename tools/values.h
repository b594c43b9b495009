// The values of keys as the commands and the module take and print them:
// the --type of a value, numbers given by a person or read from a file, and
// the text set writes.
#pragma once

#include "tool.h"

namespace tool {

// The name of a --type in messages: long, ulong, ...
std::string type_word(Type type);
// The text set writes for the call's VALUE and --type: trimmed, in quotes
// (string), or a number of the type as the library writes it. A VALUE that
// is no number of the type, or a string too long to write, fails (status 2).
std::string typed_value(const Call &call);
// `value` as get prints it for the call's --type; false for no number of
// the type. A value `given` by a person (--default) is read by the stricter
// rule set's VALUE is.
bool printed_value(const Call &call, const std::string &value, bool given, std::string &printed);

} // namespace tool
