// Runs a short script of operations on a real file and checks that each
// edit changes exactly what it should and nothing else.
//
// Input: one byte with the number of operations (1 to 8), then for each an
// opcode byte followed by its arguments as zero-terminated strings; the
// bytes that remain are the file's content.
#include "../tests/descriptors.h"
#include "iniplace.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string path() {
    static const std::string name = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    std::string("/iniplace-fuzz-") + std::to_string(getpid()) +
                                    ".ini";
    return name;
}

std::string read_file() {
    std::string bytes;
    if (FILE *file = std::fopen(path().c_str(), "rb")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            bytes.append(chunk, n);
        std::fclose(file);
    }
    return bytes;
}

void write_file(const std::string &bytes) {
    FILE *file = std::fopen(path().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

[[noreturn]] void fault(const char *what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

void check(bool holds, const char *what) {
    if (!holds)
        fault(what);
}

struct Input {
    const uint8_t *data;
    std::size_t size;

    bool empty() const { return size == 0; }
    uint8_t byte() {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    std::string text() {
        const auto *end = static_cast<const uint8_t *>(std::memchr(data, 0, size));
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - data) : size;
        std::string result(reinterpret_cast<const char *>(data), length);
        const std::size_t used = end != nullptr ? length + 1 : length;
        data += used;
        size -= used;
        return result;
    }
};

bool is_trimmed(const std::string &text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    return text.empty() || (!blank(text.front()) && !blank(text.back()));
}

// Where `parse` leaves the stream on the current file: result and offset.
std::pair<int, long> locate(const std::string &section, const std::string &key) {
    FILE *file = std::fopen(path().c_str(), "rb");
    char line[INI_LINE_SIZE];
    const int result = parse(file, section.c_str(), key.c_str(), line, sizeof line);
    const long at = std::ftell(file);
    std::fclose(file);
    return {result, at};
}

// The end of the physical line that starts at or contains `at`.
std::size_t line_end(const std::string &bytes, std::size_t at) {
    const std::size_t feed = bytes.find('\n', at);
    return feed == std::string::npos ? bytes.size() : feed + 1;
}

// `text` inserted at `at` as new lines: after a line feed if the byte
// before is not one.
std::string inserted(const std::string &old, std::size_t at, const std::string &text) {
    const bool separate = at > 0 && old[at - 1] != '\n';
    return old.substr(0, at) + (separate ? "\n" : "") + text + old.substr(at);
}

// True if `longer` is `shorter` with one contiguous block added.
bool one_block_apart(const std::string &shorter, const std::string &longer) {
    if (longer.size() < shorter.size())
        return false;
    std::size_t prefix = 0, suffix = 0;
    while (prefix < shorter.size() && shorter[prefix] == longer[prefix])
        ++prefix;
    while (suffix < shorter.size() &&
           shorter[shorter.size() - 1 - suffix] == longer[longer.size() - 1 - suffix])
        ++suffix;
    return prefix + suffix >= shorter.size();
}

int count_entries(const std::string &section, const std::string &entry) {
    char reference[INI_LINE_SIZE];
    std::snprintf(reference, sizeof reference, "%s", entry.c_str());
    const std::string wanted = trim_string(reference);
    FILE *file = std::fopen(path().c_str(), "rb");
    char line[INI_LINE_SIZE];
    int count = 0;
    for (int result = parse_section(file, section.c_str(), line, sizeof line, 0);
         result == INI_SCAN_LINE; result = parse_section(file, "*", line, sizeof line, 0))
        count += wanted == trim_string(line);
    std::fclose(file);
    return count;
}

bool has_entry(const std::string &section, const std::string &entry) {
    char found[INI_LINE_SIZE];
    return ini_getsection(path().c_str(), section.c_str(), entry.c_str(), INI_ENTRY_MATCH, found,
                          sizeof found) == INI_OK;
}

void set_key(Input &in) {
    const std::string section = in.text(), key = in.text(), value = in.text();
    const std::string old = read_file();
    const auto [result, at] = locate(section, key);
    const int status = ini_setkey(path().c_str(), section.c_str(), key.c_str(), value.c_str());
    const std::string now = read_file();
    if (status == INI_EINVAL) {
        check(now == old, "a rejected ini_setkey changed the file");
        return;
    }
    check(status == INI_OK, "ini_setkey failed on a writable file");
    const std::string line = key + "=" + value + "\n";
    const auto start = static_cast<std::size_t>(at);
    std::string expected;
    if (result == INI_SCAN_LINE)
        expected = old.substr(0, start) + line + old.substr(line_end(old, start));
    else if (result == INI_SCAN_BOUNDARY)
        expected = inserted(old, start, line);
    else
        expected = inserted(old, old.size(), (section == "*" ? "" : "[" + section + "]\n") + line);
    check(now == expected, "ini_setkey: the file is not old head, new line, old tail");
    if (is_trimmed(value)) {
        char read_back[INI_LINE_SIZE];
        check(ini_getkey(path().c_str(), section.c_str(), key.c_str(), read_back,
                         sizeof read_back) == INI_OK &&
                  value == read_back,
              "ini_getkey does not read back what ini_setkey wrote");
    }
}

void delete_key(Input &in) {
    const std::string section = in.text(), key = in.text();
    const std::string old = read_file();
    const auto [result, at] = locate(section, key);
    check(ini_delkey(path().c_str(), section.c_str(), key.c_str()) == INI_OK, "ini_delkey failed");
    const auto start = static_cast<std::size_t>(at);
    const std::string expected =
        result == INI_SCAN_LINE ? old.substr(0, start) + old.substr(line_end(old, start)) : old;
    check(read_file() == expected, "ini_delkey did not remove exactly the key line");
}

void delete_section(Input &in) {
    const std::string section = in.text();
    const std::string old = read_file();
    std::string expected = old;
    FILE *file = std::fopen(path().c_str(), "rb");
    char line[INI_LINE_SIZE];
    if (parse(file, section.c_str(), "", line, sizeof line) != INI_SCAN_NONE) {
        // From the header to the next header, or to the end of the file.
        const auto start = static_cast<std::size_t>(std::ftell(file));
        (void)std::fgets(line, INI_LINE_SIZE - 1, file);
        (void)parse(file, "*", "", line, sizeof line);
        expected = old.substr(0, start) + old.substr(static_cast<std::size_t>(std::ftell(file)));
    }
    std::fclose(file);
    check(ini_delsect(path().c_str(), section.c_str()) == INI_OK, "ini_delsect failed");
    check(read_file() == expected, "ini_delsect did not remove exactly the section");
}

void add_entry(Input &in) {
    const std::string section = in.text(), entry = in.text();
    const std::string old = read_file();
    const bool was_there = section != "*" && has_entry(section, entry);
    const int status = ini_setsection_string(path().c_str(), section.c_str(), entry.c_str());
    const std::string now = read_file();
    if (status == INI_EINVAL) {
        check(now == old, "a rejected ini_setsection_string changed the file");
        return;
    }
    check(status == INI_OK, "ini_setsection_string failed on a writable file");
    check(one_block_apart(old, now), "ini_setsection_string changed more than one place");
    check(now == old || now.find(entry + "\n") != std::string::npos,
          "the entry line was not written");
    if (section != "*") {
        check(!was_there || now == old, "an entry already there was added again");
        check(has_entry(section, entry), "an added entry is not found");
    }
}

void remove_entry(Input &in) {
    const std::string section = in.text(), entry = in.text();
    const std::string old = read_file();
    const int before = count_entries(section, entry);
    check(ini_delsection_string(path().c_str(), section.c_str(), entry.c_str()) == INI_OK,
          "ini_delsection_string failed");
    const std::string now = read_file();
    check(one_block_apart(now, old), "ini_delsection_string removed more than one block");
    check((before == 0) == (now == old), "an entry was removed only if there was one");
    if (before == 1)
        check(count_entries(section, entry) == 0, "a removed entry is still found");
}

// The building blocks on their own: a gap opened or closed at any place.
void move_bytes(Input &in, bool insert) {
    const std::string old = read_file();
    const std::size_t at = old.empty() ? 0 : in.byte() * 257u % (old.size() + 1);
    const std::string data = in.text();
    FILE *file = std::fopen(path().c_str(), "r+b");
    std::fseek(file, static_cast<long>(at), SEEK_SET);
    const long length = insert ? static_cast<long>(data.size()) : in.byte() * 13L;
    const int status = insert ? file_ins(file, length, data.data()) : file_cut(file, length);
    std::fclose(file);
    const std::string now = read_file();
    if (insert) {
        check(status == (data.empty() ? -1 : 0), "file_ins status");
        check(now == old.substr(0, at) + data + old.substr(at), "file_ins content");
    } else {
        check(status == 0, "file_cut status");
        check(now == old.substr(0, at) + old.substr(std::min(old.size(), at + length)),
              "file_cut content");
    }
}

void look_up(Input &in) {
    const std::string section = in.text(), key = in.text();
    const int mode = in.byte() % 5;
    char value[INI_LINE_SIZE];
    long number;
    const std::string old = read_file();
    ini_getkey(path().c_str(), section.c_str(), key.c_str(), value, 1 + in.byte() % 40);
    ini_getkey_long(path().c_str(), section.c_str(), key.c_str(), &number, 0);
    ini_getsection(path().c_str(), section.c_str(), key.c_str(), mode, value, 1 + in.byte() % 40);
    check(read_file() == old, "a lookup changed the file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    Input in{data, size};
    const int operations = 1 + in.byte() % 8;
    // The script comes first, the content after it: read the script into a
    // list, then write the content.
    struct Step {
        uint8_t code;
        Input args;
    };
    Step steps[8];
    int count = 0;
    for (; count < operations && !in.empty(); ++count) {
        steps[count].code = in.byte();
        const uint8_t *start = in.data;
        const std::size_t available = in.size;
        for (int arg = 0; arg < 3; ++arg)
            (void)in.text();
        steps[count].args = Input{start, available - in.size};
    }
    write_file(std::string(reinterpret_cast<const char *>(in.data), in.size));
    const int descriptors = open_descriptors();
    for (int i = 0; i < count; ++i) {
        Input args = steps[i].args;
        switch (steps[i].code % 8) {
        case 0:
            set_key(args);
            break;
        case 1:
            delete_key(args);
            break;
        case 2:
            delete_section(args);
            break;
        case 3:
            add_entry(args);
            break;
        case 4:
            remove_entry(args);
            break;
        case 5:
            move_bytes(args, true);
            break;
        case 6:
            move_bytes(args, false);
            break;
        default:
            look_up(args);
            break;
        }
        check(open_descriptors() == descriptors, "a call left a descriptor open");
    }
    return 0;
}
