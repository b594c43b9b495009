#include "locked_file.h"

#include "tool.h"

#include <cerrno>
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
    case Op::open:
        return "open";
    case Op::stat:
        return "stat";
    case Op::read:
        return "read";
    case Op::write:
        return "write";
    case Op::truncate:
        return "truncate";
    case Op::reserve:
        return "reserve";
    case Op::sync:
        return "sync";
    case Op::lock:
        return "lock";
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
    }
    return "call";
}

std::string error_text(const Status &status) {
    return status.error != 0 ? std::strerror(status.error) : "failed";
}

} // namespace

bool missing(const Status &status) {
    return status.outcome == Outcome::not_opened && status.error == ENOENT;
}

std::string describe(const Status &status) {
    switch (status.outcome) {
    case Outcome::refused:
        return refusal_text(status.refusal);
    case Outcome::not_regular:
        return "not a regular file";
    case Outcome::not_opened:
        return status.op == Op::lock ? "cannot be locked: " + error_text(status)
                                     : error_text(status);
    case Outcome::not_read:
        return "cannot be read: " + error_text(status);
    case Outcome::not_written:
        return "the edit did not take effect: " + error_text(status);
    case Outcome::unsafe:
        return std::string("no journal could be made or put back (") + call_name(status.op) +
               "): " + error_text(status) + "; the file was not touched";
    case Outcome::done:
    case Outcome::not_found:
    case Outcome::not_a_number:
        break;
    }
    return error_text(status);
}

void fail_file(const std::string &path, const Status &status) {
    fail(status.outcome == Outcome::refused ? exit_usage : exit_file, path, describe(status));
}

Status LockedFile::open(const std::string &path, bool exclusive) {
    // A creator that removed the file it made for a failed edit, or a
    // program that replaced the file, makes the lock worthless: try again.
    constexpr int attempts = 100;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        bool again = false;
        const Status status = take(path.c_str(), exclusive, again);
        if (!again)
            return status;
    }
    return failed(Outcome::not_opened, Op::lock, EAGAIN);
}

Status LockedFile::take(const char *path, bool exclusive, bool &again) {
    // An exclusive lock asks for a descriptor open for writing on some file
    // systems (NFS).
    Descriptor fd;
    if (const Status opened = io::open(path, exclusive ? Open::update : Open::read, fd);
        !opened.ok())
        return opened;
    FileInfo locked;
    if (const Status known = io::stat(fd.get(), locked); !known.ok())
        return known;
    if (!locked.regular)
        return failed(Outcome::not_regular, Op::stat, 0);
    if (const Status taken = io::lock(fd.get(), exclusive ? Lock::exclusive : Lock::shared);
        !taken.ok())
        return failed(Outcome::not_opened, Op::lock, taken.error);
    // Opened again under the lock: its size is the one the last editor
    // left, and the durable build puts back an interrupted edit first.
    const Status opened = file_.open(path, exclusive ? Access::update : Access::read);
    again = missing(opened) || (opened.ok() && (file_.info().device != locked.device ||
                                                file_.info().inode != locked.inode));
    if (opened.ok() && !again)
        lock_ = std::move(fd);
    return opened;
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
