// apply: brings a file in line with an INI fragment, checked whole before
// the first edit and made under one lock (in the durable build under one
// journal).
#include "edits.h"
#include "locked_file.h"
#include "reading.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <unistd.h>

namespace tool {

using namespace iniplace;

namespace {

// The longest fragment apply takes: its lines are kept in memory until
// all are checked, and each costs a pass over the file.
constexpr std::size_t fragment_max = std::size_t{1} << 20;

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// A line of the fragment to apply: a key line (`key` not empty) or an
// entry of `section`. Views into the fragment's text.
struct FragmentLine {
    std::size_t number;
    std::string_view section;
    std::string_view key;
    std::string_view text; // the value, or the entry
};

struct Fragment {
    std::string name;
    std::string text;
    std::vector<FragmentLine> lines;

    std::string where(std::size_t number) const { return name + ":" + std::to_string(number); }
};

// Reads all of `fd` into `text`, refusing more than fragment_max bytes.
void read_all(int fd, Fragment &fragment) {
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(exit_file, fragment.name, std::string("cannot be read: ") + std::strerror(errno));
        if (got == 0)
            return;
        if (fragment.text.size() + static_cast<std::size_t>(got) > fragment_max)
            fail(exit_usage, fragment.name,
                 "the fragment is longer than " + std::to_string(fragment_max) +
                     " bytes; nothing written");
        fragment.text.append(chunk, static_cast<std::size_t>(got));
    }
}

void read_text(const Call &call, Fragment &fragment) {
    const bool from_stdin = call.args.size() < 2 || call.args[1] == "-";
    fragment.name = from_stdin ? "standard input" : call.args[1];
    if (from_stdin && input_closed())
        fail(exit_file, fragment.name, std::strerror(EBADF));
    Descriptor file;
    if (!from_stdin) {
        if (const Status opened = io::open(call.args[1].c_str(), Open::read, file); !opened.ok())
            fail_file(fragment.name, opened);
        // Opened without waiting for a FIFO's writer; read as a pipe is.
        (void)fcntl(file.get(), F_SETFL, fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    }
    read_all(from_stdin ? 0 : file.get(), fragment);
    if (fragment.text.compare(0, byte_order_mark.size(), byte_order_mark) == 0)
        fragment.text.erase(0, byte_order_mark.size());
}

// Takes one line of the fragment; a line that would be rejected fails the
// whole fragment (status 2).
void take_line(Fragment &fragment, std::size_t number, std::string_view raw,
               std::string_view &section) {
    const std::string_view line = trimmed(raw);
    Refusal refusal = Refusal::none;
    if (raw.find('\0') != std::string_view::npos)
        fail(exit_usage, fragment.where(number), "the line holds a zero byte");
    if (is_blank_line(line) || is_comment(line))
        return;
    if (is_header(line)) {
        if (!header_names(line, header_name(line)) || is_wildcard(header_name(line)))
            fail(exit_usage, fragment.where(number), "the header names no section");
        section = header_name(line);
    } else if (is_key_line(line)) {
        const std::string_view key = key_of(line), value = value_of(line);
        refusal = key_line(section, key, value).refusal;
        fragment.lines.push_back({number, section, key, value});
    } else {
        refusal = entry_line(section, line).refusal;
        fragment.lines.push_back({number, section, {}, line});
    }
    if (refusal != Refusal::none)
        fail(exit_usage, fragment.where(number), describe(refused(refusal)));
}

void read_lines(Fragment &fragment) {
    std::string_view section = wildcard;
    const std::string_view text = fragment.text;
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        take_line(fragment, ++number, text.substr(start, end - start), section);
        start = end + 1;
    }
}

using Offsets = std::map<std::string, off_t, std::less<>>;
using Names = std::set<std::string, std::less<>>;

// The offset of the header of each section in `file`, and the sections
// that hold a line longer than a piece or are named by a later piece of one.
void read_sections(File &file, const std::string &path, Offsets &present, Names &crossed) {
    Reader reader(file, path);
    reader.walk([&](const FileLine &line) {
        if (line.header && line.section != nullptr)
            present.emplace(*line.section, line.start);
        return true;
    });
    crossed = reader.crossed();
}

// Before the first edit: a new section is written with its first line, and
// both must fit; no section the fragment names holds a line longer than a
// piece or is named by a later piece of one, since an edit there may be
// refused after others were made. Returns the lowest offset an edit may
// touch: the header of the first section the fragment names, or the end of
// the file.
off_t vet(const Fragment &fragment, const std::string &path, File *file) {
    Offsets present{{std::string(wildcard), 0}};
    Names crossed;
    if (file != nullptr)
        read_sections(*file, path, present, crossed);
    const off_t end = file != nullptr ? file->size() : 0;
    off_t lowest = end;
    for (const FragmentLine &line : fragment.lines) {
        const auto [at, added] = present.emplace(line.section, end);
        lowest = std::min(lowest, at->second);
        const Written written = line.key.empty() ? entry_line(line.section, line.text)
                                                 : key_line(line.section, line.key, line.text);
        if (added && !text_at(line.section, written.text.line(), true, false).fits())
            fail(exit_usage, fragment.where(line.number),
                 describe(refused(Refusal::too_long)) + " with its new header");
        if (crossed.count(line.section) != 0)
            fail(exit_usage, fragment.where(line.number),
                 "the section holds a line longer than " + std::to_string(piece_max) +
                     " bytes; apply leaves it to set and add, which edit one line at a time");
    }
    return lowest;
}

} // namespace

int cmd_apply(const Call &call) {
    Fragment fragment;
    read_text(call, fragment);
    read_lines(fragment);
    const std::string &path = call.file();
    std::vector<Edit> edits;
    edits.reserve(fragment.lines.size());
    for (const FragmentLine &line : fragment.lines)
        edits.push_back({[&path, &line](File &file, LineEdit &edit) {
            return line.key.empty() ? plan_add(file, edit, line.section, line.text)
                                    : plan_set(file, edit, path, line.section, line.key, line.text);
        }});
    return make_edits(call, edits, [&](File *file) { return vet(fragment, path, file); });
}

} // namespace tool
