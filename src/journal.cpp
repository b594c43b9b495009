#include "journal.h"

#include "io.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
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
void sync_directory(char *name) {
    char *const slash = std::strrchr(name, '/');
    const char kept = slash != nullptr ? slash[1] : '\0';
    if (slash != nullptr)
        slash[1] = '\0';
    const int directory = ::open(slash != nullptr ? name : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (slash != nullptr)
        slash[1] = kept;
    if (directory >= 0) {
        (void)::fsync(directory);
        ::close(directory);
    }
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

// A journal written to its end: its header holds together and its
// checksum matches what follows it.
bool is_complete(int journal, Header &header, Buffer block) {
    if (Io(journal).read(reinterpret_cast<char *>(&header), sizeof header, 0) != header_size ||
        std::memcmp(header.magic, magic, sizeof magic) != 0 || header.at > header.old_size ||
        header.saved > header.old_size - header.at ||
        size_of(journal) != header_size + static_cast<off_t>(header.saved))
        return false;
    std::uint64_t sum = header_checksum(header);
    return copy(journal, header_size, -1, 0, static_cast<off_t>(header.saved), block, &sum) &&
           sum == header.checksum;
}

// Puts the saved bytes back and gives the file its old size.
bool undo(int journal, int file, const Header &header, Buffer block) {
    return copy(journal, header_size, file, static_cast<off_t>(header.at),
                static_cast<off_t>(header.saved), block, nullptr) &&
           ::ftruncate(file, static_cast<off_t>(header.old_size)) == 0 && ::fsync(file) == 0;
}

// Removes a journal; one that cannot be removed is emptied, which makes it
// incomplete, so it is never applied again.
void discard(char *name, int journal) {
    if (::unlink(name) != 0)
        (void)::ftruncate(journal, 0);
    sync_directory(name);
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
    constexpr int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    const int journal = ::open(name, O_RDWR | flags);
    return journal >= 0 || errno != EACCES ? journal : ::open(name, O_RDONLY | flags);
}

} // namespace

bool recover(const char *path) {
    char name[PATH_MAX];
    if (!journal_name(path, name))
        return true;
    const Descriptor journal(open_journal(name));
    if (journal.get() < 0)
        return errno == ENOENT || errno == ENOTDIR;
    char bytes[1024];
    const Buffer block{bytes, sizeof bytes};
    Header header;
    if (!is_complete(journal.get(), header, block)) {
        // Cut short: the file was never touched.
        discard(name, journal.get());
        return true;
    }
    const Descriptor file(::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0 && errno != ENOENT)
        return false;
    // A file of another size than the edit could leave is not the one the
    // journal was made for.
    const off_t size = file.get() >= 0 ? size_of(file.get()) : -1;
    const auto low = static_cast<off_t>(std::min(header.old_size, header.new_size));
    const auto high = static_cast<off_t>(std::max(header.old_size, header.new_size));
    if (size >= low && size <= high && !undo(journal.get(), file.get(), header, block))
        return false;
    discard(name, journal.get());
    return true;
}

Journal::Journal(const char *path, int fd, off_t size, off_t at, off_t changed, off_t new_size,
                 Buffer scratch)
    : fd_(fd) {
    struct stat info;
    if (!journal_name(path, name_) || ::fstat(fd, &info) != 0)
        return;
    journal_ =
        ::open(name_, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, info.st_mode & 0666);
    if (journal_ < 0)
        return;
    Header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.old_size = static_cast<std::uint64_t>(size);
    header.new_size = static_cast<std::uint64_t>(new_size);
    header.at = static_cast<std::uint64_t>(at);
    header.saved = static_cast<std::uint64_t>(changed);
    header.checksum = header_checksum(header);
    if (copy(fd, at, journal_, header_size, changed, scratch, &header.checksum) &&
        Io(journal_).write(reinterpret_cast<const char *>(&header), sizeof header, 0) &&
        ::fsync(journal_) == 0) {
        sync_directory(name_);
        return;
    }
    // No journal after all: the edit goes on as without one.
    (void)::unlink(name_);
    ::close(journal_);
    journal_ = -1;
}

void Journal::finish(bool done, Buffer scratch) {
    if (journal_ < 0)
        return;
    Header header;
    if (!done &&
        Io(journal_).read(reinterpret_cast<char *>(&header), sizeof header, 0) == header_size)
        (void)undo(journal_, fd_, header, scratch);
    (void)::fsync(fd_);
    discard(name_, journal_);
    ::close(journal_);
    journal_ = -1;
}

Journal::~Journal() {
    if (journal_ >= 0)
        ::close(journal_);
}

} // namespace iniplace
