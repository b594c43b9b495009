#include "io_names.h"

#include <cstring>
#include <string_view>

namespace iniplace {

namespace {

constexpr std::string_view suffix = "-journal";
// Links followed before a chain counts as a loop, as the kernel counts.
constexpr int most_links = 40;

// `directory` (the first `length` bytes of a name, up to and with its last
// slash) and `base` joined into `name`.
Status join(const char *directory, std::size_t length, const char *base, char *name,
            std::size_t size) {
    const std::size_t base_length = std::strlen(base);
    if (length + base_length >= size)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    std::memmove(name + length, base, base_length + 1);
    std::memmove(name, directory, length);
    return {};
}

// The length of the directory part of `path`: up to and with its last
// slash; 0 when it has none.
std::size_t directory_length(const char *path) {
    const char *const slash = std::strrchr(path, '/');
    return slash != nullptr ? static_cast<std::size_t>(slash - path) + 1 : 0;
}

// Whether the link `path` (`link`) may be followed: not one another user
// made in a directory others may write (sticky or not; the kernel guards
// only sticky ones, and only where fs.protected_symlinks is on), unless
// the directory is hers.
Status followed_safely(const char *path, const FileInfo &link) {
    char directory[PATH_MAX];
    const std::size_t length = directory_length(path);
    std::memcpy(directory, length > 0 ? path : ".", length > 0 ? length : 1);
    directory[length > 0 ? length : 1] = '\0';
    FileInfo holder;
    if (const Status found = io::stat(directory, Follow::links, holder); !found.ok())
        return found;
    const bool shared = (holder.mode & 022) != 0;
    if (shared && link.owner != io::user() && link.owner != holder.owner)
        return failed(Outcome::untrusted, Op::name);
    return {};
}

} // namespace

Status SideName::of_file(int fd, const char *path) {
    const std::size_t room = sizeof name_ - suffix.size();
    Status named = io::name_of(fd, name_, room);
    if (named.is(Outcome::missing))
        named = io::real_path(path, name_, room);
    return named.ok() ? add_suffix() : named;
}

Status SideName::of_missing(const char *path) {
    const std::size_t length = directory_length(path);
    const char *const base = path + length;
    if (*base == '\0')
        return failed(Outcome::not_regular, Op::open, EISDIR);
    char directory[PATH_MAX];
    if (length >= sizeof directory)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    std::memcpy(directory, length > 0 ? path : ".", length > 0 ? length : 1);
    directory[length > 0 ? length : 1] = '\0';
    Descriptor opened;
    if (const Status found = io::open(directory, Open::directory, opened); !found.ok())
        return found;
    const std::size_t room = sizeof name_ - suffix.size();
    Status named = io::name_of(opened.get(), name_, room);
    if (named.is(Outcome::missing))
        named = io::real_path(directory, name_, room);
    if (!named.ok())
        return named;
    const std::size_t resolved = std::strcmp(name_, "/") == 0 ? 0 : std::strlen(name_);
    if (resolved + 1 >= room)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    name_[resolved] = '/';
    if (const Status joined = join(name_, resolved + 1, base, name_, room); !joined.ok())
        return joined;
    return add_suffix();
}

Status SideName::add_suffix() {
    const std::size_t length = std::strlen(name_);
    if (length + suffix.size() >= sizeof name_)
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    std::memcpy(name_ + length, suffix.data(), suffix.size());
    name_[length + suffix.size()] = '\0';
    return {};
}

namespace {

// One step along a chain of links: `target` becomes what the link there
// names. Outcome::missing when nothing stands at `target`: the chain ends.
Status follow_link(Follow follow, char *target, std::size_t size) {
    FileInfo info;
    const Status found = io::stat(target, Follow::no, info);
    if (!found.ok())
        return found;
    if (!info.link)
        return failed(Outcome::exists, Op::stat);
    if (follow == Follow::no)
        return failed(Outcome::not_regular, Op::name);
    if (const Status trusted = followed_safely(target, info); !trusted.ok())
        return trusted;
    char link[PATH_MAX];
    if (const Status read = io::read_link(target, link, sizeof link); !read.ok())
        return read;
    const std::size_t kept = link[0] == '/' ? 0 : directory_length(target);
    return join(target, kept, link, target, size);
}

} // namespace

Status link_target(const char *path, Follow follow, char *target, std::size_t size) {
    if (const std::size_t length = std::strlen(path); length < size)
        std::memcpy(target, path, length + 1);
    else
        return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
    for (int followed = 0; followed <= most_links; ++followed) {
        const Status step = follow_link(follow, target, size);
        if (step.is(Outcome::missing))
            return {};
        if (!step.ok())
            return step;
    }
    return failed(Outcome::not_opened, Op::name, ELOOP);
}

} // namespace iniplace
