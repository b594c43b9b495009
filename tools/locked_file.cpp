#include "locked_file.h"

#include "format.h"
#include "tool.h"

#include <cstring>

namespace tool {

using namespace iniplace;

namespace {

// Refusals the library knows, in words.
std::string refusal_text(Refusal refusal) {
    switch (refusal) {
    case Refusal::key_empty:
        return "the key must not be empty or *";
    case Refusal::key_character:
        return "the key must not hold '=' or a line feed";
    case Refusal::key_start:
        return "the key must not start with '[', a space or a tab";
    case Refusal::line_feed:
        return "the section, value or entry must not hold a line feed";
    case Refusal::entry_empty:
        return "the entry must not be blank";
    case Refusal::entry_header:
        return "the entry must not start with '['";
    case Refusal::too_long:
        return "the line would be longer than " + std::to_string(text_max) + " bytes";
    case Refusal::long_line: // the tool's own: see splits_line() in edits.cpp
        return "the library would take a later piece of a line longer than " +
               std::to_string(piece_max) + " bytes for a line of its own here";
    case Refusal::none:
        break;
    }
    return "rejected by the library";
}

const char *call_name(Op op) {
    switch (op) {
    case Op::none:
        return "";
    case Op::open:
        return "open";
    case Op::stat:
        return "stat";
    case Op::read:
        return "read";
    case Op::write:
        return "write";
    case Op::flush:
        return "flush";
    case Op::seek:
        return "seek";
    case Op::truncate:
        return "truncate";
    case Op::reserve:
        return "reserve";
    case Op::sync:
        return "sync";
    case Op::lock:
        return "lock";
    case Op::pause:
        return "pause";
    case Op::link:
        return "link";
    case Op::rename:
        return "rename";
    case Op::unlink:
        return "unlink";
    case Op::limit:
        return "size limit";
    case Op::name:
        return "name";
    case Op::mode:
        return "mode";
    case Op::flags:
        return "flags";
    }
    return "call";
}

std::string error_text(const Status &status) {
    return status.error != 0 ? std::strerror(status.error) : "failed";
}

} // namespace

bool missing(const Status &status) {
    return status.is(Outcome::missing);
}

std::string describe(const Status &status) {
    switch (status.outcome) {
    case Outcome::refused:
        return refusal_text(status.refusal);
    case Outcome::not_regular:
        return status.op == Op::name ? "a symbolic link to a missing file: this build makes no "
                                       "file through a link"
                                     : "not a regular file";
    case Outcome::busy:
        return "busy: another process held its lock for " + std::to_string(lock_wait_ms / 1000) +
               " s";
    case Outcome::not_read:
        return "cannot be read: " + error_text(status);
    case Outcome::not_written:
        return "the edit did not take effect: " + error_text(status);
    case Outcome::not_made:
        return "cannot be made (" + std::string(call_name(status.op)) + "): " + error_text(status);
    case Outcome::untrusted:
        return "what stands at its journal's name is not this user's nor the file owner's, or "
               "not a plain file; the file was not touched";
    case Outcome::unsafe:
        return std::string("no journal could be made or put back (") + call_name(status.op) +
               "): " + error_text(status) + "; the file was not touched";
    default:
        break;
    }
    return error_text(status);
}

void fail_file(const std::string &path, const Status &status) {
    fail(status.outcome == Outcome::refused ? exit_usage : exit_file, path, describe(status));
}

Status LockedFile::open(const std::string &path, bool exclusive) {
    return file_.open(path.c_str(), exclusive ? Access::update : Access::read);
}

bool open_for_reading(LockedFile &locked, const std::string &path, bool missing_ok) {
    const Status status = locked.open(path, false);
    if (status.ok())
        return true;
    if (missing_ok && missing(status))
        return false;
    fail_file(path, status);
}

} // namespace tool
