#include "journal.h"
#include "side.h"

#include "hash.h"
#include "move.h"

#include <array>
#include <cstring>

namespace iniplace {

namespace {

constexpr std::size_t field_size = 8;
constexpr std::size_t header_bytes = sizeof journal_magic + 9 * field_size;
// The header but its checksum: what the checksum covers, with the saved
// bytes after it.
constexpr std::size_t summed_bytes = header_bytes - field_size;
constexpr auto header_size = static_cast<off_t>(header_bytes);
// How many of the bytes before the change a journal is fitted by.
constexpr off_t head_window = 4096;

using HeaderBytes = std::array<char, header_bytes>;

template <typename Header, typename Visit> void each_field(Header &header, Visit visit) {
    for (auto *field :
         {&header.old_size, &header.min_size, &header.max_size, &header.at, &header.saved,
          &header.head_at, &header.head_sum, &header.name_sum, &header.checksum})
        visit(*field);
}

// `field` as the journal holds it: big-endian, in `bytes` (field_size).
void put_field(std::uint64_t field, char *bytes) {
    for (std::size_t i = 0; i < field_size; ++i)
        bytes[i] = static_cast<char>(field >> (8 * (field_size - 1 - i)) & 0xFF);
}

HeaderBytes encoded(const JournalHeader &header) {
    HeaderBytes bytes{};
    std::memcpy(bytes.data(), journal_magic, sizeof journal_magic);
    std::size_t at = sizeof journal_magic;
    each_field(header, [&](std::uint64_t field) {
        put_field(field, bytes.data() + at);
        at += field_size;
    });
    return bytes;
}

JournalHeader decoded(const HeaderBytes &bytes, bool big_endian) {
    JournalHeader header{};
    std::size_t at = sizeof journal_magic;
    each_field(header, [&](std::uint64_t &field) {
        field = 0;
        for (std::size_t i = 0; i < field_size; ++i) {
            const std::size_t byte = big_endian ? i : field_size - 1 - i;
            field = field << 8 | static_cast<unsigned char>(bytes[at + byte]);
        }
        at += field_size;
    });
    return header;
}

// FNV-1a over 64 bits: enough to tell a journal cut short or torn from a
// whole one, and the file it was made for from another.
constexpr std::uint64_t checksum_start = fnv_start;
std::uint64_t add_to_checksum(std::uint64_t sum, std::string_view bytes) {
    return fnv(bytes, sum);
}

Status sum_bytes(int fd, off_t at, off_t length, Buffer block, std::uint64_t &sum) {
    return read_blocks(Io(fd), at, length, block, [&sum](std::string_view bytes, off_t) {
        sum = add_to_checksum(sum, bytes);
        return Status();
    });
}

// The checksum of a journal's name without its directory, which stays
// when a disk is mounted elsewhere, and of the owner, group and permissions
// the file had when it was made: a journal moved to another file's name is
// not that file's, nor is one beside a file another user put at the name,
// or one others may read more easily (which would get the saved bytes of a
// file she could not read). A journal of the layout before sums its name
// alone.
std::uint64_t name_checksum(const char *name, const FileInfo *file) {
    std::uint64_t sum = add_to_checksum(checksum_start, name);
    if (file == nullptr)
        return sum;
    for (const std::uint64_t value : {std::uint64_t(file->owner), std::uint64_t(file->group),
                                      std::uint64_t(permission_bits(file->mode))}) {
        char bytes[field_size];
        put_field(value, bytes);
        sum = add_to_checksum(sum, {bytes, sizeof bytes});
    }
    return sum;
}

// Whether `header` describes a journal of `size` bytes that an edit could
// have made: the saved bytes lie in the old file and, unless the size
// stays, reach its end (only those are put back, and the file cut to its
// old size); the old size is one the file had while the edits ran.
bool plausible(const JournalHeader &h, off_t size) {
    const bool sized = h.min_size <= h.old_size && h.old_size <= h.max_size && h.at <= h.old_size &&
                       h.saved <= h.old_size - h.at &&
                       size == header_size + static_cast<off_t>(h.saved);
    const bool reaching_end =
        h.min_size == h.max_size ? h.at + h.saved <= h.old_size : h.at + h.saved == h.old_size;
    const bool head = h.head_at <= h.at && h.at - h.head_at <= head_window;
    return sized && reaching_end && head;
}

// Whether the `size` bytes of `journal` are a whole journal: all its pages
// written, none torn, not made harmless; `header` as written.
Status judge_whole(int journal, off_t size, JournalHeader &header, Buffer block, bool &whole,
                   bool &current) {
    whole = false;
    HeaderBytes bytes{};
    std::size_t got = 0;
    const Status read = io::read(journal, bytes.data(), bytes.size(), 0, got);
    const JournalLayout layout = journal_layout(bytes.data());
    current = layout == JournalLayout::current;
    if (!read.ok() || got != bytes.size() || layout == JournalLayout::none)
        return read;
    for (const bool big_endian : {true, false}) {
        if (current && !big_endian)
            break;
        header = decoded(bytes, big_endian);
        if (!plausible(header, size))
            continue;
        std::uint64_t sum = add_to_checksum(checksum_start, {bytes.data(), summed_bytes});
        if (const Status summed =
                sum_bytes(journal, header_size, static_cast<off_t>(header.saved), block, sum);
            !summed.ok())
            return summed;
        if (sum == header.checksum) {
            whole = true;
            break;
        }
    }
    return {};
}

// Whether a whole journal was made for the file `fd` as it is: its size is
// one the edits could have left, and it holds the bytes before the change
// they never touch. A reboot may give the file another device or inode
// number; its content stays.
Status judge_fit(const JournalHeader &header, const OpenFile &file, Buffer block, bool &fits) {
    fits = false;
    const auto size = static_cast<std::uint64_t>(file.info.size);
    if (size < header.min_size || size > header.max_size || size < header.at)
        return {};
    std::uint64_t sum = checksum_start;
    const Status summed = sum_bytes(file.fd, static_cast<off_t>(header.head_at),
                                    static_cast<off_t>(header.at - header.head_at), block, sum);
    fits = summed.ok() && sum == header.head_sum;
    return summed;
}

// Whether the journal at `side` holds a whole journal that fits `file`;
// Outcome::untrusted for a whole journal made under another name.
Status judge(const Side &side, int journal, const FileInfo &info, const OpenFile &file,
             JournalHeader &header, bool &whole, bool &fits) {
    char bytes[1024];
    const Buffer block{bytes, sizeof bytes};
    fits = false;
    bool current = false;
    Status judged = judge_whole(journal, info.size, header, block, whole, current);
    const FileInfo *made_for = current ? &file.info : nullptr;
    if (judged.ok() && whole && header.name_sum != name_checksum(side.name, made_for))
        return failed(Outcome::untrusted, Op::stat);
    if (judged.ok() && whole)
        judged = judge_fit(header, file, block, fits);
    return judged;
}

// Puts the saved bytes back into `fd`, gives the file its old size and
// syncs it.
Status undo(int journal, int fd, const JournalHeader &header, Buffer block) {
    Status done = copy_bytes(Io(journal), header_size, Io(fd), static_cast<off_t>(header.at),
                             static_cast<off_t>(header.saved), block, NoWatch());
    if (done.ok())
        done = io::truncate(fd, static_cast<off_t>(header.old_size));
    return done.ok() ? io::sync(fd) : done;
}

// Empties a journal and syncs it: it can undo nothing any more, wherever it
// stands, and keeps none of the file's old bytes.
Status make_harmless(int journal) {
    const Status emptied = io::truncate(journal, 0);
    return emptied.ok() ? io::sync(journal) : emptied;
}

// Applies the whole journal `journal` to `file`, through a descriptor open
// for writing, within the file-size limit.
Status put_back(int journal, const JournalHeader &header, const OpenFile &file) {
    Descriptor reopened;
    if (!file.writable) {
        if (const Status opened = io::open_for_writing(file.fd, reopened); !opened.ok())
            return opened;
    }
    const auto largest = std::max(file.info.size, static_cast<off_t>(header.old_size));
    if (const Status within = io::within_size_limit(largest); !within.ok())
        return within;
    char bytes[1024];
    return undo(journal, file.writable ? file.fd : reopened.get(), header, {bytes, sizeof bytes});
}

// Opens what stands at a side name for recovery: what cannot be opened
// (another user's) and is empty is harmless, as if missing.
Status open_for_recovery(const Side &side, Descriptor &fd, FileInfo &info) {
    const Status found = open_side(side, fd, info);
    if (found.is(Outcome::not_opened) || found.is(Outcome::denied)) {
        const bool empty =
            io::stat(side.directory, side.name, info).ok() && info.regular && info.size == 0;
        return empty ? failed(Outcome::missing, Op::open) : found;
    }
    return found;
}

// Takes what stands at `side` to act on: Outcome::missing when nothing
// does (or a second name of the file, left by a creation that linked the
// new file into place and ended before it could unlink the old name, now
// removed).
Status take_for_recovery(const Side &side, const OpenFile &file, Descriptor &journal,
                         FileInfo &info, SideKind &kind) {
    Status taken = open_for_recovery(side, journal, info);
    if (taken.ok() && same_file(info, file.info)) {
        (void)io::unlink(side.directory, side.name); // a later call tries again
        return failed(Outcome::missing, Op::stat);
    }
    if (taken.ok())
        taken = take_side(side, journal, info, file.info.owner, file.patience, kind);
    const bool told =
        taken.is(Outcome::missing) || taken.is(Outcome::untrusted) || taken.is(Outcome::busy);
    return taken.ok() || told ? taken : as(Outcome::unsafe, taken);
}

} // namespace

Status recover(const Side &side, const OpenFile &file) {
    if (side.name[0] == '\0')
        return {};
    Descriptor journal;
    FileInfo info;
    SideKind kind = SideKind::empty;
    if (const Status taken = take_for_recovery(side, file, journal, info, kind); !taken.ok())
        return taken.is(Outcome::missing) ? Status() : taken;
    JournalHeader header;
    bool whole = false, fits = false;
    // What cannot be read may hold the only good copy of the file.
    if (kind == SideKind::journal) {
        if (const Status judged = judge(side, journal.get(), info, file, header, whole, fits);
            !judged.ok())
            return judged.is(Outcome::untrusted) ? judged : as(Outcome::unsafe, judged);
    }
    if (fits) {
        if (const Status applied = put_back(journal.get(), header, file); !applied.ok())
            return as(Outcome::unsafe, applied);
    }
    // What cannot be removed (an append-only directory) is harmless: it is
    // emptied, and taken over by the next edit's journal.
    if (kind != SideKind::empty)
        (void)make_harmless(journal.get());
    (void)io::unlink(side.directory, side.name);
    return {};
}

Status Journal::begin(const Side &side, const OpenFile &file, off_t at, off_t saved, off_t min_size,
                      off_t max_size, Buffer scratch) {
    side_ = side;
    fd_ = file.fd;
    // Another name of the file would not find the journal.
    if (file.info.links > 1)
        return failed(Outcome::hard_linked, Op::stat);
    if (side.name[0] == '\0')
        return failed(Outcome::unsafe, Op::name, ENAMETOOLONG);
    if (const Status within = io::within_size_limit(header_size + saved); !within.ok())
        return as(Outcome::unsafe, within);
    header_ = {};
    header_.old_size = static_cast<std::uint64_t>(file.info.size);
    header_.min_size = static_cast<std::uint64_t>(min_size);
    header_.max_size = static_cast<std::uint64_t>(max_size);
    header_.at = static_cast<std::uint64_t>(at);
    header_.saved = static_cast<std::uint64_t>(saved);
    header_.head_at = static_cast<std::uint64_t>(std::max<off_t>(0, at - head_window));
    header_.name_sum = name_checksum(side.name, &file.info);
    if (const Status opened = open_journal(file); !opened.ok()) {
        const bool told =
            opened.is(Outcome::exists) || opened.is(Outcome::busy) || opened.is(Outcome::untrusted);
        return told ? opened : as(Outcome::unsafe, opened);
    }
    const Status saved_bytes = save(file.fd, scratch);
    if (!saved_bytes.ok()) {
        // A journal left behind is not whole, and the next call removes it.
        (void)io::unlink(side.directory, side.name);
        journal_.reset();
    }
    return as(Outcome::unsafe, saved_bytes);
}

Status Journal::open_journal(const OpenFile &file) {
    const Status made = io::open(side_.directory, side_.name, Open::fresh, journal_);
    if (made.ok())
        return io::lock_side(journal_, file.patience);
    if (!made.is(Outcome::exists))
        return made;
    // What recovery could not remove (an append-only directory) and left
    // harmless: this user's own is taken over. A journal was put there
    // since the call opened the file, and is judged when it opens it again.
    FileInfo info;
    SideKind kind = SideKind::empty;
    Status taken = open_for_recovery(side_, journal_, info);
    if (taken.ok() && same_file(info, file.info))
        taken = failed(Outcome::exists, Op::open);
    if (taken.ok())
        taken = take_side(side_, journal_, info, io::user(), file.patience, kind);
    // Only an emptied one: anything else is judged by recovery first.
    if (taken.ok() && kind != SideKind::empty)
        taken = failed(Outcome::exists, Op::open);
    if (taken.ok())
        taken = io::truncate(journal_.get(), 0);
    if (!taken.ok())
        journal_.reset();
    return taken.is(Outcome::missing) ? failed(Outcome::exists, Op::open) : taken;
}

Status Journal::save(int fd, Buffer scratch) {
    const auto at = static_cast<off_t>(header_.at);
    const auto head_at = static_cast<off_t>(header_.head_at);
    header_.head_sum = checksum_start;
    Status done = sum_bytes(fd, head_at, at - head_at, scratch, header_.head_sum);
    std::uint64_t sum = add_to_checksum(checksum_start, {encoded(header_).data(), summed_bytes});
    // The saved bytes go first and the header last, so a journal that a
    // power loss cut short or tore is known as one.
    const Io journal(journal_.get());
    if (done.ok())
        done =
            copy_bytes(Io(fd), at, journal, header_size, static_cast<off_t>(header_.saved), scratch,
                       [&sum](std::string_view bytes) { sum = add_to_checksum(sum, bytes); });
    header_.checksum = sum;
    const HeaderBytes header = encoded(header_);
    if (done.ok())
        done = journal.write(header.data(), header.size(), 0);
    if (done.ok())
        done = io::sync(journal_.get());
    return done.ok() ? io::sync_directory(side_.directory) : done;
}

// The journal of edits made and synced: emptied, then removed. If it cannot
// be emptied, its removal must reach the disk, or the edits count as
// failed: the next call would undo them.
Status Journal::retire() {
    const Status harmless = make_harmless(journal_.get());
    const Status removed = io::unlink(side_.directory, side_.name);
    if (harmless.ok())
        return {};
    return removed.ok() ? io::sync_directory(side_.directory) : as(Outcome::not_written, harmless);
}

Status Journal::finish(const Status &edits, Buffer scratch) {
    if (!journal_)
        return edits;
    Status status = edits;
    if (!edits.ok()) {
        // Undone, the file is as before: the journal has nothing left to do.
        if (undo(journal_.get(), fd_, header_, scratch).ok())
            (void)retire();
    } else if (const Status synced = io::sync(fd_); !synced.ok()) {
        status = synced;
    } else {
        status = retire();
    }
    journal_.reset();
    return status;
}

} // namespace iniplace
