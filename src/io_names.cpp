#include "io_names.h"

#include <cstring>

namespace iniplace {

namespace {

// Links followed before a chain counts as a loop, as the kernel counts.
constexpr int most_links = 40;

Status too_long() {
    return failed(Outcome::not_opened, Op::name, ENAMETOOLONG);
}

// Whether someone else than the caller or root may write the directory
// `holder` tells of: by its mode, or as its owner, who can change the mode.
bool shared(const FileInfo &holder) {
    const uid_t caller = io::user();
    return (holder.mode & 022) != 0 || (holder.owner != caller && holder.owner != 0);
}

// Whether the link `link` in the directory `directory` may be followed: a
// link of the caller's or root's (of one name: another user could have
// linked one of root's links to hers), or any link in a directory nobody
// else may write.
Status judge(int directory, const FileInfo &link) {
    FileInfo holder;
    if (const Status found = io::stat(directory, holder); !found.ok())
        return found;
    const uid_t caller = io::user();
    const bool trusted_link = (link.owner == caller || link.owner == 0) && link.links == 1;
    return trusted_link || !shared(holder) ? Status() : failed(Outcome::foreign_link, Op::name);
}

// Reads the target of the link open as `link` into `rest` (PATH_MAX bytes)
// in front of what is left of the path from `left` on: target/left.
Status splice(int link, char *rest, std::size_t left) {
    const std::size_t kept = std::strlen(rest + left);
    if (kept + 2 >= PATH_MAX)
        return too_long();
    char *const end = rest + PATH_MAX - kept - 1;
    std::memmove(end, rest + left, kept + 1);
    if (const Status read = io::read_link(link, rest, PATH_MAX - kept - 2); !read.ok())
        return read;
    const std::size_t target = std::strlen(rest);
    if (kept > 0)
        rest[target] = '/';
    std::memmove(rest + target + (kept > 0 ? 1 : 0), end, kept + 1);
    return {};
}

bool is_dot(std::string_view name) {
    return name == "." || name == "..";
}

} // namespace

Status Name::resolve(const char *path) {
    links_ = 0;
    const std::size_t length = std::strlen(path);
    if (length == 0)
        return failed(Outcome::missing, Op::open, ENOENT);
    if (length >= PATH_MAX)
        return too_long();
    // A name that ends in a slash names a directory.
    if (path[length - 1] == '/')
        return failed(Outcome::not_regular, Op::open, EISDIR);
    char rest[PATH_MAX];
    std::memcpy(rest, path, length + 1);
    // Most directories are reached without a link: in one step, where the
    // kernel can take it.
    if (const char *slash = std::strrchr(rest, '/'); slash != nullptr) {
        const auto cut = static_cast<std::size_t>(slash - rest);
        rest[cut] = '\0';
        const Status direct = io::open_direct(cut == 0 ? "/" : rest, Open::directory, directory_);
        rest[cut] = '/';
        if (direct.ok())
            return set_base(slash + 1);
        if (!direct.is(Outcome::linked))
            return direct;
    }
    // A path from the root starts there in walk().
    const Status opened = rest[0] == '/' ? Status() : io::open(".", Open::directory, directory_);
    return opened.ok() ? walk(rest) : opened;
}

namespace {

// The first component of a path: [start, end), and where the next starts.
struct Component {
    std::size_t start = 0, end = 0, next = 0;
};

Component first_component(const char *rest) {
    Component c;
    while (rest[c.start] == '/')
        ++c.start;
    c.end = c.start;
    while (rest[c.end] != '\0' && rest[c.end] != '/')
        ++c.end;
    c.next = c.end;
    while (rest[c.next] == '/')
        ++c.next;
    return c;
}

} // namespace

Status Name::walk(char *rest) {
    for (;;) {
        // A step from the root opens "/name" as one: "/" alone may be
        // another directory to an emulator that prefixes absolute names.
        const bool from_root = rest[0] == '/';
        const Component c = first_component(rest);
        // The root holds a last component, and judges a link in it.
        if (from_root) {
            if (const Status opened = io::open("/", Open::directory, directory_); !opened.ok())
                return opened;
        }
        const std::string_view component(rest + c.start, c.end - c.start);
        if (rest[c.next] != '\0') {
            if (const Status stepped = step(rest, c.start, c.end, c.next, from_root); !stepped.ok())
                return stepped;
            continue;
        }
        // The last component: the file's name, if it can be one.
        if (component.empty() || is_dot(component))
            return failed(Outcome::not_regular, Op::open, EISDIR);
        return set_base(component);
    }
}

Status Name::step(char *rest, std::size_t start, std::size_t end, std::size_t next,
                  bool from_root) {
    rest[end] = '\0';
    Descriptor step;
    FileInfo info;
    Status status = from_root ? io::open(rest + start - 1, Open::path, step)
                              : io::open(directory_.get(), rest + start, Open::path, step);
    if (status.ok())
        status = io::stat(step.get(), info);
    if (!status.ok())
        return status;
    // A link: what it names takes its place in the path.
    if (info.link) {
        if (++links_ > most_links)
            return failed(Outcome::not_opened, Op::name, ELOOP);
        status = judge(directory_.get(), info);
        return status.ok() ? splice(step.get(), rest, next) : status;
    }
    if (!info.directory)
        return failed(Outcome::not_opened, Op::open, ENOTDIR);
    directory_ = std::move(step);
    std::memmove(rest, rest + next, std::strlen(rest + next) + 1);
    return {};
}

Status Name::set_base(std::string_view name) {
    if (name.size() > NAME_MAX)
        return too_long();
    std::memcpy(base_, name.data(), name.size());
    base_[name.size()] = '\0';
    // A name so long that no side name fits beside it has none.
    side_[0] = '\0';
    if (name.size() + side_suffix.size() <= NAME_MAX) {
        std::memcpy(side_, name.data(), name.size());
        std::memcpy(side_ + name.size(), side_suffix.data(), side_suffix.size());
        side_[name.size() + side_suffix.size()] = '\0';
    }
    return {};
}

Status Name::follow_link() {
    if (++links_ > most_links)
        return failed(Outcome::not_opened, Op::name, ELOOP);
    Descriptor link;
    FileInfo info;
    Status status = io::open(directory_.get(), base_, Open::path, link);
    if (status.ok())
        status = io::stat(link.get(), info);
    // Replaced by something else meanwhile (a link that has no name left):
    // looked at again.
    if (!status.ok() || !info.link || info.links == 0)
        return status;
    char rest[PATH_MAX];
    rest[0] = '\0';
    if (status = judge(directory_.get(), info); status.ok())
        status = splice(link.get(), rest, 0);
    return status.ok() ? walk(rest) : status;
}

Status Name::open(Open how, Follow follow, Descriptor &fd) {
    for (;;) {
        Status status = io::open(directory_.get(), base_, how, fd);
        FileInfo info;
        if (status.ok() && how == Open::path && io::stat(fd.get(), info).ok() && info.link)
            status = failed(Outcome::linked, Op::open, ELOOP);
        if (!status.is(Outcome::linked))
            return status;
        fd.reset();
        if (follow == Follow::no)
            return failed(Outcome::linked, Op::name, ELOOP);
        if (status = follow_link(); !status.ok())
            return status;
    }
}

Status lone_or_private(const char *path, const FileInfo &file) {
    if (file.links <= 1)
        return {};
    Name name;
    Descriptor fd;
    FileInfo holder;
    Status status = name.resolve(path);
    if (status.ok())
        status = name.open(Open::path, Follow::links, fd);
    if (status.ok())
        status = io::stat(name.directory(), holder);
    return status.ok() && shared(holder) ? failed(Outcome::foreign_link, Op::stat) : status;
}

Status reaches(const char *path, const FileInfo &info) {
    Descriptor fd;
    FileInfo now;
    Status status = io::open_direct(path, Open::path, fd);
    if (status.ok() && (status = io::stat(fd.get(), now)).ok() && now.link)
        status = failed(Outcome::linked, Op::open, ELOOP);
    if (status.is(Outcome::linked)) {
        Name name;
        status = name.resolve(path);
        if (status.ok())
            status = name.open(Open::path, Follow::links, fd);
        if (status.ok())
            status = io::stat(fd.get(), now);
    }
    if (status.is(Outcome::missing) || (status.ok() && !same_file(now, info)))
        return failed(Outcome::replaced, Op::stat);
    return status;
}

} // namespace iniplace
