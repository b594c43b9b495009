#include "journal.h"

#include "io.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
std::uint64_t add_to_checksum(std::uint64_t sum, const char *data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        sum = (sum ^ static_cast<unsigned char>(data[i])) * 0x100000001b3ULL;
    return sum;
}

std::uint64_t header_checksum(const Header &header) {
    return add_to_checksum(checksum_start, reinterpret_cast<const char *>(&header),
                           offsetof(Header, checksum));
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

// Syncs the directory of `name`, so that a journal made or removed there
// stays made or removed.
bool sync_directory(char *name) {
    char *const slash = std::strrchr(name, '/');
    const char kept = slash != nullptr ? slash[1] : '\0';
    if (slash != nullptr)
        slash[1] = '\0';
    const int directory = ::open(slash != nullptr ? name : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (slash != nullptr)
        slash[1] = kept;
    const bool synced = directory >= 0 && ::fsync(directory) == 0;
    if (directory >= 0)
        ::close(directory);
    return synced;
}

// Copies `length` bytes from `from` at `from_at` to `to` at `to_at`, and
// adds them to `sum` when it is given.
bool copy(int from, off_t from_at, int to, off_t to_at, off_t length, Buffer block,
          std::uint64_t *sum) {
    const Io source(from), target(to);
    while (length > 0) {
        const auto count =
            static_cast<std::size_t>(std::min<off_t>(length, static_cast<off_t>(block.size)));
        if (source.read(block.data, count, from_at) != static_cast<ssize_t>(count) ||
            (to >= 0 && !target.write(block.data, count, to_at)))
            return false;
        if (sum != nullptr)
            *sum = add_to_checksum(*sum, block.data, count);
        from_at += static_cast<off_t>(count);
        to_at += static_cast<off_t>(count);
        length -= static_cast<off_t>(count);
    }
    return true;
}

off_t size_of(int fd) {
    struct stat info;
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : -1;
}

// What a file by the journal's name holds.
enum class Kind {
    foreign,    // not a journal: it is left alone
    incomplete, // cut short: the file it was for was never touched
    whole,      // complete, if its checksum matches
};

Kind read_header(int journal, Header &header) {
    const off_t size = size_of(journal);
    if (size == 0)
        return Kind::incomplete; // created, nothing written yet
    const ssize_t got = Io(journal).read(reinterpret_cast<char *>(&header), sizeof header, 0);
    if (got < static_cast<ssize_t>(sizeof magic) ||
        std::memcmp(header.magic, magic, sizeof magic) != 0)
        return Kind::foreign;
    return got == header_size && header.at <= header.old_size &&
                   header.saved <= header.old_size - header.at &&
                   size == header_size + static_cast<off_t>(header.saved)
               ? Kind::whole
               : Kind::incomplete;
}

bool checksum_matches(int journal, const Header &header, Buffer block) {
    std::uint64_t sum = header_checksum(header);
    return copy(journal, header_size, -1, 0, static_cast<off_t>(header.saved), block, &sum) &&
           sum == header.checksum;
}

// Whether a complete journal was made for this very file, as the edit could
// have left it: the same inode, a size between the old and the new one.
bool fits(const Header &header, const struct stat &file) {
    const auto size = static_cast<std::uint64_t>(file.st_size);
    return header.device == static_cast<std::uint64_t>(file.st_dev) &&
           header.inode == static_cast<std::uint64_t>(file.st_ino) &&
           size >= std::min(header.old_size, header.new_size) &&
           size <= std::max(header.old_size, header.new_size);
}

// Puts the saved bytes back and gives the file its old size.
bool undo(int journal, int file, const Header &header, Buffer block) {
    return copy(journal, header_size, file, static_cast<off_t>(header.at),
                static_cast<off_t>(header.saved), block, nullptr) &&
           ::ftruncate(file, static_cast<off_t>(header.old_size)) == 0 && ::fsync(file) == 0;
}

// Removes a journal; one that cannot be removed is emptied, which makes it
// incomplete, so it is never applied again. False when neither works.
bool discard(char *name, int journal) {
    if (::unlink(name) != 0 && ::ftruncate(journal, 0) != 0)
        return false;
    (void)sync_directory(name);
    return true;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

int open_journal(const char *name) {
    constexpr int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    const int journal = ::open(name, O_RDWR | flags);
    return journal >= 0 || errno != EACCES ? journal : ::open(name, O_RDONLY | flags);
}

// An edit holds its journal locked from before it is written until it is
// removed, so a call that finds one waits for the edit to end instead of
// undoing it half-way; a crashed edit holds no lock.
bool lock(int journal) {
    int locked;
    while ((locked = ::flock(journal, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return locked == 0;
}

// The file, for writing if this call may, else for reading.
int open_file(const char *path, bool &writable) {
    constexpr int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const int fd = ::open(path, O_RDWR | flags);
    writable = fd >= 0;
    return fd >= 0 || errno == ENOENT ? fd : ::open(path, O_RDONLY | flags);
}

} // namespace

bool recover(const char *path) {
    char name[PATH_MAX];
    if (!journal_name(path, name))
        return true;
    const Descriptor journal(open_journal(name));
    struct stat info;
    // No journal there, or something else by its name (a directory, a
    // symbolic link, a name too long): nothing to put back.
    if (journal.get() < 0)
        return errno != EACCES && errno != EPERM;
    if (!lock(journal.get()) || ::fstat(journal.get(), &info) != 0)
        return false;
    Header header;
    // Removed while this call waited (the edit ended), or not a journal.
    if (info.st_nlink != 1 || !S_ISREG(info.st_mode) ||
        read_header(journal.get(), header) == Kind::foreign)
        return true;
    // The file itself, for writing if this call may; who owns it decides
    // whose journal is acted on: its owner's, root's or this user's.
    bool writable = false;
    const Descriptor file(open_file(path, writable));
    struct stat file_info;
    const bool present = file.get() >= 0 && ::fstat(file.get(), &file_info) == 0;
    if (info.st_uid != 0 && info.st_uid != ::geteuid() &&
        !(present && info.st_uid == file_info.st_uid))
        return false;
    char bytes[1024];
    const Buffer block{bytes, sizeof bytes};
    if (present && read_header(journal.get(), header) == Kind::whole && fits(header, file_info) &&
        checksum_matches(journal.get(), header, block) &&
        (!writable ||
         !within_size_limit(std::max(file_info.st_size, static_cast<off_t>(header.old_size))) ||
         !undo(journal.get(), file.get(), header, block)))
        return false;
    return discard(name, journal.get());
}

Journal::Journal(const char *path, int fd, off_t size, off_t at, off_t changed, off_t new_size,
                 Buffer scratch)
    : fd_(fd) {
    struct stat info;
    if (!journal_name(path, name_))
        return;
    if (::fstat(fd, &info) != 0 || !within_size_limit(header_size + changed)) {
        refused_ = true;
        return;
    }
    // Where no journal may be made the edit goes on without one; a file by
    // the journal's name that recovery left alone is not ours.
    if (!create()) {
        refused_ = journal_ == -2;
        journal_ = -1;
        return;
    }
    // Whoever may write the file may empty its journal.
    (void)::fchmod(journal_, info.st_mode & 0666);
    Header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.old_size = static_cast<std::uint64_t>(size);
    header.new_size = static_cast<std::uint64_t>(new_size);
    header.at = static_cast<std::uint64_t>(at);
    header.saved = static_cast<std::uint64_t>(changed);
    header.device = static_cast<std::uint64_t>(info.st_dev);
    header.inode = static_cast<std::uint64_t>(info.st_ino);
    header.checksum = header_checksum(header);
    // The magic goes first, so a journal cut short is known as one.
    const Io io(journal_);
    const char *const header_bytes = reinterpret_cast<const char *>(&header);
    if (io.write(header_bytes, sizeof magic, 0) &&
        copy(fd, at, journal_, header_size, changed, scratch, &header.checksum) &&
        io.write(header_bytes, sizeof header, 0) && ::fsync(journal_) == 0 && sync_directory(name_))
        return;
    // No room for the journal, or it would not last: the edit is not made.
    (void)::unlink(name_);
    ::close(journal_);
    journal_ = -1;
    refused_ = true;
}

bool Journal::create() {
    // A call that finds the journal before it is locked may remove it as
    // one cut short: then it is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        journal_ = ::open(name_, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (journal_ < 0) {
            const bool may_go_on = errno == EACCES || errno == EPERM || errno == EROFS ||
                                   errno == EEXIST || errno == ENAMETOOLONG;
            journal_ = may_go_on ? -1 : -2;
            return false;
        }
        struct stat info;
        if (lock(journal_) && ::fstat(journal_, &info) == 0 && info.st_nlink == 1)
            return true;
        ::close(journal_);
    }
    journal_ = -2;
    return false;
}

void Journal::finish(bool done, Buffer scratch) {
    if (journal_ < 0)
        return;
    // A failed undo or sync keeps the journal for the next call.
    Header header;
    bool kept = !done && !(Io(journal_).read(reinterpret_cast<char *>(&header), sizeof header, 0) ==
                               header_size &&
                           undo(journal_, fd_, header, scratch));
    kept = ::fsync(fd_) != 0 || kept;
    if (!kept)
        (void)discard(name_, journal_);
    ::close(journal_);
    journal_ = -1;
}

Journal::~Journal() {
    if (journal_ >= 0)
        ::close(journal_);
}

} // namespace iniplace
