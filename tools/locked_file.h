// The tool's hold on a file: opened through the library's file layer (the
// durable build puts back an edit a crash interrupted), locked with flock,
// shared for reads and exclusive for edits, and known to be the file the
// path names once the lock is taken. Other iniplace processes on the file
// take turns through that lock.
#pragma once

#include "file.h"

#include <string>

namespace tool {

class LockedFile {
  public:
    // Opens and locks `path`: exclusively for an edit, shared for a read.
    // Outcome::not_opened with ENOENT when the file is missing.
    iniplace::Status open(const std::string &path, bool exclusive);
    iniplace::File &file() { return file_; }

  private:
    iniplace::File file_;
};

bool missing(const iniplace::Status &status);

// The message for a failed Status: which call failed, and why.
std::string describe(const iniplace::Status &status);
// Fails with the status of `status`: 2 for input the library refuses, 3
// for the file.
[[noreturn]] void fail_file(const std::string &path, const iniplace::Status &status);

// Opens and locks `path` for reading; false when it is missing and
// `missing_ok`, otherwise a missing or unreadable file fails (status 3).
bool open_for_reading(LockedFile &locked, const std::string &path, bool missing_ok = false);

} // namespace tool
