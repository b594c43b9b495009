// The edits of a command, planned on the tool's reading of a file, in the
// file's own style: a changed value (all its lines) keeps its line's
// indentation, spacing, line end and a comment after it; a new key line
// copies the layout of the section's key lines (its separator at their
// column) and the file's line end, and goes right after the last line of
// the section's last value (in a section of comments only, after them); a
// deleted section leaves the comment lines right above the next header and
// file-wide directives. The edits are byte ranges of the file's text, made
// as one change from the first byte they touch to the end.
#pragma once

#include "document.h"
#include "tool.h"

#include <deque>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace tool {

// A byte range of the file's text and its new bytes.
struct Edit {
    std::size_t at = 0;
    std::size_t old_length = 0;
    std::string text;
};

// What a command asks of a file (an intent): the plan's one input.
struct Intent {
    enum class Kind { set, remove_key, remove_section, add, remove_entry, make_section };

    Intent(Kind kind_, std::string section_, std::string name_ = "", std::string value_ = "",
           bool all_ = false, std::string origin_ = "")
        : kind(kind_), section(std::move(section_)), name(std::move(name_)),
          value(std::move(value_)), all(all_), origin(std::move(origin_)) {}

    Kind kind;
    std::string section;
    std::string name;  // the key, or the entry
    std::string value; // set to
    bool all;          // a key on more than one line: set or delete every one
    // Names the intent in messages (a fragment's line) instead of the file.
    std::string origin;

    // Whether it names a key (set, remove_key) rather than an entry.
    bool keyed() const { return kind == Kind::set || kind == Kind::remove_key; }
    // How messages name what it applies to: [section] key, or [section].
    std::string where() const {
        return keyed() ? setting_name(section, name) : setting_name(section);
    }
};

// Why `intent` is refused in `dialect`, whatever the file holds: what it
// would write would not read back as given (a set's section, key and
// value; an added entry and its section; a made section; a deleted key).
// Nothing when it is taken.
std::optional<std::string> refusal(Dialect dialect, const Intent &intent);

// The layout of a key line: the bytes before its name, between its name and
// its separator, the separator, and between it and its value.
struct KeyStyle {
    std::string indent, before, separator = "=", after;
};

class Plan {
  public:
    // `file` names the file in messages. A file that is not text is
    // refused (status 2): its bytes would not read back.
    Plan(const Document &document, std::string_view file, bool ignore_case);

    // Plans `intent`, which refusal() takes:
    // - set: `name` of `section` set to `value` where it differs; a new key
    //   line (and section) where there is none; a key on more than one line
    //   is refused unless `all`;
    // - remove_key: the key line (with `all` every line) of `name` deleted,
    //   with the lines of its value;
    // - remove_section: every part of `section` deleted;
    // - add: `name`, trimmed, added as the last line of `section` unless a
    //   line equals it (a line of a value too);
    // - remove_entry: the first line of `section` that equals `name`
    //   deleted: a key line with the lines of its value; a line of a
    //   configparser value alone;
    // - make_section: `section`, empty, made where the file lacks it.
    void make(const Intent &intent);

    // The edits, in file order, new lines and sections included.
    std::vector<Edit> edits() const;

  private:
    // The sections `section` names, and the key lines of `key` in them, as
    // the document finds them.
    const std::vector<int> &sections(const std::string &section) const {
        return document_.sections_named(section, ignore_case_);
    }
    std::vector<const Line *> key_lines(const std::vector<int> &sections,
                                        const std::string &key) const {
        return document_.key_lines(sections, key, ignore_case_);
    }
    void set(const std::string &section, const std::string &key, const std::string &value,
             bool all);
    void remove_key(const std::string &section, const std::string &key, bool all);
    void remove_section(const std::string &section);
    void add(const std::string &section, const std::string &entry);
    void remove_entry(const std::string &section, const std::string &entry);
    void make_section(const std::string &section);

    struct Added {
        std::vector<int> sections; // empty: a new section
        std::string name;
        std::string lines;
        std::unordered_set<std::string> entries; // the lines, trimmed
    };
    Added &added_to(const std::string &section);
    void add_line(const std::string &section, std::string_view line);
    std::string key_line(const std::vector<int> &sections, std::string_view key,
                         std::string_view value) const;
    // The edit that sets the value of `line`.
    Edit value_edit(const Line &line, std::string_view value) const;
    // The layout of a new key line `key` of `sections`.
    KeyStyle section_style(const std::vector<int> &sections, std::string_view key) const;
    // Where new lines of `sections` go, and the last line before it that
    // goes on no value.
    struct Insertion {
        std::size_t at;
        const Line *last_own;
    };
    Insertion insertion(const std::vector<int> &sections) const;
    // The first line after the part of a section that starts at the line
    // `header` that a deletion keeps: the next header, or the comments
    // right above it.
    std::size_t part_kept(std::size_t header) const;
    // Deletes the part of a section that starts at the line `header`.
    void remove_part(std::size_t header);
    // Where a new line goes in a part of comments only, lines [first, next):
    // after them, else at `at`.
    std::size_t after_comments(std::size_t first, std::size_t next, std::size_t at) const;
    std::string new_sections() const;
    // Refuses lines that programs that use the library would read in
    // pieces, unless the file holds such lines already.
    void check_lines(std::string_view lines, std::size_t number) const;
    [[noreturn]] void refuse(std::string_view where, const std::string &why) const;

    const Document &document_;
    std::string file_;
    bool ignore_case_;
    std::vector<Edit> edits_;
    std::deque<Added> added_;
    std::unordered_map<std::string, std::size_t> added_by_name_;
};

// The text of bytes [from, to) of `text` after the edits [first, last),
// which stand in it in file order.
std::string applied(std::string_view text, const Edit *first, const Edit *last, std::size_t from,
                    std::size_t to);
// The text of `document` after `edits`, from byte `from` on.
inline std::string applied(const Document &document, const std::vector<Edit> &edits,
                           std::size_t from) {
    return applied(document.text(), edits.data(), edits.data() + edits.size(), from,
                   document.text().size());
}

} // namespace tool
