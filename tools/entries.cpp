// The commands on a section used as a list: entries, first, has, next,
// prev, add and remove.
#include "edits.h"
#include "locked_file.h"
#include "output.h"
#include "reading.h"

namespace tool {

using namespace iniplace;

namespace {

// The lines of the call's section (see section_lines); false without it.
bool read_section(const Call &call, bool comments, std::vector<std::string> &lines) {
    LockedFile locked;
    open_for_reading(locked, call.file());
    Reader reader(locked.file(), call.file());
    return section_lines(reader, call.args[1], comments, lines);
}

// The position of the first of `lines` equal to the trimmed `entry`.
std::size_t position(const std::vector<std::string> &lines, std::string_view entry) {
    const std::string_view wanted = trimmed(entry);
    std::size_t at = 0;
    while (at < lines.size() && lines[at] != wanted)
        ++at;
    return at;
}

// The entry `step` places from the first equal to ENTRY (from the start
// for first), printed.
int look_up(const Call &call, int step) {
    if (is_wildcard(call.args[1]))
        fail(exit_usage, call.file(),
             std::string(call.command.name) + " needs a section name, not *");
    std::vector<std::string> entries;
    if (!read_section(call, false, entries))
        return exit_not_found;
    const std::size_t found = call.args.size() > 2 ? position(entries, call.args[2]) : 0;
    const std::size_t at = found + static_cast<std::size_t>(step);
    if (found >= entries.size() || at >= entries.size())
        return exit_not_found;
    out(entries[at] + "\n");
    return exit_done;
}

} // namespace

int cmd_entries(const Call &call) {
    std::vector<std::string> entries;
    if (!read_section(call, false, entries))
        return exit_not_found;
    print_items(call, entries);
    return exit_done;
}

int cmd_first(const Call &call) {
    return look_up(call, 0);
}

int cmd_next(const Call &call) {
    return look_up(call, 1);
}

int cmd_prev(const Call &call) {
    return look_up(call, -1);
}

int cmd_has(const Call &call) {
    if (is_wildcard(call.args[1]))
        fail(exit_usage, call.file(), "has needs a section name, not *");
    LockedFile locked;
    open_for_reading(locked, call.file());
    Reader reader(locked.file(), call.file());
    return has_line(reader, call.args[1], call.args[2]) ? exit_done : exit_not_found;
}

int cmd_add(const Call &call) {
    Refusal refusal = entry_line(call.args[1], call.args[2]).refusal;
    // The library adds a blank entry that keeps a carriage return; the
    // tool, which leaves blank lines out of its listings, refuses it.
    if (refusal == Refusal::none && is_blank_line(entry_text(call.args[2])))
        refusal = Refusal::entry_empty;
    if (refusal != Refusal::none)
        fail(exit_usage, call.file(), "[" + call.args[1] + "]: " + describe(refused(refusal)));
    return make_edits(call, {{add_plan(call.args[1], call.args[2])}});
}

int cmd_remove(const Call &call) {
    return make_edits(call, {{entry_removal_plan(call.file(), call.args[1], call.args[2])}});
}

} // namespace tool
