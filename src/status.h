// What a call into a layer came to: done, or what failed and how. Every
// layer returns a Status and passes it up unchanged; only the interface
// turns it into the public codes.
#pragma once

#include "format.h"

namespace iniplace {

enum class Outcome : unsigned char {
    done,
    not_found,    // no such section, key or entry
    refused,      // the input would not read back as given: nothing written
    not_a_number, // a typed getter found an empty or unconvertible value
    not_opened,   // the file could not be opened or created
    not_regular,  // the path names a directory, a FIFO, a device
    not_read,     // a read of the open file failed
    not_written,  // a write, truncation, reservation or sync failed, or the
                  // edit would pass the file-size limit
    unsafe,       // the durable build made no journal, or found one it may
                  // not apply: the file was not touched
};

// The system calls the library makes on files, in the order io.h gives
// them: the failing call of a Status, and what the test hook sees.
enum class Op : unsigned char {
    open,
    stat,
    read,
    write,
    truncate,
    reserve,
    sync,
    lock,
    link,
    rename,
    unlink,
    limit,
    name, // resolving a file's name
};

struct Status {
    Outcome outcome = Outcome::done;
    Op op = Op::open;                // the call that failed
    int error = 0;                   // its error number
    Refusal refusal = Refusal::none; // why input was refused

    bool ok() const { return outcome == Outcome::done; }
};

inline Status failed(Outcome outcome, Op op, int error) {
    return {outcome, op, error, Refusal::none};
}

inline Status refused(Refusal refusal) {
    return {Outcome::refused, Op::open, 0, refusal};
}

inline Status not_found() {
    return {Outcome::not_found, Op::open, 0, Refusal::none};
}

} // namespace iniplace
