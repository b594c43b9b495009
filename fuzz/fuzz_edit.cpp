// Runs a short script of calls on a real file and checks each against the
// model of the library's rules (tests/model.h): its status, the whole file
// and what it writes into a caller's buffer; and the scanners against a
// line-by-line walk of the file as their documentation gives it.
//
// Input: one byte with the number of calls (1 to 8), then for each an
// opcode byte followed by its section, key (or entry) and value as
// zero-terminated strings; the bytes that remain are the file's content.
#include "../tests/descriptors.h"
#include "../tests/model.h"

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
        const model::Scanned got{result, static_cast<std::size_t>(std::ftell(file)),
                                 untouched ? "" : buffer};
        check(!std::feof(file) && !std::ferror(file), "a scan left the stream's flags set");
        std::fclose(file);
        check(got == model::scan(bytes, at, section, wanted, size, rewind),
              "a scanner's result, position or buffer differs from a line-by-line walk");
    }
}

// One call: through the library and by the model, compared in full; the
// last opcode compares the scanners from a point of the file instead.
void step(uint8_t code, Input &in) {
    model::Call call;
    call.op = model::Op(code % (int(model::Op::count) + 1));
    call.section = in.text();
    call.key = in.text();
    call.value = in.text();
    if (call.op == model::Op::count) {
        const uint8_t shape = in.byte();
        compare_scans(call.section, call.key, read_file().size() * in.byte() / 256,
                      shape % 2 ? INI_LINE_SIZE : 3 + shape % 40, shape & 2);
        return;
    }
    call.mode = code / 32 % 6 - 1;
    call.len = 1 + static_cast<int>(call.value.size() % 64);
    call.number = static_cast<long>(std::strtoul(call.value.c_str(), nullptr, 0));
    call.batch.assign(2, call); // the value's key set, and the key deleted in [value]
    call.batch[0].op = model::Op::set;
    call.batch[1].op = model::Op::del;
    call.batch[1].section = call.value;
    model::File file = read_file();
    std::string got(1024, '#'), expected = got;
    check(model::run(call, path().c_str(), got) == model::expect(call, file, expected),
          "a call's status differs from the model's");
    check(got == expected, "what a call wrote for its caller differs from the model's");
    check(read_file() == file.value_or(""), "a call left another file than the model");
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
    for (int i = 0; i < count; ++i) {
        step(steps[i].code, steps[i].args);
        check(open_descriptors() == descriptors, "a call left a descriptor open");
    }
    return 0;
}
