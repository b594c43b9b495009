// Runs a short script of operations on a real file and checks that each
// edit changes exactly what it should and nothing else: the expected file
// is worked out with the exported scanners, a plain oracle of where a line
// stands; and the scanners themselves against a line-by-line walk of the
// file as their documentation gives it.
//
// Input: one byte with the number of operations (1 to 8), then for each an
// opcode byte followed by its arguments as zero-terminated strings; the
// bytes that remain are the file's content.
#include "../tests/descriptors.h"
#include "iniplace.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string &path() {
    static const std::string name = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    std::string("/iniplace-fuzz-") + std::to_string(getpid());
    return name;
}

std::string read_file() {
    std::ostringstream bytes;
    bytes << std::ifstream(path(), std::ios::binary).rdbuf();
    return bytes.str();
}

void check(bool holds, const char *what) {
    if (!holds) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

struct Input {
    const uint8_t *data;
    std::size_t size;

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
        const std::size_t used = std::min(size, length + 1);
        data += used;
        size -= used;
        return result;
    }
};

// Where a scan of the file leaves its stream: the scanner's result and the
// offset. `step` gets the stream and a line buffer.
template <typename Step> std::pair<int, std::size_t> scan(Step step) {
    FILE *file = std::fopen(path().c_str(), "rb");
    char line[INI_LINE_SIZE];
    const int result = step(file, line);
    const auto at = static_cast<std::size_t>(std::ftell(file));
    std::fclose(file);
    return {result, at};
}

// The first entry of `section` equal to `entry` after trimming: its start,
// or where the section ends (INI_SCAN_BOUNDARY, or INI_SCAN_NONE without
// the section).
std::pair<int, std::size_t> find_entry(const std::string &section, const std::string &entry) {
    char wanted[INI_LINE_SIZE];
    std::snprintf(wanted, sizeof wanted, "%s", entry.c_str());
    const std::string trimmed = trim_string(wanted);
    return scan([&](FILE *file, char *line) {
        int result = parse_section(file, section.c_str(), line, INI_LINE_SIZE, 1);
        const bool found = result != INI_SCAN_NONE;
        while (result == INI_SCAN_LINE && trimmed != trim_string(line)) {
            (void)parse_section(file, "*", line, INI_LINE_SIZE, 0);
            result = parse_section(file, "*", line, INI_LINE_SIZE, 1);
        }
        // Stepping with "*" meets the end of the file as INI_SCAN_NONE.
        return found && result == INI_SCAN_NONE ? INI_SCAN_BOUNDARY : result;
    });
}

// The end of the physical line that starts at or contains `at`.
std::size_t line_end(const std::string &bytes, std::size_t at) {
    return std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
}

// `old` with [at, end) replaced by `text`; inserted text goes after a line
// feed when the byte before is not one, so no line is joined.
std::string edited(const std::string &old, std::size_t at, std::size_t end,
                   const std::string &text) {
    const bool separate = at == end && at > 0 && old[at - 1] != '\n';
    return old.substr(0, at) + (separate ? "\n" : "") + text + old.substr(end);
}

// Runs an edit and checks the file against the expected one: unchanged
// when the edit was refused.
void expect(int status, const std::string &old, const std::string &expected, const char *what) {
    const std::string now = read_file();
    check(status == INI_OK || (status == INI_EINVAL && now == old), what);
    check(status != INI_OK || now == expected, what);
}

std::string new_line(int result, const std::string &section, const std::string &line) {
    return result == INI_SCAN_NONE && section != "*" ? "[" + section + "]\n" + line : line;
}

void set_key(Input &in) {
    const std::string section = in.text(), key = in.text(), value = in.text();
    const std::string old = read_file(), line = key + "=" + value + "\n";
    const auto [result, at] = scan([&](FILE *file, char *buffer) {
        return parse(file, section.c_str(), key.c_str(), buffer, INI_LINE_SIZE);
    });
    const int status = ini_setkey(path().c_str(), section.c_str(), key.c_str(), value.c_str());
    const std::size_t place = result == INI_SCAN_NONE ? old.size() : at;
    const std::size_t end = result == INI_SCAN_LINE ? line_end(old, at) : place;
    expect(status, old, edited(old, place, end, new_line(result, section, line)), "ini_setkey");
    char read_back[INI_LINE_SIZE];
    check(status != INI_OK || value.find_first_of(" \t\r\v\f") != std::string::npos ||
              (ini_getkey(path().c_str(), section.c_str(), key.c_str(), read_back,
                          sizeof read_back) == INI_OK &&
               value == read_back),
          "ini_getkey does not read back what ini_setkey wrote");
}

void delete_key(Input &in) {
    const std::string section = in.text(), key = in.text(), old = read_file();
    const auto [result, at] = scan([&](FILE *file, char *buffer) {
        return parse(file, section.c_str(), key.c_str(), buffer, INI_LINE_SIZE);
    });
    const int status = ini_delkey(path().c_str(), section.c_str(), key.c_str());
    expect(status, old, result == INI_SCAN_LINE ? edited(old, at, line_end(old, at), "") : old,
           "ini_delkey");
}

void delete_section(Input &in) {
    const std::string section = in.text(), old = read_file();
    std::size_t start = old.size();
    const std::size_t end =
        scan([&](FILE *file, char *buffer) -> int {
            if (parse(file, section.c_str(), "", buffer, INI_LINE_SIZE) == INI_SCAN_NONE)
                return INI_SCAN_NONE;
            // From the header to the next header, or to the end of the file.
            start = static_cast<std::size_t>(std::ftell(file));
            (void)std::fgets(buffer, INI_LINE_SIZE - 1, file);
            return parse(file, "*", "", buffer, INI_LINE_SIZE);
        }).second;
    const int status = ini_delsect(path().c_str(), section.c_str());
    expect(status, old, start < old.size() ? old.substr(0, start) + old.substr(end) : old,
           "ini_delsect");
}

void add_entry(Input &in) {
    const std::string section = in.text(), entry = in.text(), old = read_file();
    const auto [result, at] = find_entry(section, entry);
    const int status = ini_setsection_string(path().c_str(), section.c_str(), entry.c_str());
    const std::size_t place = result == INI_SCAN_NONE ? old.size() : at;
    expect(status, old,
           result == INI_SCAN_LINE
               ? old
               : edited(old, place, place, new_line(result, section, entry + "\n")),
           "ini_setsection_string");
    char found[INI_LINE_SIZE];
    check(status != INI_OK || section == "*" ||
              ini_getsection(path().c_str(), section.c_str(), entry.c_str(), INI_ENTRY_MATCH, found,
                             sizeof found) == INI_OK,
          "an added entry is not found");
}

void remove_entry(Input &in) {
    const std::string section = in.text(), entry = in.text(), old = read_file();
    const auto [result, at] = find_entry(section, entry);
    const int status = ini_delsection_string(path().c_str(), section.c_str(), entry.c_str());
    expect(status, old, result == INI_SCAN_LINE ? edited(old, at, line_end(old, at), "") : old,
           "ini_delsection_string");
}

// What a scan leaves: its result, the stream position and the line buffer
// as a string (the last piece read, trimmed in place; empty if none).
struct Scanned {
    int result;
    std::size_t at;
    std::string buffer;
    bool operator==(const Scanned &other) const {
        return result == other.result && at == other.at && buffer == other.buffer;
    }
};

// The scanners as their documentation describes them, one line read at a
// time: the oracle for the exported ones. `parse` with a key, else
// `parse_section`.
Scanned model_scan(const std::string &bytes, std::size_t at, const std::string &section,
                   const std::string *key, std::size_t size, bool rewind) {
    bool inside = section == "*", found = false;
    std::string buffer;
    for (;;) {
        const std::size_t start = at;
        if (at >= bytes.size())
            return {found, at, buffer};
        const std::size_t length = std::min(line_end(bytes, at) - at, size - 2);
        buffer = bytes.substr(at, length).c_str(); // a line read stops at a zero byte
        at += length;
        char copy[INI_LINE_SIZE];
        std::snprintf(copy, sizeof copy, "%s", buffer.c_str());
        const std::string text = trim_string(copy);
        buffer.resize(std::strlen(copy));
        const auto stop = [&](int result) {
            return Scanned{result, key != nullptr || rewind ? start : at, buffer};
        };
        if (!text.empty() && text[0] == '[') {
            if (inside)
                return stop(INI_SCAN_BOUNDARY);
            if (text == "[" + section + "]") {
                if (key != nullptr && key->empty())
                    return stop(INI_SCAN_BOUNDARY);
                inside = found = true;
            }
            continue;
        }
        if (key == nullptr && inside)
            return stop(INI_SCAN_LINE);
        const std::size_t m = key != nullptr ? key->size() : 0;
        if (inside && m > 0 && text.find('=') != std::string::npos &&
            (*key == "*" || (text.compare(0, m, *key) == 0 && text.size() > m &&
                             std::strchr(" \t=", text[m]) != nullptr)))
            return stop(INI_SCAN_LINE);
    }
}

// The exported scanners from `at` with a buffer of `size` bytes, against
// the model: result, position, buffer, and a stream left fit for writing.
void compare_scans(const std::string &section, const std::string &key, std::size_t at,
                   std::size_t size, bool rewind) {
    const std::string bytes = read_file();
    for (const std::string *wanted : {&key, static_cast<const std::string *>(nullptr)}) {
        FILE *file = std::fopen(path().c_str(), "rb");
        std::fseek(file, static_cast<long>(at), SEEK_SET);
        char buffer[INI_LINE_SIZE];
        std::memset(buffer, 0xAA, sizeof buffer);
        buffer[size - 1] = '\0';
        const int result =
            wanted != nullptr
                ? parse(file, section.c_str(), key.c_str(), buffer, static_cast<int>(size))
                : parse_section(file, section.c_str(), buffer, static_cast<int>(size), rewind);
        const bool untouched =
            std::all_of(buffer, buffer + size - 1, [](char c) { return c == '\xAA'; });
        const Scanned got{result, static_cast<std::size_t>(std::ftell(file)),
                          untouched ? "" : buffer};
        check(!std::feof(file) && !std::ferror(file), "a scan left the stream's flags set");
        std::fclose(file);
        check(got == model_scan(bytes, at, section, wanted, size, rewind),
              "a scanner's result, position or buffer differs from a line-by-line walk");
    }
}

void look_up(Input &in) {
    const std::string section = in.text(), key = in.text(), old = read_file();
    char value[INI_LINE_SIZE];
    long number;
    ini_getkey(path().c_str(), section.c_str(), key.c_str(), value, 1 + in.byte() % 40);
    ini_getkey_long(path().c_str(), section.c_str(), key.c_str(), &number, 0);
    ini_getsection(path().c_str(), section.c_str(), key.c_str(), in.byte() % 5, value,
                   1 + in.byte() % 40);
    check(read_file() == old, "a lookup changed the file");
    const uint8_t shape = in.byte();
    compare_scans(section, key, old.size() * in.byte() / 256,
                  shape % 2 ? INI_LINE_SIZE : 3 + shape % 40, shape & 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    Input in{data, size};
    const int operations = 1 + in.byte() % 8;
    // The script comes first, the content after it.
    struct Step {
        uint8_t code;
        Input args;
    } steps[8];
    int count = 0;
    for (; count < operations && in.size > 0; ++count) {
        steps[count].code = in.byte();
        const Input start = in;
        for (int arg = 0; arg < 3; ++arg)
            (void)in.text();
        steps[count].args = Input{start.data, start.size - in.size};
    }
    const std::string content(reinterpret_cast<const char *>(in.data), in.size);
    std::ofstream(path(), std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
    const int descriptors = open_descriptors();
    void (*const edits[])(Input &) = {set_key,   delete_key,   delete_section,
                                      add_entry, remove_entry, look_up};
    for (int i = 0; i < count; ++i) {
        edits[steps[i].code % 6](steps[i].args);
        check(open_descriptors() == descriptors, "a call left a descriptor open");
    }
    return 0;
}
