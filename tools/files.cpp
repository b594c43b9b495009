#include "files.h"

#include "io_names.h"
#include "output.h"

#include <charconv>

namespace tool {

using namespace iniplace;

namespace {

// The tool reads text whose line ends are single bytes: UTF-8 and the like.
// A UTF-16 file would be read and edited as bytes, and spoilt.
void refuse_utf16(const std::string &path, std::string_view text) {
    if (starts_with(text, "\xFF\xFE") || starts_with(text, "\xFE\xFF"))
        fail(exit_usage, path,
             "starts with a UTF-16 byte-order mark: the tool reads UTF-8 and other text whose "
             "line ends are single bytes");
}

std::string read_standard_input(const std::string &name, std::size_t most) {
    if (input_closed())
        fail(exit_file, "standard input", "closed");
    return read_all(0, name, most);
}

// The descriptor a name of the caller's descriptors stands for, or -1.
int descriptor_named(std::string_view name) {
    constexpr std::string_view descriptors = "/dev/fd/";
    if (name == "/dev/stdin")
        return 0;
    int fd = -1;
    const char *const last = name.data() + name.size();
    if (starts_with(name, descriptors) &&
        std::from_chars(name.data() + descriptors.size(), last, fd).ptr != last)
        return -1;
    return fd;
}

} // namespace

Status read_open(const std::string &path, const File &file, std::string &text) {
    if (static_cast<std::uint64_t>(file.size()) > file_max)
        fail(exit_file, path,
             "larger than " + std::to_string(file_max) + " bytes, which the tool reads whole");
    text.assign(static_cast<std::size_t>(file.size()), '\0');
    std::size_t got = 0;
    const Status read = io::read(file.fd(), text.data(), text.size(), 0, got);
    text.resize(got);
    refuse_utf16(path, text);
    return read;
}

std::string read_all(int fd, const std::string &name, std::size_t most) {
    std::string text;
    char chunk[65536];
    for (std::size_t got = 1; got > 0;) {
        if (const Status read = io::read_on(fd, chunk, sizeof chunk, got); !read.ok())
            fail_file(name, read);
        if (text.size() + got > most)
            fail(exit_usage, name,
                 "longer than " + std::to_string(most) + " bytes; nothing written");
        text.append(chunk, got);
    }
    return text;
}

bool read_file(const Call &call, std::string &text, bool missing_ok) {
    if (call.file() == "-") {
        text = read_standard_input(input_name("-"), file_max);
        refuse_utf16(input_name("-"), text);
        return true;
    }
    File file;
    Patience patience;
    Status status = file.open(call.file().c_str(), Access::read, patience);
    if (status.is(Outcome::missing) && missing_ok)
        return false;
    if (status.ok())
        status = read_open(call.file(), file, text);
    if (!status.ok())
        fail_file(call.file(), status);
    return true;
}

Document read_document(const Call &call) {
    std::string text;
    (void)read_file(call, text); // true, or it failed: a missing file too
    return Document(std::move(text), call.dialect());
}

std::string input_name(const std::string &name) {
    return name == "-" ? "standard input" : name;
}

std::string read_input(const std::string &name) {
    if (name == "-" || descriptor_named(name) == 0)
        return read_standard_input(input_name(name), input_max);
    if (const int fd = descriptor_named(name); fd > 0)
        return read_all(fd, name, input_max);
    Descriptor fd;
    if (const Status status = open_input(name, fd); !status.ok())
        fail_file(name, status);
    return read_all(fd.get(), name, input_max);
}

Status open_input(const std::string &name, Descriptor &fd) {
    Name resolved;
    Status status = resolved.resolve(name.c_str());
    if (status.ok())
        status = resolved.open(Open::stream, Follow::links, fd);
    return status;
}

} // namespace tool
