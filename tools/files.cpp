#include "files.h"

#include "diff.h"
#include "edit.h"
#include "output.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace tool {

using namespace iniplace;

namespace {

std::string error_text(const Status &status) {
    return status.error != 0 ? std::strerror(status.error) : "failed";
}

// The tool reads text whose line ends are single bytes: UTF-8 and the like.
// A UTF-16 file would be read and edited as bytes, and spoilt.
void refuse_utf16(const std::string &path, std::string_view text) {
    if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0)
        fail(exit_usage, path,
             "starts with a UTF-16 byte-order mark: the tool reads UTF-8 and other text whose "
             "line ends are single bytes");
}

// The file open in `file`, whole.
Status read_open(const std::string &path, const File &file, std::string &text) {
    if (static_cast<std::uint64_t>(file.size()) > file_max)
        fail(exit_file, path,
             "larger than " + std::to_string(file_max) + " bytes, which the tool reads whole");
    text.assign(static_cast<std::size_t>(file.size()), '\0');
    std::size_t got = 0;
    const Status read = io::read(file.fd(), text.data(), text.size(), 0, got);
    text.resize(got);
    refuse_utf16(path, text);
    return read;
}

// The start of the line `count` lines before the one that holds byte
// `at` of `text`, and the end of the line `count` lines after it.
std::size_t lines_before(std::string_view text, std::size_t at, int count) {
    std::size_t start = text.rfind('\n', at == 0 ? 0 : at - 1);
    for (int i = 0; i < count && start != std::string_view::npos && start > 0; ++i)
        start = text.rfind('\n', start - 1);
    return start == std::string_view::npos ? 0 : start + 1;
}

std::size_t lines_after(std::string_view text, std::size_t at, int count) {
    std::size_t end = at;
    for (int i = 0; i <= count && end < text.size(); ++i)
        end = std::min(text.find('\n', end), text.size() - 1) + 1;
    return std::max(end, std::min(at, text.size()));
}

// The text before and after the edits around the lines they change, with
// three lines on each side; the whole file when it is small.
void neighbourhood(const Document &document, const std::vector<Edit> &edits, std::size_t from,
                   const std::string &tail, EditResult &result) {
    constexpr std::size_t small = 16384;
    const std::string_view old_text = document.text();
    const std::string new_text = std::string(old_text.substr(0, from)) + tail;
    const Edit &last = edits.back();
    const bool whole = old_text.size() <= small && new_text.size() <= small;
    const std::size_t start = whole ? 0 : lines_before(old_text, from, 3);
    const std::size_t old_end =
        whole ? old_text.size() : lines_after(old_text, last.at + last.old_length, 3);
    const std::size_t new_end = old_end + new_text.size() - old_text.size();
    result.before = old_text.substr(start, old_end - start);
    result.after = new_text.substr(start, new_end - start);
}

// Plans on `text` and keeps what the edits make of it.
std::vector<Edit> plan_on(const Call &call, const Planner &planner, std::string text,
                          EditResult &result, std::size_t &from, std::string &tail) {
    const Document document(std::move(text), call.dialect());
    Plan plan(document, call.file(), call.ignore_case);
    planner(plan);
    std::vector<Edit> edits = plan.edits();
    result = {};
    if (edits.empty())
        return edits;
    result.changed = true;
    from = edits.front().at;
    tail = applied(document, edits, from);
    if (call.diff) {
        result.diff = unified_diff(call.file(), document, edits);
        neighbourhood(document, edits, from, tail, result);
    }
    return edits;
}

// With --check: the edits planned on the file as it reads, none made.
EditResult check(const Call &call, Creates creates, const Planner &planner) {
    EditResult result;
    std::string text, tail;
    std::size_t from = 0;
    if (read_file(call, text, true) || creates == Creates::yes)
        (void)plan_on(call, planner, std::move(text), result, from, tail);
    return result;
}

// The edits planned and made through the library's driver, which opens the
// file for update and locks it, or makes it when missing. A failure of the
// plan is kept, and thrown once the driver let the file go.
EditResult make(const Call &call, Creates creates, const Planner &planner) {
    EditResult result;
    std::optional<Failure> failure;
    std::string tail;
    const auto plan = [&](const File &file, Buffer, iniplace::Edit &edit) -> Status {
        try {
            std::string text;
            if (const Status read = read_open(call.file(), file, text); !read.ok())
                return read;
            std::size_t from = 0;
            edit.changes = !plan_on(call, planner, std::move(text), result, from, tail).empty();
            const auto at = static_cast<off_t>(from);
            edit.change = {at, file.size() - at, tail};
            return {};
        } catch (Failure &planned) {
            failure = std::move(planned);
            return failed(Outcome::refused);
        }
    };
    const Status status = edit_file(
        call.file().c_str(), creates == Creates::yes ? OnMissing::make : OnMissing::fail, plan);
    if (failure)
        throw *failure;
    if (status.is(Outcome::missing) && creates == Creates::no)
        return {};
    // A file the caller may read but not write: an edit that changes
    // nothing succeeds.
    if (status.is(Outcome::denied))
        if (const EditResult planned = check(call, creates, planner); !planned.changed)
            return planned;
    if (!status.ok())
        fail_file(call.file(), status);
    return result;
}

} // namespace

std::string read_all(int fd, const std::string &name, std::size_t most) {
    std::string text;
    char chunk[65536];
    for (std::size_t got = 1; got > 0;) {
        if (const Status read = io::read_on(fd, chunk, sizeof chunk, got); !read.ok())
            fail_file(name, read);
        if (text.size() + got > most)
            fail(exit_usage, name,
                 "longer than " + std::to_string(most) + " bytes; nothing written");
        text.append(chunk, got);
    }
    return text;
}

bool read_file(const Call &call, std::string &text, bool missing_ok) {
    if (call.file() == "-") {
        if (input_closed())
            fail(exit_file, "standard input", "closed");
        text = read_all(0, "standard input", file_max);
        refuse_utf16("standard input", text);
        return true;
    }
    File file;
    Patience patience;
    Status status = file.open(call.file().c_str(), Access::read, patience);
    if (status.is(Outcome::missing) && missing_ok)
        return false;
    if (status.ok())
        status = read_open(call.file(), file, text);
    if (!status.ok())
        fail_file(call.file(), status);
    return true;
}

EditResult run_edit(const Call &call, Creates creates, const Planner &planner) {
    return call.check ? check(call, creates, planner) : make(call, creates, planner);
}

int edit(const Call &call, Creates creates, const Planner &planner) {
    if (call.file() == "-")
        usage_error(std::string(call.command->name) + " edits a FILE: - is for reading");
    // Printed once the file's lock is let go: a reader of the output that
    // takes its time holds up nobody's edits.
    const EditResult result = run_edit(call, creates, planner);
    if (call.diff)
        out(result.diff);
    if (call.verbose)
        std::fputs(!result.changed ? "unchanged\n"
                   : call.check    ? "would change\n"
                                   : "changed\n",
                   stderr);
    return call.check && !result.changed ? exit_not_found : exit_done;
}

std::string describe(const Status &status) {
    switch (status.outcome) {
    case Outcome::not_regular:
        return "not a regular file";
    case Outcome::linked:
        return "a symbolic link to a missing file: the durable build makes no file through a "
               "link";
    case Outcome::denied:
        return "cannot be opened: " + error_text(status);
    case Outcome::busy:
        return "busy: another process held its lock for " + std::to_string(lock_wait_ms / 1000) +
               " seconds; nothing changed";
    case Outcome::not_read:
        return "cannot be read: " + error_text(status);
    case Outcome::not_written:
        return "the edit did not take effect: " + error_text(status);
    case Outcome::not_made:
        return "cannot be made: " + error_text(status) + "; nothing was left behind";
    case Outcome::hard_linked:
        return "has more than one hard link, whose names would not find its journal; the "
               "durable build does not edit it";
    case Outcome::mounted:
        return "is mounted on its own (a bind mount of the file), and the name it hides would "
               "not find its journal; the durable build does not edit it";
    case Outcome::foreign_link:
        return "reached through a link that another user could have made in a directory others "
               "may write (a symbolic link of hers, or a second hard link): not followed; "
               "nothing changed";
    case Outcome::untrusted:
        return "what stands at its journal's name (FILE-journal) is not iniplace's own: not a "
               "plain file of one link and mode 0600, this user's or the file owner's, made for "
               "this name; nothing changed";
    case Outcome::unsafe:
        return "no journal could be made or put back: " + error_text(status) +
               "; the file was not touched";
    default:
        return error_text(status);
    }
}

void fail_file(const std::string &path, const Status &status) {
    fail(exit_file, path, describe(status));
}

} // namespace tool
