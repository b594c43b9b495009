// The commands on a section used as a list: entries, first, has, next,
// prev, add and remove.
#include "driver.h"
#include "files.h"
#include "options.h"
#include "output.h"

#include <algorithm>

namespace tool {

namespace {

// The section's entries, trimmed, in file order: its lines that are neither
// blank, comments nor file-wide directives (key lines and the lines of their
// values too). False without the section.
bool section_entries(const Call &call, std::vector<std::string> &entries) {
    const Document document = read_document(call);
    const std::vector<int> &sections = document.sections_named(call.section(), call.ignore_case);
    if (sections.empty())
        return false;
    for (const Line *line : document.lines_of(sections))
        if (line->kind != LineKind::blank && line->kind != LineKind::directive &&
            line->kind != LineKind::comment)
            entries.emplace_back(document.text_of(*line));
    return true;
}

void refuse_preamble(const Call &call) {
    if (call.section() == preamble)
        fail(exit_usage, call.file(),
             std::string(call.command->name) + " needs a section name, not *");
}

// The entry `step` places from the first equal to ENTRY (from the start
// for first), printed.
int look_up(const Call &call, int step) {
    refuse_preamble(call);
    std::vector<std::string> entries;
    if (!section_entries(call, entries))
        return exit_not_found;
    const std::string_view wanted = call.has_name() ? trim(call.name()) : std::string_view();
    std::size_t found = 0;
    while (call.has_name() && found < entries.size() && entries[found] != wanted)
        ++found;
    const std::size_t at = found + static_cast<std::size_t>(step);
    if (found >= entries.size() || at >= entries.size())
        return exit_not_found;
    out(entries[at] + "\n");
    return exit_done;
}

int run_entries(const Call &call) {
    std::vector<std::string> entries;
    if (!section_entries(call, entries))
        return exit_not_found;
    print_items(call, entries);
    return exit_done;
}

int run_first(const Call &call) {
    return look_up(call, 0);
}

int run_next(const Call &call) {
    return look_up(call, 1);
}

int run_prev(const Call &call) {
    return look_up(call, -1);
}

int run_has(const Call &call) {
    refuse_preamble(call);
    const Document document = read_document(call);
    const std::vector<int> &sections = document.sections_named(call.section(), call.ignore_case);
    return document.line_equal(sections, call.name()) != nullptr ? exit_done : exit_not_found;
}

int run_add(const Call &call) {
    return edit(call, Creates::yes, {{Intent::Kind::add, call.section(), call.name()}});
}

int run_remove(const Call &call) {
    return edit(call, Creates::no, {{Intent::Kind::remove_entry, call.section(), call.name()}});
}

} // namespace

const Command entries_command = {
    "entries",
    "FILE SECTION",
    bit(Opt::ignore_case),
    0,
    format_bit(Format::lines) | format_bit(Format::json),
    "print the entries of SECTION",
    "Prints the entries of SECTION, trimmed, in file order, in all its parts:\n"
    "its lines that are neither blank, comments nor directives, key lines and\n"
    "the lines of their values included. Status 1 if the section is missing.",
    run_entries};

const Command first_command = {"first",
                               "FILE SECTION",
                               bit(Opt::ignore_case),
                               0,
                               0,
                               "print the first entry of SECTION",
                               "Prints the first entry of SECTION, as entries lists them.",
                               run_first};

const Command has_command = {"has",
                             "FILE SECTION ENTRY",
                             bit(Opt::ignore_case),
                             0,
                             0,
                             "succeed if SECTION holds ENTRY",
                             "Succeeds (status 0) if a line of SECTION equals ENTRY, compared "
                             "after\ntrimming (a comment too, not a file-wide directive); status "
                             "1 if not.",
                             run_has};

const Command next_command = {"next",
                              "FILE SECTION ENTRY",
                              bit(Opt::ignore_case),
                              0,
                              0,
                              "print the entry after ENTRY",
                              "Prints the entry after the first one equal to ENTRY, as entries "
                              "lists\nthem; status 1 if there is none.",
                              run_next};

const Command prev_command = {"prev",
                              "FILE SECTION ENTRY",
                              bit(Opt::ignore_case),
                              0,
                              0,
                              "print the entry before ENTRY",
                              "Prints the entry before the first one equal to ENTRY, as entries "
                              "lists\nthem; status 1 if there is none.",
                              run_prev};

const Command add_command = {
    "add",
    "FILE SECTION ENTRY",
    edit_options,
    0,
    0,
    "add ENTRY unless a line equals it",
    "Adds ENTRY, trimmed, as a line of SECTION after the last line of its\n"
    "last value, unless a line of the section equals it (after trimming, as\n"
    "has compares);\n"
    "appends the section and makes FILE if missing. A blank entry, one that\n"
    "starts with [, ; or #, and one the dialect would read otherwise, is\n"
    "refused (status 2).",
    run_add};

const Command remove_command = {
    "remove",
    "FILE SECTION ENTRY",
    edit_options,
    0,
    0,
    "remove the first line equal to ENTRY",
    "Removes the first line of SECTION equal to ENTRY (as has compares): a key\n"
    "line with the lines of its value, a line of a configparser value alone\n"
    "(systemd and git refuse that); removing what is not there, from a\n"
    "missing file too, succeeds.",
    run_remove};

} // namespace tool
