#include "driver.h"

#include "diff.h"
#include "edit.h"
#include "files.h"
#include "output.h"

#include <cstdio>
#include <exception>
#include <optional>

namespace tool {

using namespace iniplace;

namespace {

// What the edits planned on a file's text make of it: from the first byte
// they touch to the end.
struct Planned {
    EditResult result;
    std::size_t from = 0;
    std::string tail;
};

// Refuses the first intent refusal() refuses, named by its origin or by the
// file and where it applies.
void refuse_any(const Call &call, const std::vector<Intent> &intents) {
    for (const Intent &intent : intents)
        if (const std::optional<std::string> why = refusal(call.dialect(), intent)) {
            if (!intent.origin.empty())
                fail(exit_usage, intent.origin, *why);
            fail(exit_usage, call.file(), intent.where() + ": " + *why);
        }
}

// Plans `intents` in their order; a failure of an intent with an origin
// names it.
void plan_all(const std::vector<Intent> &intents, Plan &plan) {
    for (const Intent &intent : intents) {
        try {
            plan.make(intent);
        } catch (const Failure &failure) {
            if (intent.origin.empty())
                throw;
            fail(failure.status, intent.origin, failure.file + ": " + failure.message);
        }
    }
}

EditResult missing_file() {
    EditResult missing;
    missing.missing = true;
    return missing;
}

// Plans on `text` and keeps what the edits make of it.
Planned plan_on(const Call &call, const std::vector<Intent> &intents, std::string text) {
    const Document document(std::move(text), call.dialect());
    Plan plan(document, call.file(), call.ignore_case);
    plan_all(intents, plan);
    Planned planned;
    const std::vector<Edit> edits = plan.edits();
    if (edits.empty())
        return planned;
    planned.result.changed = true;
    planned.from = edits.front().at;
    planned.tail = applied(document, edits, planned.from);
    if (call.diff) {
        planned.result.diff = unified_diff(call.file(), document, edits);
        Neighbourhood around = neighbourhood(
            document, edits, std::string(document.text().substr(0, planned.from)) + planned.tail);
        planned.result.before = std::move(around.before);
        planned.result.after = std::move(around.after);
    }
    return planned;
}

// With --check: the edits planned on the file as it reads, none made.
EditResult check(const Call &call, Creates creates, const std::vector<Intent> &intents) {
    std::string text;
    if (read_file(call, text, true) || creates == Creates::yes)
        return plan_on(call, intents, std::move(text)).result;
    return missing_file();
}

// Runs `body` inside a frame of the library: what it throws is kept in
// `failure`, in the words main() would report it with, and the library is
// told the edit was refused. No exception crosses the library's frames.
template <typename Body> Status kept_apart(std::optional<Failure> &failure, Body body) {
    try {
        return body();
    } catch (...) {
        failure = caught_failure();
    }
    return failed(Outcome::refused);
}

// The edits planned and made through the library's driver, which opens the
// file for update and locks it, or makes it when missing. A failure of the
// plan is kept, and thrown once the driver let the file go.
EditResult make(const Call &call, Creates creates, const std::vector<Intent> &intents) {
    std::optional<Failure> failure;
    Planned planned;
    const auto plan = [&](const File &file, Buffer, iniplace::Edit &edit) {
        return kept_apart(failure, [&] {
            std::string text;
            if (const Status read = read_open(call.file(), file, text); !read.ok())
                return read;
            planned = plan_on(call, intents, std::move(text));
            const auto at = static_cast<off_t>(planned.from);
            edit.changes = planned.result.changed;
            edit.change = {at, file.size() - at, planned.tail};
            return Status();
        });
    };
    const Status status = edit_file(
        call.file().c_str(), creates == Creates::yes ? OnMissing::make : OnMissing::fail, plan);
    if (failure)
        throw *failure;
    if (status.is(Outcome::missing) && creates == Creates::no)
        return missing_file();
    // A file the caller may read but not write: an edit that changes
    // nothing succeeds.
    if (status.is(Outcome::denied))
        if (const EditResult checked = check(call, creates, intents); !checked.changed)
            return checked;
    if (!status.ok())
        fail_file(call.file(), status);
    return planned.result;
}

} // namespace

EditResult run_edit(const Call &call, Creates creates, const std::vector<Intent> &intents) {
    refuse_any(call, intents);
    return call.check ? check(call, creates, intents) : make(call, creates, intents);
}

int edit(const Call &call, Creates creates, const std::vector<Intent> &intents) {
    if (call.file() == "-")
        usage_error(std::string(call.command->name) + " edits a FILE: - is for reading");
    // Printed once the file's lock is let go: a reader of the output that
    // takes its time holds up nobody's edits.
    const EditResult result = run_edit(call, creates, intents);
    if (call.diff)
        out(result.diff);
    if (call.verbose)
        std::fprintf(stderr, "%s\n", result.said(call.check));
    return call.check && !result.changed ? exit_not_found : exit_done;
}

} // namespace tool
