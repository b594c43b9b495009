// What a call into a layer came to: done, or what happened instead, in
// words of its own. Every layer returns a Status and passes a failed one up
// unchanged; only the interface turns it into the public codes. The error
// number of the system call is kept for messages: io alone looks at it.
#pragma once

namespace iniplace {

enum class Outcome : unsigned char {
    done,
    not_found,    // no such section, key or entry
    refused,      // input that would not read back as given: nothing written
    not_a_number, // a typed getter found an empty or unconvertible value
    missing,      // nothing stands at the name
    exists,       // a name to be made was taken meanwhile: to be tried again
    replaced,     // the name stopped naming the file opened, again and again
    busy,         // another process held the lock for the whole wait
    not_opened,   // the file could not be opened
    denied,       // the file may not be opened as asked: no permission, or a
                  // file system mounted read-only
    not_made,     // the missing file could not be made: none was left
    not_regular,  // a directory, FIFO, device or link where a file must be
    linked,       // a symbolic link stands at the name (or on the way, for
                  // a name opened in one step)
    not_read,     // a read failed
    not_written,  // a write, truncation, reservation or sync failed, or the
                  // edit would pass the file-size limit
    hard_linked,  // the file has other names, which would not find its
                  // journal: the durable build does not edit it
    mounted,      // the file is mounted on its own (a bind mount of one
                  // file): the name it hides would not find its journal
    untrusted,    // what stands at the journal's name is not the library's
                  // to act on: its owner, links or mode say someone else's
    foreign_link, // a link another user could have put in the way (a
                  // symbolic link, or a second hard link of a file, in a
                  // directory others may write): not followed, not used
    unsafe,       // no journal could be made or put back: the file was not
                  // touched
};

// The calls the library makes on files, as a Status names the one that
// failed and the test hook sees them.
enum class Op : unsigned char {
    none, // no call: the input or the file's content decided
    open,
    stat,
    read,
    write,
    flush,
    seek,
    truncate,
    reserve,
    sync,
    lock,
    unlock,
    pause,
    clock,
    link,
    rename,
    unlink,
    limit,
    name,  // resolving a file's name, reading a link
    mode,  // giving a file its mode, asking for the process's mask
    flags, // asking how a stream's descriptor was opened
};

// Why input was refused: it would not read back as what the caller asked.
enum class Refusal : unsigned char {
    none,          // not refused
    key_empty,     // an empty key, or the wildcard
    key_character, // a key holding `=` or a line feed
    key_start,     // a key starting with `[`, a space or a tab
    line_feed,     // a section, value or entry holding a line feed
    entry_empty,   // an entry that is empty after trimming
    entry_header,  // an entry that would read as a header
    too_long,      // a text over text_max bytes
    too_many,      // more settings at once than the library takes
};

struct Status {
    Outcome outcome = Outcome::done;
    Op op = Op::none;     // the call that failed
    int error = 0;        // its error number, for messages
    Refusal refusal = {}; // why input was refused, if it was

    constexpr bool ok() const { return outcome == Outcome::done; }
    constexpr bool is(Outcome other) const { return outcome == other; }
};

constexpr Status failed(Outcome outcome, Op op = Op::none, int error = 0) {
    return {outcome, op, error};
}

constexpr Status refused(Refusal refusal) {
    return {Outcome::refused, Op::none, 0, refusal};
}

constexpr Status not_found() {
    return failed(Outcome::not_found);
}

// The same failure under another outcome, its call and error kept.
constexpr Status as(Outcome outcome, const Status &status) {
    return status.ok() ? status : Status{outcome, status.op, status.error, status.refusal};
}

} // namespace iniplace
