#include "journal.h"

#include "move.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace iniplace {

namespace {

constexpr std::string_view suffix = "-journal";
constexpr char magic[8] = {'i', 'n', 'i', 'p', 'l', 'j', '1', '\n'};

// The journal: this header, then the saved bytes.
struct Header {
    char magic[8];
    std::uint64_t old_size; // of the file before the edit
    std::uint64_t new_size; // and after it
    std::uint64_t at;       // where the change starts
    std::uint64_t saved;    // bytes saved from `at` on
    std::uint64_t device;   // the file's device and inode: a journal fits
    std::uint64_t inode;    // no other file
    std::uint64_t checksum; // of the fields above and the saved bytes
};
constexpr auto header_size = static_cast<off_t>(sizeof(Header));

// FNV-1a over 64 bits: enough to tell a journal cut short from a whole one.
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

// PATH-journal; false when the name would be too long.
bool journal_name(const char *path, char (&name)[PATH_MAX]) {
    const std::size_t length = std::strlen(path);
    if (length + suffix.size() >= sizeof name)
        return false;
    std::memcpy(name, path, length);
    std::memcpy(name + length, suffix.data(), suffix.size());
    name[length + suffix.size()] = '\0';
    return true;
}

// Adds the bytes passing through a copy to a checksum.
struct Summing {
    std::uint64_t *sum;
    void operator()(std::string_view bytes) const { *sum = add_to_checksum(*sum, bytes); }
};

// What a file by the journal's name holds.
enum class Kind {
    foreign,    // not a journal: it is left alone
    incomplete, // cut short: the file it was for was never touched
    whole,      // complete, if its checksum matches
};

Kind read_header(int journal, off_t size, Header &header) {
    if (size == 0)
        return Kind::incomplete; // created, nothing written yet
    std::size_t got = 0;
    if (!io::read(journal, reinterpret_cast<char *>(&header), sizeof header, 0, got).ok() ||
        got < sizeof magic || std::memcmp(header.magic, magic, sizeof magic) != 0)
        return Kind::foreign;
    return got == sizeof header && header.at <= header.old_size &&
                   header.saved <= header.old_size - header.at &&
                   size == header_size + static_cast<off_t>(header.saved)
               ? Kind::whole
               : Kind::incomplete;
}

bool checksum_matches(int journal, const Header &header, Buffer block) {
    std::uint64_t sum = header_checksum(header);
    return read_blocks(Io(journal), header_size, static_cast<off_t>(header.saved), block,
                       [&sum](std::string_view bytes, off_t) {
                           sum = add_to_checksum(sum, bytes);
                           return Status();
                       })
               .ok() &&
           sum == header.checksum;
}

// Whether a complete journal was made for this very file, as the edit could
// have left it: the same inode, a size between the old and the new one.
bool fits(const Header &header, const FileInfo &file) {
    const auto size = static_cast<std::uint64_t>(file.size);
    return header.device == static_cast<std::uint64_t>(file.device) &&
           header.inode == static_cast<std::uint64_t>(file.inode) &&
           size >= std::min(header.old_size, header.new_size) &&
           size <= std::max(header.old_size, header.new_size);
}

// Puts the saved bytes back and gives the file its old size.
Status undo(int journal, int file, const Header &header, Buffer block) {
    Status done = copy_bytes(Io(journal), header_size, Io(file), static_cast<off_t>(header.at),
                             static_cast<off_t>(header.saved), block, Unseen());
    if (done.ok())
        done = io::truncate(file, static_cast<off_t>(header.old_size));
    return done.ok() ? io::sync(file) : done;
}

// Removes a journal; one that cannot be removed is emptied, which makes it
// incomplete, so it is never applied again.
Status discard(const char *name, int journal) {
    if (!io::unlink(name).ok()) {
        if (const Status emptied = io::truncate(journal, 0); !emptied.ok())
            return emptied;
    }
    (void)io::sync_directory(name);
    return {};
}

Status unsafe(const Status &why) {
    return failed(Outcome::unsafe, why.op, why.error);
}

// The file itself, for writing if this call may, else for reading.
Status open_file(const char *path, Descriptor &fd, bool &writable) {
    Status opened = io::open(path, Open::update, fd);
    writable = opened.ok();
    if (!opened.ok() && opened.error != ENOENT)
        opened = io::open(path, Open::read, fd);
    return opened;
}

} // namespace

namespace {

// Puts back a whole journal that fits the file at `path`; a file that is
// missing or that it does not fit is left alone.
Status apply(const char *path, int journal, const FileInfo &info, Header &header) {
    // The file itself, for writing if this call may; who owns it decides
    // whose journal is acted on: its owner's, root's or this user's.
    bool writable = false;
    Descriptor file;
    FileInfo file_info;
    const bool present =
        open_file(path, file, writable).ok() && io::stat(file.get(), file_info).ok();
    if (info.owner != 0 && info.owner != io::user() && !(present && info.owner == file_info.owner))
        return failed(Outcome::unsafe, Op::open, EACCES);
    char bytes[1024];
    const Buffer block{bytes, sizeof bytes};
    if (!present || read_header(journal, info.size, header) != Kind::whole ||
        !fits(header, file_info) || !checksum_matches(journal, header, block))
        return {};
    if (!writable)
        return failed(Outcome::unsafe, Op::open, EACCES);
    const auto largest = std::max(file_info.size, static_cast<off_t>(header.old_size));
    if (const Status within = io::within_size_limit(largest); !within.ok())
        return within;
    return undo(journal, file.get(), header, block);
}

} // namespace

Status recover(const char *path) {
    char name[PATH_MAX];
    if (!journal_name(path, name))
        return {};
    Descriptor journal;
    // No journal there, or something else by its name (a directory, a
    // symbolic link): nothing to put back.
    if (const Status found = io::open(name, Open::found, journal); !found.ok())
        return found.error == EACCES || found.error == EPERM ? unsafe(found) : Status();
    FileInfo info;
    Status status = io::lock(journal.get(), Lock::exclusive);
    if (status.ok())
        status = io::stat(journal.get(), info);
    if (!status.ok())
        return unsafe(status);
    Header header;
    // Removed while this call waited (the edit ended), or not a journal.
    if (info.links != 1 || !info.regular ||
        read_header(journal.get(), info.size, header) == Kind::foreign)
        return {};
    status = apply(path, journal.get(), info, header);
    if (status.ok())
        status = discard(name, journal.get());
    return status.ok() || status.outcome == Outcome::unsafe ? status : unsafe(status);
}

Status Journal::begin(const char *path, int fd, off_t size, off_t at, off_t changed, off_t new_size,
                      Buffer scratch) {
    fd_ = fd;
    FileInfo info;
    if (!journal_name(path, name_))
        return {};
    if (const Status known = io::stat(fd, info); !known.ok())
        return known;
    if (const Status within = io::within_size_limit(header_size + changed); !within.ok())
        return within;
    // Where no journal may be made the edit goes on without one; a file by
    // the journal's name that recovery left alone is not ours.
    if (const Status created = create(); !created.ok()) {
        const int error = created.error;
        const bool may_go_on = error == EACCES || error == EPERM || error == EROFS ||
                               error == EEXIST || error == ENAMETOOLONG;
        return may_go_on ? Status() : created;
    }
    // Whoever may write the file may empty its journal.
    io::set_mode(journal_.get(), info.mode & 0666);
    Header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.old_size = static_cast<std::uint64_t>(size);
    header.new_size = static_cast<std::uint64_t>(new_size);
    header.at = static_cast<std::uint64_t>(at);
    header.saved = static_cast<std::uint64_t>(changed);
    header.device = static_cast<std::uint64_t>(info.device);
    header.inode = static_cast<std::uint64_t>(info.inode);
    header.checksum = header_checksum(header);
    // The magic goes first, so a journal cut short is known as one.
    const Io journal(journal_.get());
    const char *const header_bytes = reinterpret_cast<const char *>(&header);
    Status saved = journal.write(header_bytes, sizeof magic, 0);
    if (saved.ok())
        saved = copy_bytes(Io(fd), at, journal, header_size, changed, scratch,
                           Summing{&header.checksum});
    if (saved.ok())
        saved = journal.write(header_bytes, sizeof header, 0);
    if (saved.ok())
        saved = io::sync(journal_.get());
    if (saved.ok())
        saved = io::sync_directory(name_);
    if (saved.ok())
        return {};
    // No room for the journal, or it would not last: the edit is not made.
    (void)io::unlink(name_);
    journal_.reset();
    return saved;
}

Status Journal::create() {
    // A call that finds the journal before it is locked may remove it as
    // one cut short: then it is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (const Status opened = io::open(name_, Open::fresh, journal_); !opened.ok())
            return opened;
        FileInfo info;
        if (io::lock(journal_.get(), Lock::exclusive).ok() && io::stat(journal_.get(), info).ok() &&
            info.links == 1)
            return {};
        journal_.reset();
    }
    return failed(Outcome::not_written, Op::open, EAGAIN);
}

void Journal::finish(const Status &edit, Buffer scratch) {
    if (!journal_)
        return;
    // A failed undo or sync keeps the journal for the next call.
    Header header;
    std::size_t got = 0;
    bool kept =
        !edit.ok() &&
        !(io::read(journal_.get(), reinterpret_cast<char *>(&header), sizeof header, 0, got).ok() &&
          got == sizeof header && undo(journal_.get(), fd_, header, scratch).ok());
    kept = !io::sync(fd_).ok() || kept;
    if (!kept)
        (void)discard(name_, journal_.get());
    journal_.reset();
}

} // namespace iniplace
