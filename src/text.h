// The texts the library writes: a line, or a new header with its line,
// built within the longest text written at one place, and the refusals of
// what would not read back as the caller asked.
#pragma once

#include "format.h"

#include <cstring>

namespace iniplace {

// A text written at one place: a line, or a new header with its line,
// after a line feed when it follows a last line that has none. Longer than
// text_max bytes (that line feed not counted), it does not fit and is
// never written.
class Text {
  public:
    explicit Text(bool after_unterminated = false) : prefix_(after_unterminated ? 1 : 0) {
        bytes_[0] = '\n';
    }
    Text &operator<<(std::string_view part) {
        // An empty part may have no bytes at all (a null data()).
        if (!part.empty() && counted_ + part.size() <= text_max)
            std::memcpy(bytes_ + prefix_ + counted_, part.data(), part.size());
        counted_ += part.size();
        return *this;
    }
    bool fits() const { return counted_ <= text_max; }
    // The bytes to write; only whole when the text fits.
    std::string_view bytes() const { return {bytes_, prefix_ + (fits() ? counted_ : 0)}; }
    // The text without the separating line feed.
    std::string_view line() const { return after(bytes(), prefix_); }

  private:
    char bytes_[1 + text_max];
    std::size_t prefix_;
    std::size_t counted_ = 0;
};

// A line the library would write, as its parts (the text written is them
// one after the other and a line feed), or why it refuses to.
struct Written {
    Status status;
    std::string_view head, separator, tail;

    std::size_t length() const { return head.size() + separator.size() + tail.size() + 1; }
};

inline Text &operator<<(Text &text, const Written &line) {
    return text << line.head << line.separator << line.tail << "\n";
}

// What ini_setkey writes: `key=value` and a line feed. Every refusal is
// known before the file is opened, except that a new section's header with
// its line may not fit.
inline Written key_line(std::string_view section, std::string_view key, std::string_view value) {
    Written written{check_key(key), key, "=", value};
    if (written.status.ok() && (holds_line_feed(section) || holds_line_feed(value)))
        written.status = refused(Refusal::line_feed);
    if (written.status.ok() && written.length() > text_max)
        written.status = refused(Refusal::too_long);
    return written;
}

// What ini_setsection_string writes: the entry as given and a line feed.
inline Written entry_line(std::string_view section, std::string_view entry) {
    Written written{
        holds_line_feed(section) ? refused(Refusal::line_feed) : check_entry(entry), entry, {}, {}};
    if (written.status.ok() && written.length() > text_max)
        written.status = refused(Refusal::too_long);
    return written;
}

// The length of the text written at one place: `line`, under the header
// `[section]` for a new section.
inline std::size_t text_length(std::string_view section, const Written &line, bool new_section) {
    return (new_section ? section.size() + 3 : 0) + line.length();
}

// The text written at one place: `line`, under the header `[section]` for
// a new section (after a line feed when `text` was made to follow a line
// without one).
inline void text_at(Text &text, std::string_view section, const Written &line, bool new_section) {
    if (new_section)
        text << "[" << section << "]\n";
    text << line;
}

} // namespace iniplace
