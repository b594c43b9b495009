// A read of a file by path, as every get makes it: opened, locked shared,
// and scanned through a block lent for the scan.
#pragma once

#include "scan.h"

namespace iniplace {

// Reads the open `file` with `read(scan)`: a read of the file that failed
// is reported over what `read` found in what it could read. Out of line:
// the block is not on the stack while a name is resolved.
template <typename Read> [[gnu::noinline]] Status scan_open_file(const File &file, Read &read) {
    char block[read_block];
    FileScan scan(file, {block, sizeof block});
    const Status status = read(scan);
    return scan.in.status().ok() ? status : scan.in.status();
}

// Opens `path` and reads it with `read(scan)`.
template <typename Read> Status scan_file(const char *path, Read read) {
    File file;
    Patience patience;
    const Status opened = file.open(path, Access::read, patience);
    return opened.ok() ? scan_open_file(file, read) : opened;
}

} // namespace iniplace
