// apply: brings a file in line with an INI fragment: the whole fragment
// read and checked, then planned in one pass over the file and made as one
// change (in the durable build under one journal).
#include "driver.h"
#include "files.h"

#include <unordered_map>

namespace tool {

using namespace iniplace;

namespace {

// What the fragment asks for, in its order: a section made, a key set (the
// last value the fragment gives it), an entry added.
struct Step {
    enum class Kind { section, key, entry } kind;
    std::string section, name, value;
    std::size_t number; // of the fragment's line
};

struct Fragment {
    std::string name;
    std::vector<Step> steps;

    std::string where(std::size_t number) const { return name + ":" + std::to_string(number); }
};

std::string read_text(const Call &call, Fragment &fragment) {
    const std::string name = call.operands.size() < 2 ? "-" : call.operands[1];
    fragment.name = input_name(name);
    return read_input(name);
}

// The step of a key line: the key's first, which sets its last value.
void take_key(const Document &document, const Line &line, const std::string &section,
              std::unordered_map<std::string, std::size_t> &keys, Fragment &fragment) {
    const std::string name(document.name_of(line)), value(document.value_of(line));
    const auto [step, made] = keys.try_emplace(
        section + '\n' + key_key(document.dialect(), name, false), fragment.steps.size());
    if (made)
        fragment.steps.push_back({Step::Kind::key, section, name, value, line.number});
    fragment.steps[step->second].value = value;
}

// Takes the steps of the fragment's lines; a line that would be refused
// fails the whole fragment (status 2), before the file is touched.
void read_steps(const Document &document, Fragment &fragment) {
    const Dialect dialect = document.dialect();
    std::string section(preamble);
    std::unordered_map<std::string, std::size_t> keys; // section and key -> step
    for (const Line &line : document.lines()) {
        const std::string at = fragment.where(line.number);
        const std::string_view text = document.text_of(line);
        if (text.find('\0') != std::string_view::npos)
            fail(exit_usage, at, "the line holds a zero byte");
        std::optional<std::string> refusal;
        switch (line.kind) {
        case LineKind::blank:
        case LineKind::comment:
        case LineKind::continuation:
            continue;
        case LineKind::stray_header:
            fail(exit_usage, at, "the header names no section");
        case LineKind::header:
            section = document.sections()[static_cast<std::size_t>(line.section)];
            refusal = section == preamble ? "the header names no section"
                                          : refuse_section(dialect, section);
            fragment.steps.push_back({Step::Kind::section, section, "", "", line.number});
            break;
        case LineKind::key:
            if (line.has_value) {
                refusal = refuse_key(dialect, document.name_of(line));
                take_key(document, line, section, keys, fragment);
                break;
            }
            [[fallthrough]]; // a key without a value is a line to have
        case LineKind::entry:
        case LineKind::directive:
            refusal = refuse_entry(dialect, text);
            fragment.steps.push_back(
                {Step::Kind::entry, section, std::string(text), "", line.number});
            break;
        }
        if (refusal)
            fail(exit_usage, at, *refusal);
    }
}

// The fragment's steps planned on the file; a refusal names the step's line.
void plan_steps(const Fragment &fragment, Plan &plan) {
    for (const Step &step : fragment.steps) {
        try {
            if (step.kind == Step::Kind::section)
                plan.make_section(step.section);
            else if (step.kind == Step::Kind::key)
                plan.set(step.section, step.name, step.value, false);
            else
                plan.add(step.section, step.name);
        } catch (const Failure &failure) {
            fail(failure.status, fragment.where(step.number),
                 failure.file + ": " + failure.message);
        }
    }
}

int run_apply(const Call &call) {
    Fragment fragment;
    const Document document(read_text(call, fragment), call.dialect());
    read_steps(document, fragment);
    return edit(call, Creates::yes, [&](Plan &plan) { plan_steps(fragment, plan); });
}

} // namespace

const Command apply_command = {
    "apply",
    "FILE [FRAGMENT]",
    edit_options,
    0,
    0,
    "bring FILE in line with an INI fragment",
    "Reads an INI fragment of at most 1048576 bytes from FRAGMENT, or from\n"
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
