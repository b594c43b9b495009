#include "edits.h"

#include "locked_file.h"
#include "reading.h"

#include <cerrno>
#include <memory>

namespace tool {

using namespace iniplace;

namespace {

// Whether byte `at - 1` of the file is a line feed or `at` is a start or
// an end of the file: `at` is at a line boundary.
bool at_boundary(const File &file, off_t at) {
    if (at <= 0 || at >= file.size())
        return true;
    char byte = 0;
    std::size_t got = 0;
    return io::read(file.fd(), &byte, 1, at - 1, got).ok() && got == 1 && byte == '\n';
}

// Plans with a scan of the file from its start; a read that failed is
// reported over the plan. An edit in a section whose header the library
// found inside a long line is refused (see splits_line).
template <typename Planner>
Status plan_with_scan(File &file, LineEdit &edit, std::string_view section, Planner planner) {
    const auto scan = std::make_unique<FileScan>(file);
    const Status planned = planner(*scan, edit);
    if (!scan->in.status().ok())
        return scan->in.status();
    const bool new_section = is_header(edit.text.line());
    if (planned.ok() && edit.changes && !is_wildcard(section) && !new_section &&
        !at_boundary(file, scan->scanner.header_start()))
        return refused(Refusal::long_line);
    return planned;
}

// A removal the library finds nothing for, of a line the tool reads: the
// library took a later piece of a long line for a header before it.
Status found_only_by_tool(const LineEdit &edit, bool tool_finds) {
    return !edit.changes && tool_finds ? refused(Refusal::long_line) : Status();
}

// A later piece of a long line can read as a header or a key line to the
// library, which would then edit the line from that piece on or insert
// before it, splitting the line. The tool, which reads whole lines,
// refuses such an edit.
bool splits_line(const File &file, const LineEdit &edit) {
    const Place &place = edit.place;
    const bool inserts_mid_line =
        place.old_length == 0 && place.after_unterminated && place.at < file.size();
    return inserts_mid_line || !at_boundary(file, place.at) ||
           !at_boundary(file, place.at + place.old_length);
}

// How the edits of one open file are made: a file being made plainly, an
// existing one under a journal in the durable build.
class Changes {
  public:
    Changes(File &file, Journaled journaled) : scratch_(read_block), editing_(file, journaled) {}

    Status make(const LineEdit &edit) {
        return editing_.make(edit.change(), {scratch_.data(), scratch_.size()});
    }
    Status finish() { return {}; }
    Status abandon(const Status &failure) { return failure; }

  private:
    std::vector<char> scratch_;
    Editing editing_;
};

// Makes one edit, again while it repeats and changes the file; whether it
// changed anything (with --check: would change). A failure stops at once.
Status make_edit(const Call &call, File &file, Changes &changes, const Edit &edit, bool &changed) {
    for (;;) {
        LineEdit planned;
        if (const Status status = edit.plan(file, planned); !status.ok() || !planned.changes)
            return status;
        if (splits_line(file, planned))
            return refused(Refusal::long_line);
        changed = true;
        if (call.check)
            return {};
        if (const Status made = changes.make(planned); !made.ok() || !edit.repeat)
            return made;
    }
}

Status make_all(const Call &call, File &file, Changes &changes, const std::vector<Edit> &edits,
                bool &changed) {
    for (const Edit &edit : edits)
        if (const Status status = make_edit(call, file, changes, edit, changed); !status.ok())
            return changes.abandon(status);
    return changes.finish();
}

int verdict(const Call &call, bool changed) {
    if (call.verbose)
        std::fputs(changed ? "changed\n" : "unchanged\n", stderr);
    return call.check && !changed ? exit_not_found : exit_done;
}

// Makes the missing file with the edits.
Status create(const Call &call, const std::vector<Edit> &edits, bool &changed) {
    NewFile made;
    if (const Status opened = made.open(call.file().c_str()); !opened.ok())
        return opened;
    Changes changes(made.file(), Journaled::no);
    return made.place(make_all(call, made.file(), changes, edits, changed));
}

// One try at the edits: false when the file changed under them (someone
// made the missing file, or a journal stood where the edits' was to go),
// to be tried again.
bool try_edits(const Call &call, const std::vector<Edit> &edits, const Vet &vet, Status &status,
               bool &changed) {
    LockedFile locked;
    status = locked.open(call.file(), !call.check);
    changed = false;
    if (status.ok()) {
        if (vet)
            (void)vet(&locked.file());
        Changes changes(locked.file(), Journaled::yes);
        status = make_all(call, locked.file(), changes, edits, changed);
        return !to_try_again(status);
    }
    if (!missing(status) || call.command.use != Use::create)
        return true;
    if (vet)
        (void)vet(nullptr);
    changed = !edits.empty();
    if (call.check || !changed)
        status = {};
    else
        status = create(call, edits, changed);
    return !to_try_again(status);
}

} // namespace

int make_edits(const Call &call, const std::vector<Edit> &edits, const Vet &vet) {
    Status status;
    bool changed = false;
    for (int attempt = 0; attempt < edit_attempts; ++attempt)
        if (try_edits(call, edits, vet, status, changed))
            break;
    if (!status.ok())
        fail_file(call.file(), status);
    return verdict(call, changed);
}

Status plan_set(File &file, LineEdit &edit, const std::string &path, std::string_view section,
                std::string_view key, std::string_view value) {
    // Unchanged when get reads the value already, however it is spaced.
    Reader reader(file, path);
    const std::vector<std::string> values = key_values(reader, section, key, false);
    if (!values.empty() && values[0] == trimmed(value))
        return {};
    return plan_with_scan(file, edit, section, [&](FileScan &scan, LineEdit &planned) {
        return plan_write(scan, section, find_key, key, key_line(section, key, value),
                          LineFound::replaced, planned);
    });
}

Status plan_add(File &file, LineEdit &edit, std::string_view section, std::string_view entry) {
    return plan_with_scan(file, edit, section, [&](FileScan &scan, LineEdit &planned) {
        return plan_write(scan, section, find_entry, entry_text(entry), entry_line(section, entry),
                          LineFound::kept, planned);
    });
}

Plan set_plan(std::string path, std::string section, std::string key, std::string value) {
    return
        [=](File &file, LineEdit &edit) { return plan_set(file, edit, path, section, key, value); };
}

Plan add_plan(std::string section, std::string entry) {
    return [=](File &file, LineEdit &edit) { return plan_add(file, edit, section, entry); };
}

Plan key_removal_plan(std::string path, std::string section, std::string key) {
    return [=](File &file, LineEdit &edit) {
        Status status = plan_with_scan(file, edit, section, [&](FileScan &scan, LineEdit &planned) {
            return plan_removal(scan, section, find_key, key, planned);
        });
        if (status.ok()) {
            Reader reader(file, path);
            status = found_only_by_tool(edit, !key_values(reader, section, key, false).empty());
        }
        return status;
    };
}

Plan entry_removal_plan(std::string path, std::string section, std::string entry) {
    return [=](File &file, LineEdit &edit) {
        Status status = plan_with_scan(file, edit, section, [&](FileScan &scan, LineEdit &planned) {
            return plan_removal(scan, section, find_entry, entry_text(entry), planned);
        });
        if (status.ok()) {
            Reader reader(file, path);
            status = found_only_by_tool(edit, has_line(reader, section, entry));
        }
        return status;
    };
}

Plan section_removal_plan(std::string section) {
    return [=](File &file, LineEdit &edit) {
        return plan_with_scan(file, edit, section, [&](FileScan &scan, LineEdit &planned) {
            return plan_section_removal(scan, section, planned);
        });
    };
}

} // namespace tool
