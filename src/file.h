// The regular file a call opens by path: its name resolved, opened, locked,
// checked under the lock, and in the durable build recovered.
#pragma once

#include "io_names.h"
#include "journal.h"

#include <type_traits>

namespace iniplace {

enum class Access { read, update };

// What a File of the default build keeps of its name: nothing.
struct NoName {
    int directory() const { return -1; }
    const char *base() const { return ""; }
    const char *side() const { return ""; }
};

// A regular file opened by path and locked, and what fstat told of it.
// Unlocked and closed on every path.
class File {
  public:
    // Opens `path` (its name resolved without a race: see Name) for reading
    // or for update, refuses anything but a regular file, and locks it:
    // shared to read, exclusive to update, waiting while `patience` lasts
    // (Outcome::busy). An edit then checks that the path still reaches the
    // file it locked, and opens it again when someone replaced it meanwhile
    // (Outcome::replaced if that goes on). The durable build then puts back
    // an edit a crash interrupted.
    Status open(const char *path, Access access, Patience &patience);
    // Takes `fd`, locked, a file this call made for update: it is empty.
    void adopt(Descriptor fd, Patience &patience);

    Io io() const { return Io(fd_.get()); }
    int fd() const { return fd_.get(); }
    off_t size() const { return info_.size; }
    void resize(off_t size) { info_.size = size; }
    const FileInfo &info() const { return info_; }
    OpenFile open_file() const { return {fd_.get(), info_, writable_, *patience_}; }
    // The durable build's side name of the file, where its journal goes.
    Side side() const { return {name_.directory(), name_.side()}; }

  private:
    Status open_locked(const char *path, Access access);
    // The durable build: refuses a file mounted on its own, and puts back
    // the edit a crash interrupted (a journal at the file's side name).
    Status recover();

    Descriptor fd_;
    FileInfo info_;
    bool writable_ = false;
    Patience *patience_ = nullptr;
    // Only the durable build keeps journals, which need the file's name.
    std::conditional_t<durable, Name, NoName> name_;
};

} // namespace iniplace
