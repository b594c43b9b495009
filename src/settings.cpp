// ini_setkeys: a batch of settings planned and made as one edit.
#include "settings.h"

#include "lines.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace iniplace {

namespace {

// Plans one setting as its single call plans it, on a scan of the file (or
// of the file held in memory) from its start.
Status plan_setting(FileScan &scan, const Setting &setting, LineEdit &edit) {
    edit = LineEdit();
    if (setting.value == nullptr)
        return plan_removal(scan, setting.section, find_key, setting.key, edit);
    const Written written = key_line(setting.section, setting.key, setting.value);
    return plan_write(scan, setting.section, find_key, setting.key, written, LineFound::replaced,
                      edit);
}

// The settings of a batch, planned for the edit driver: on the whole file
// held in the driver's block where the file fits it, each setting made on
// what the ones before left there, and the bytes from the first one
// changed on written as one change; on a larger file, one step a setting,
// each planned on the file the last one left.
class Batch {
  public:
    Batch(const Setting *settings, std::size_t count) : settings_(settings), count_(count) {}

    Status operator()(const File &file, Buffer block, Edit &edit) {
        if (edit.step == 0) {
            next_ = 0;
            if (file.size() <= static_cast<off_t>(block.size)) {
                bool fitted = false;
                const Status made = in_memory(file, block, edit, fitted);
                if (!made.ok() || fitted)
                    return made;
            }
            if (const Status bounded = bound(file, block, edit); !bounded.ok())
                return bounded;
        }
        return step(file, block, edit);
    }

  private:
    // The batch made on the file read whole into `block`; `fitted` is false
    // when the file grows past the block on the way.
    Status in_memory(const File &file, Buffer block, Edit &edit, bool &fitted) {
        const off_t old_size = file.size();
        std::size_t size = 0;
        if (const Status read =
                io::read(file.fd(), block.data, static_cast<std::size_t>(old_size), 0, size);
            !read.ok() || size != static_cast<std::size_t>(old_size))
            return read.ok() ? failed(Outcome::not_read, Op::read) : read;
        off_t first = old_size;
        for (std::size_t i = 0; i < count_; ++i) {
            FileScan scan(block, size);
            if (const Status planned = plan_setting(scan, settings_[i], line_); !planned.ok())
                return planned;
            if (!line_.changes)
                continue;
            const Change change = line_.change();
            const auto at = static_cast<std::size_t>(change.at);
            const auto old_length = static_cast<std::size_t>(change.old_length);
            if (size - old_length + change.text.size() > block.size)
                return {};
            std::memmove(block.data + at + change.text.size(), block.data + at + old_length,
                         size - at - old_length);
            std::memcpy(block.data + at, change.text.data(), change.text.size());
            size = size - old_length + change.text.size();
            first = std::min(first, change.at);
        }
        fitted = true;
        const auto from = static_cast<std::size_t>(first);
        edit.changes = first < old_size || size != static_cast<std::size_t>(old_size);
        edit.change = {first, old_size - first, {block.data + from, size - from}};
        edit.scratch = {scratch_, sizeof scratch_};
        return {};
    }

    // What the steps journal: the file from the first byte any setting
    // changes in it as it is (no later step changes a byte before the
    // first byte an earlier one changed, or this one would find it there).
    Status bound(const File &file, Buffer block, Edit &edit) {
        off_t first = file.size(), growth = 0;
        for (std::size_t i = 0; i < count_; ++i) {
            FileScan scan(file, block);
            const Status planned = plan_setting(scan, settings_[i], line_);
            if (!scan.in.status().ok())
                return scan.in.status();
            if (!planned.ok() && !(planned.refusal == Refusal::too_long && made_before(i)))
                return planned;
            if (line_.changes)
                first = std::min(first, line_.place.at);
            // At most its line, under a new header, after a line feed.
            if (const Setting &setting = settings_[i]; setting.value != nullptr)
                growth += static_cast<off_t>(
                    1 + text_length(setting.section,
                                    key_line(setting.section, setting.key, setting.value), true));
        }
        edit.journal_from = first;
        edit.most_growth = growth;
        return {};
    }

    // Whether a setting before the `i`th sets a key of its section: the
    // section is there by then, and its line needs no new header.
    bool made_before(std::size_t i) const {
        for (std::size_t j = 0; j < i; ++j)
            if (settings_[j].value != nullptr &&
                std::strcmp(settings_[j].section, settings_[i].section) == 0)
                return true;
        return false;
    }

    // The next setting that changes the file, planned on it as it is.
    Status step(const File &file, Buffer block, Edit &edit) {
        while (next_ < count_) {
            FileScan scan(file, block);
            const Status planned = plan_setting(scan, settings_[next_++], line_);
            if (!scan.in.status().ok())
                return scan.in.status();
            if (!planned.ok())
                return planned;
            if (line_.changes) {
                edit.changes = true;
                edit.change = line_.change();
                edit.read = {scan.in.block_start(), scan.in.block()};
                edit.more = next_ < count_;
                return {};
            }
        }
        return {};
    }

    const Setting *settings_;
    std::size_t count_;
    std::size_t next_ = 0;
    LineEdit line_;
    char scratch_[1024];
};

} // namespace

Status set_keys(const char *path, const Setting *settings, std::size_t count) {
    if (count > settings_max)
        return refused(Refusal::too_many);
    bool sets = false;
    for (std::size_t i = 0; i < count; ++i) {
        const Setting &setting = settings[i];
        if (setting.value == nullptr)
            continue;
        sets = true;
        if (const Status checked = key_line(setting.section, setting.key, setting.value).status;
            !checked.ok())
            return checked;
    }
    Batch batch(settings, count);
    return edit_file(path, sets ? OnMissing::make : OnMissing::fail, batch);
}

} // namespace iniplace
