#include "journal.h"

#include "move.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace iniplace {

namespace {

constexpr std::string_view suffix = "-journal";
// The magic starts with a zero byte, with which no file the library
// creates starts: a new file made under the journal's name before it is
// linked into place is never taken for a journal.
constexpr char magic[8] = {'\0', 'i', 'n', 'i', 'p', 'l', '2', '\n'};

// The journal: this header, then the saved bytes.
struct Header {
    char magic[8];
    std::uint64_t old_size; // of the file before the edits
    std::uint64_t min_size; // the sizes the file may have
    std::uint64_t max_size; // while they run
    std::uint64_t at;       // where the saved bytes start
    std::uint64_t saved;    // how many bytes are saved
    std::uint64_t head_at;  // [head_at, at): bytes the edits never change,
    std::uint64_t head_sum; // and their checksum: the file a journal fits
    std::uint64_t checksum; // of the fields above and the saved bytes
};
constexpr auto header_size = static_cast<off_t>(sizeof(Header));
// How many of the bytes before the change a journal is fitted by.
constexpr off_t head_window = 4096;

// FNV-1a over 64 bits: enough to tell a journal cut short or torn from a
// whole one, and the file it was made for from another.
constexpr std::uint64_t checksum_start = 0xcbf29ce484222325ULL;
std::uint64_t add_to_checksum(std::uint64_t sum, std::string_view bytes) {
    for (const char byte : bytes)
        sum = (sum ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
    return sum;
}

std::uint64_t header_checksum(const Header &header) {
    return add_to_checksum(checksum_start,
                           {reinterpret_cast<const char *>(&header), offsetof(Header, checksum)});
}

Status sum_bytes(int fd, off_t at, off_t length, Buffer block, std::uint64_t &sum) {
    return read_blocks(Io(fd), at, length, block, [&sum](std::string_view bytes, off_t) {
        sum = add_to_checksum(sum, bytes);
        return Status();
    });
}

Status unsafe(const Status &why) {
    return why.ok() || why.outcome == Outcome::unsafe ? why
                                                      : failed(Outcome::unsafe, why.op, why.error);
}

// A judgement of what stands at the journal's name, or of whether a
// journal fits its file; `unread` when a read failed, which settles
// nothing: the journal may hold the only good copy of the file.
enum class Verdict { yes, no, unread };

Verdict verdict(const Status &read, bool holds) {
    return !read.ok() ? Verdict::unread : holds ? Verdict::yes : Verdict::no;
}

// Whether the `size` bytes of `journal` are a whole journal: all its pages
// written, none torn.
Verdict whole(int journal, off_t size, Header &header, Buffer block) {
    std::size_t got = 0;
    const Status read = io::read(journal, reinterpret_cast<char *>(&header), sizeof header, 0, got);
    if (!read.ok() || got != sizeof header || std::memcmp(header.magic, magic, sizeof magic) != 0 ||
        header.at > header.old_size || header.saved > header.old_size - header.at ||
        size != header_size + static_cast<off_t>(header.saved))
        return verdict(read, false);
    std::uint64_t sum = header_checksum(header);
    const Status summed =
        sum_bytes(journal, header_size, static_cast<off_t>(header.saved), block, sum);
    return verdict(summed, sum == header.checksum);
}

// Whether a whole journal was made for the file `fd` (`file`) as it is:
// its size is one the edits could have left, and it holds the bytes before
// the change they never touch. A reboot may give the file another device
// or inode number; its content stays.
Verdict fits(const Header &header, int fd, const FileInfo &file, Buffer block) {
    const auto size = static_cast<std::uint64_t>(file.size);
    if (size < header.min_size || size > header.max_size || size < header.at)
        return Verdict::no;
    std::uint64_t sum = checksum_start;
    const Status summed = sum_bytes(fd, static_cast<off_t>(header.head_at),
                                    static_cast<off_t>(header.at - header.head_at), block, sum);
    return verdict(summed, sum == header.head_sum);
}

// Puts the saved bytes back, gives the file its old size and syncs it.
Status undo(int journal, int fd, const Header &header, Buffer block) {
    Status done = copy_bytes(Io(journal), header_size, Io(fd), static_cast<off_t>(header.at),
                             static_cast<off_t>(header.saved), block, Unseen());
    if (done.ok())
        done = io::truncate(fd, static_cast<off_t>(header.old_size));
    return done.ok() ? io::sync(fd) : done;
}

// Removes what stands at the journal's name, for good.
Status discard(char *name) {
    if (const Status removed = io::unlink(name); !removed.ok() && removed.error != ENOENT)
        return removed;
    return io::sync_directory(name);
}

// Applies the whole journal `journal` (`info`) to the file if it fits.
// Acted on only when made by the file's owner, root or this user; a
// journal or file that cannot be read leaves the file unread.
Status apply(JournalName &name, int journal, const FileInfo &info) {
    const JournalName::Cut cut(name);
    Descriptor file;
    Status opened = io::open(cut.file(), Open::update, file);
    const bool writable = opened.ok();
    if (!writable && opened.error != ENOENT)
        opened = io::open(cut.file(), Open::read, file);
    if (!opened.ok() && opened.error != ENOENT)
        return opened;
    FileInfo file_info;
    if (const Status known = opened.ok() ? io::stat(file.get(), file_info) : Status(); !known.ok())
        return known;
    if (info.owner != 0 && info.owner != io::user() &&
        !(opened.ok() && info.owner == file_info.owner))
        return failed(Outcome::unsafe, Op::open, EACCES);
    char bytes[1024];
    const Buffer block{bytes, sizeof bytes};
    Header header;
    Verdict judged = opened.ok() ? whole(journal, info.size, header, block) : Verdict::no;
    if (judged == Verdict::yes)
        judged = fits(header, file.get(), file_info, block);
    if (judged != Verdict::yes)
        return judged == Verdict::no ? Status() : failed(Outcome::unsafe, Op::read, EIO);
    if (!writable)
        return failed(Outcome::unsafe, Op::open, EACCES);
    const auto largest = std::max(file_info.size, static_cast<off_t>(header.old_size));
    if (const Status within = io::within_size_limit(largest); !within.ok())
        return within;
    return undo(journal, file.get(), header, block);
}

} // namespace

bool still_named(const char *name, int fd, FileInfo &info) {
    FileInfo named;
    return io::stat(fd, info).ok() && io::stat(name, false, named).ok() &&
           named.device == info.device && named.inode == info.inode;
}

Status JournalName::resolve(int fd, const char *path) {
    const std::size_t room = sizeof name_ - suffix.size();
    const Status resolved =
        fd >= 0 ? io::resolve(fd, path, name_, room) : io::resolve_missing(path, name_, room);
    if (!resolved.ok())
        return resolved;
    resolved_ = std::strlen(name_);
    std::memcpy(name_ + resolved_, suffix.data(), suffix.size());
    name_[resolved_ + suffix.size()] = '\0';
    return {};
}

Status recover(JournalName &name) {
    Descriptor journal;
    if (const Status found = io::open(name.get(), Open::found, journal); !found.ok()) {
        // A symbolic link there is removed; a directory stays, and no
        // journal can be made while it does. Whatever cannot be read may
        // hold the only good copy of the file.
        if (found.error == ELOOP) {
            (void)discard(name.get());
            return {};
        }
        const bool nothing = found.error == ENOENT || found.error == EISDIR;
        return nothing ? Status() : unsafe(found);
    }
    FileInfo info;
    if (const Status locked = io::lock(journal.get(), Lock::exclusive); !locked.ok())
        return unsafe(locked);
    if (!still_named(name.get(), journal.get(), info))
        return {};
    if (info.regular) {
        if (const Status applied = apply(name, journal.get(), info); !applied.ok())
            return unsafe(applied);
    }
    // What cannot be removed (a read-only directory) was never applied or
    // is applied again by the next call: the file may be read. No edit can
    // make its journal while it stands there.
    (void)discard(name.get());
    return {};
}

Status Journal::begin(JournalName &name, int fd, off_t size, off_t at, off_t saved, off_t min_size,
                      off_t max_size, Buffer scratch) {
    name_ = &name;
    fd_ = fd;
    start_ = at;
    FileInfo info;
    if (const Status known = io::stat(fd, info); !known.ok())
        return unsafe(known);
    // Another name of the file would not find the journal.
    if (info.links > 1)
        return failed(Outcome::unsafe, Op::stat, EMLINK);
    if (const Status within = io::within_size_limit(header_size + saved); !within.ok())
        return unsafe(within);
    if (const Status made = create(name); !made.ok())
        return made.outcome == Outcome::not_opened && made.error == EEXIST ? made : unsafe(made);
    // Whoever may write the file may empty its journal.
    io::set_mode(journal_.get(), info.mode & 0666);
    const Status saved_bytes = save(fd, size, at, saved, min_size, max_size, scratch);
    if (!saved_bytes.ok()) {
        (void)io::unlink(name.get());
        journal_.reset();
    }
    return unsafe(saved_bytes);
}

Status Journal::create(JournalName &name) {
    // What stands at the name now is another edit's journal, or what a
    // crash left since the file was opened: recovery waits for the one and
    // puts back or removes the other, and the edit starts again from the
    // file as that leaves it. What recovery cannot remove (a directory, a
    // journal in a read-only directory) keeps the edit from its journal.
    Status made = io::open(name.get(), Open::fresh, journal_);
    if (!made.ok() && made.error == EEXIST) {
        if (made = recover(name); !made.ok())
            return made;
        FileInfo left;
        return io::stat(name.get(), false, left).ok()
                   ? failed(Outcome::unsafe, Op::open, EEXIST)
                   : failed(Outcome::not_opened, Op::open, EEXIST);
    }
    if (made.ok())
        made = io::lock(journal_.get(), Lock::exclusive);
    // A call that found it before the lock may have removed it as cut short.
    FileInfo info;
    if (made.ok() && !still_named(name.get(), journal_.get(), info))
        made = failed(Outcome::not_opened, Op::open, EEXIST);
    if (!made.ok())
        journal_.reset();
    return made;
}

Status Journal::save(int fd, off_t size, off_t at, off_t saved, off_t min_size, off_t max_size,
                     Buffer scratch) {
    Header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.old_size = static_cast<std::uint64_t>(size);
    header.min_size = static_cast<std::uint64_t>(min_size);
    header.max_size = static_cast<std::uint64_t>(max_size);
    header.at = static_cast<std::uint64_t>(at);
    header.saved = static_cast<std::uint64_t>(saved);
    header.head_at = static_cast<std::uint64_t>(std::max<off_t>(0, at - head_window));
    header.head_sum = checksum_start;
    Status done = sum_bytes(fd, static_cast<off_t>(header.head_at),
                            at - static_cast<off_t>(header.head_at), scratch, header.head_sum);
    header.checksum = header_checksum(header);
    // The saved bytes go first and the header last, so a journal that a
    // power loss cut short or tore is known as one.
    const Io journal(journal_.get());
    if (done.ok())
        done = copy_bytes(Io(fd), at, journal, header_size, saved, scratch,
                          [&header](std::string_view bytes) {
                              header.checksum = add_to_checksum(header.checksum, bytes);
                          });
    if (done.ok())
        done = journal.write(reinterpret_cast<const char *>(&header), sizeof header, 0);
    if (done.ok())
        done = io::sync(journal_.get());
    return done.ok() ? io::sync_directory(name_->get()) : done;
}

Status Journal::finish(const Status &edits, Buffer scratch) {
    if (!journal_)
        return edits;
    Status status = edits;
    bool keep = false;
    if (!edits.ok()) {
        Header header;
        std::size_t got = 0;
        const Status read =
            io::read(journal_.get(), reinterpret_cast<char *>(&header), sizeof header, 0, got);
        keep =
            !read.ok() || got != sizeof header || !undo(journal_.get(), fd_, header, scratch).ok();
    } else if (const Status synced = io::sync(fd_); !synced.ok()) {
        keep = true;
        status = synced;
    }
    if (!keep)
        (void)discard(name_->get());
    journal_.reset();
    return status;
}

} // namespace iniplace
