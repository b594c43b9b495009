// apply: brings a file in line with an INI fragment: the whole fragment
// read and checked, then planned in one pass over the file and made as one
// change (in the durable build under one journal).
#include "driver.h"
#include "files.h"

#include <unordered_map>

namespace tool {

using namespace iniplace;

namespace {

// The fragment's intents, in its order: a section made, a key set (the last
// value the fragment gives it), an entry added, each named by its line.
struct Fragment {
    std::string name;
    std::vector<Intent> intents;

    std::string where(std::size_t number) const { return name + ":" + std::to_string(number); }
};

std::string read_text(const Call &call, Fragment &fragment) {
    const std::string name = call.operands.size() < 2 ? "-" : call.operands[1];
    fragment.name = input_name(name);
    return read_input(name);
}

// The intent of a key line: the key's first, which sets its last value. A
// key is the same key as the file compares them (with --ignore-case in
// any case).
void take_key(const Document &document, const Line &line, const std::string &section,
              bool ignore_case, std::unordered_map<std::string, std::size_t> &keys,
              Fragment &fragment) {
    const Dialect dialect = document.dialect();
    const std::string name(document.name_of(line)), value(document.value_of(line));
    const auto [intent, made] = keys.try_emplace(section_key(dialect, section, ignore_case) + '\n' +
                                                     key_key(dialect, name, ignore_case),
                                                 fragment.intents.size());
    if (made)
        fragment.intents.push_back(
            {Intent::Kind::set, section, name, value, false, fragment.where(line.number)});
    fragment.intents[intent->second].value = value;
}

// Takes the intents of the fragment's lines. A line that is no intent
// fails the whole fragment (status 2) before the file is touched, as the
// driver fails it for an intent it refuses.
void read_intents(const Document &document, bool ignore_case, Fragment &fragment) {
    std::string section(preamble);
    std::unordered_map<std::string, std::size_t> keys; // section and key -> intent
    for (const Line &line : document.lines()) {
        const std::string at = fragment.where(line.number);
        const std::string_view text = document.text_of(line);
        if (text.find('\0') != std::string_view::npos)
            fail(exit_usage, at, "the line holds a zero byte");
        switch (line.kind) {
        case LineKind::blank:
        case LineKind::comment:
        case LineKind::continuation:
            break;
        case LineKind::stray_header:
            fail(exit_usage, at, "the header names no section");
        case LineKind::header:
            section = document.sections()[static_cast<std::size_t>(line.section)];
            if (section == preamble)
                fail(exit_usage, at, "the header names no section");
            fragment.intents.push_back({Intent::Kind::make_section, section, "", "", false, at});
            break;
        case LineKind::key:
            if (line.has_value) {
                take_key(document, line, section, ignore_case, keys, fragment);
                break;
            }
            [[fallthrough]]; // a key without a value is a line to have
        case LineKind::entry:
        case LineKind::directive:
            fragment.intents.push_back(
                {Intent::Kind::add, section, std::string(text), "", false, at});
            break;
        }
    }
}

int run_apply(const Call &call) {
    Fragment fragment;
    const Document document(read_text(call, fragment), call.dialect());
    read_intents(document, call.ignore_case, fragment);
    return edit(call, Creates::yes, fragment.intents);
}

} // namespace

const Command apply_command = {
    "apply",
    "FILE [FRAGMENT]",
    edit_options,
    0,
    0,
    "bring FILE in line with an INI fragment",
    "Reads an INI fragment of at most " TOOL_INPUT_MAX_TEXT " bytes from FRAGMENT, or from\n"
    "standard input when it is - or absent, and brings FILE in line with it:\n"
    "each key line is set as set sets it (the fragment's last value of a key),\n"
    "each other line added as an entry of its section unless a line equals it,\n"
    "and each header's section made, empty, where the file lacks it; blank\n"
    "lines and comments are passed over, and the fragment is read as the file\n"
    "is (see Reading the file). The whole fragment is checked first: if any\n"
    "line would be refused, nothing is written (status 2, naming the line).\n"
    "The file is read once and all the edits made as one change, which the\n"
    "durable build journals whole. FRAGMENT /dev/stdin or /dev/fd/N (as a\n"
    "shell's <(...) names a pipe) is read from that descriptor; a symbolic\n"
    "link on the way to another FRAGMENT is followed only where no other user\n"
    "could have put it in the way: one of hers in a directory others may\n"
    "write is refused (status 3).",
    run_apply};

} // namespace tool
