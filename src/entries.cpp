#include "entries.h"

#include "caller_copy.h"
#include "lines.h"
#include "read.h"

namespace iniplace {

namespace {

// Walks the entries of the section the scanner is in for the one `select`
// picks. The entry before a match is the last one copied, if any.
class Pick {
  public:
    Pick(Select select, std::string_view wanted, char *dst, std::size_t len)
        : select_(select), wanted_(wanted), dst_(dst), len_(len) {}

    Status walk(Scanner &scanner) {
        Line line;
        while (select_ != Select::nothing && scanner.next(line) == Piece::line) {
            if (const Step step = consider(line.text); step != Step::on)
                return step == Step::found ? Status() : not_found();
        }
        return not_found();
    }

  private:
    enum class Step { on, found, none };

    Step consider(std::string_view entry) {
        const bool equal = entry == wanted_;
        if (select_ == Select::previous) {
            if (equal)
                return dst_[0] != '\0' ? Step::found : Step::none;
            copy(entry);
            return Step::on;
        }
        const bool picked = select_ == Select::first || (select_ == Select::match && equal) ||
                            (select_ == Select::next && after_match_);
        after_match_ = equal;
        if (!picked)
            return Step::on;
        copy(entry);
        return Step::found;
    }
    void copy(std::string_view entry) {
        copy_bounded(dst_, len_, entry);
        dst_[len_ - 1] = '\0';
    }

    Select select_;
    std::string_view wanted_;
    char *dst_;
    std::size_t len_;
    bool after_match_ = false;
};

} // namespace

Status get_entry(const char *path, std::string_view section, std::string_view wanted, Select select,
                 char *dst, std::size_t len) {
    dst[0] = '\0';
    const Status status = scan_file(path, [&](FileScan &scan) {
        return scan.scanner.enter(section) ? Pick(select, wanted, dst, len).walk(scan.scanner)
                                           : not_found();
    });
    if (!status.ok())
        dst[0] = '\0';
    return status;
}

// A new entry ends its section, after any blank lines there.
Status add_entry(const char *path, std::string_view section, std::string_view entry) {
    return write_line(path, section, find_entry, entry_text(entry), entry_line(section, entry),
                      LineFound::kept);
}

Status remove_entry(const char *path, std::string_view section, std::string_view entry) {
    return remove_line(path, section, find_entry, entry_text(entry));
}

} // namespace iniplace
