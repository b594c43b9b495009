// The library against its model (model.h) over generated files and calls,
// seeded: sections, keys, entries, comments, blank lines, CRLF, zero
// bytes, lines around 998 bytes, repeated sections and keys, no final line
// feed, the wildcard. Every call is checked in full: its status, the whole
// file's bytes and the caller's buffer. The limits at n-1, n and n+1: the
// text written and the line read (998 bytes), the file-size limit, and the
// range of the typed values.
#include "helpers.h"
#include "model.h"
#include "numbers.h"

#include <cstdint>
#include <random>
#include <sys/resource.h>
#include <tuple>

namespace {

using model::Call;
using model::Op;

// Decimal `text` plus one.
std::string plus_one(std::string text) {
    std::size_t at = text.size();
    while (at > 0 && text[at - 1] == '9')
        text[--at] = '0';
    return at == 0 ? "1" + text : text.replace(at - 1, 1, 1, char(text[at - 1] + 1));
}

// Numbers at the edges of long and unsigned long (32 bits on the target,
// 64 on x86-64) and one past them, as values and as a person gives them.
std::vector<std::string> number_texts() {
    std::vector<std::string> texts = {"010", "0x1F", "ff",  "1e3", "12abc", "0b101", "101",
                                      "102", "0x",   "4 2", "+-5", "-",     "\v5",   ""};
    for (const unsigned long n :
         {0UL, 0x7FFFFFFFUL, 0x80000000UL, 0xFFFFFFFFUL, 0UL + LONG_MAX, 1UL + LONG_MAX, ULONG_MAX})
        for (const std::string &digits :
             {std::to_string(n), plus_one(std::to_string(n)), model::hex_text(n),
              model::hex_text(n + 1), "0x1" + std::string(2 * sizeof n, '0')})
            for (const char *sign : {"", "-", "+", " -", "\v-"})
                texts.push_back(sign + digits);
    return texts;
}
const std::vector<std::string> numbers = number_texts();

// Files and calls made of a few names, so that they meet.
struct Generator {
    std::mt19937 random;
    std::vector<std::string> names = {"a", "net", "k", "port", "x", "", "*", "a b", "[b]", "a\nb"};

    std::vector<std::string> values = {"1",  "",     " v ", "\"q\"", "\" a \"",
                                       "\"", "\"\"", "a=b", "\r"};

    std::size_t below(std::size_t n) { return random() % n; }
    template <typename T> const T &pick(const std::vector<T> &all) {
        return all[below(all.size())];
    }
    std::string blanks() { return pick<std::string>({"", "", " ", "\t", " \t"}); }
    std::string name() { return pick(names); }
    // A line of about `length` bytes (with `end`), maybe a whole piece of
    // text and then a header or a key line as its next piece.
    std::string long_line(std::size_t length, const std::string &end) {
        const std::string tail = pick<std::string>({"", "[b]", " \t[a]", "k=1"});
        return "k=" + std::string(length - 2 - end.size() - tail.size(), 'v') + tail;
    }
    std::string line(const std::string &end) {
        switch (below(9)) {
        case 0:
            return blanks() + "[" + name() + "]" + blanks();
        case 1:
            return pick<std::string>({"[ a ]", "[a] x", "[a", "[*]", "[]"});
        case 2:
        case 3:
            return blanks() + name() + blanks() + "=" + blanks() +
                   (below(2) == 0 ? pick(numbers) : pick(values)) + blanks();
        case 4:
            return pick<std::string>({";c=1", "#k", "alpha", " beta ", "k", "=v", "x y=1"});
        case 5:
            return std::string("k=1\0junk", 8);
        case 6:
            return long_line(pick<std::size_t>({997, 998, 999, 1000, 1996, 1997}), end);
        default:
            return blanks();
        }
    }
    model::File file() {
        if (below(8) == 0)
            return std::nullopt;
        std::string bytes = below(12) == 0 ? std::string(16384 - 2, ';') + "\n" : "";
        const std::string end = below(3) == 0 ? "\r\n" : "\n";
        for (std::size_t lines = below(12); lines > 0; --lines)
            bytes += line(end) + end;
        // Now and then more names than ini_getkeys gathers at once, some
        // standing again far from their first line.
        for (std::size_t lines = below(16) == 0 ? 400 : 0; lines > 0; --lines)
            bytes += "k" + std::to_string(below(250)) + "=" + std::to_string(lines) + end;
        if (below(3) == 0 && !bytes.empty())
            bytes.pop_back();
        // Now and then ending where a read block ends (the tiny build's, or
        // the default one's), without a line feed.
        const std::size_t block = bytes.size() > 16384 ? 16384 : 64;
        if (below(4) == 0)
            bytes.append((block - bytes.size() % block) % block, 'v');
        return bytes;
    }
    // A section and a key or an entry the file holds (a piece's text, or
    // its key), or names; a value of a line of 997 to 999 bytes now and then.
    std::pair<std::string, std::string> held(const model::File &file, bool key) {
        const auto pieces = model::pieces(file.value_or(""));
        std::size_t at = pieces.size();
        for (int tries = 0; tries < 4 && !pieces.empty(); ++tries)
            if (at = below(pieces.size()); !key || pieces[at].text.find('=') != model::npos)
                break;
        if (at == pieces.size() || below(4) == 0)
            return {name(), name()};
        std::string section = "*", text = pieces[at].text;
        for (std::size_t i = 0; i < at; ++i)
            if (pieces[i].header())
                section = pieces[i].text.substr(1, pieces[i].text.size() - 2);
        return {section, key ? text.substr(0, text.find_first_of(" \t=")) : text};
    }
    std::string value(std::size_t taken) {
        if (below(3) > 0 || taken >= model::text_max)
            return below(2) == 0 ? pick(values) : pick(numbers);
        return std::string(model::text_max - taken - 1 + below(3), 'v');
    }
    Call call(const model::File &file) {
        Call c{Op(below(std::size_t(Op::count)))};
        const bool entry = c.op == Op::get_entry || c.op == Op::add || c.op == Op::drop ||
                           c.op == Op::get_entry_string;
        std::tie(c.section, c.key) = held(file, !entry);
        if (below(8) == 0)
            c.section = "new";
        const std::size_t header = below(2) == 0 ? c.section.size() + 3 : 0;
        c.value = value(header + (c.op == Op::add ? 1 : c.key.size() + 2));
        if (c.op == Op::add && below(2) == 0)
            c.key = c.value;
        if (entry && below(4) == 0)
            c.key = blanks() + c.key + blanks();
        c.mode = below(4) > 0 ? int(below(4)) : pick<int>({-1, 4});
        c.len = pick<int>({1, 2, 5, 64, 1000});
        c.null = below(4) == 0 &&
                 (c.op == Op::get_entry || c.op == Op::get_string || c.op == Op::get_entry_string);
        c.number = pick<long>({0, -1, 5, LONG_MIN, LONG_MAX, long(ULONG_MAX >> 1), 0x7FFFFFFF});
        for (std::size_t count = c.op == Op::set_keys ? 1 + below(4) : 0; count > 0; --count) {
            c.batch.push_back({below(3) == 0 ? Op::del : Op::set});
            std::tie(c.batch.back().section, c.batch.back().key) = held(file, true);
            c.batch.back().value = value(c.batch.back().key.size() + 2);
        }
        return c;
    }
};

// Where two files differ, briefly: their sizes and the bytes from there.
std::string difference(const model::File &got, const model::File &expected) {
    if (got == expected || !got || !expected)
        return got == expected ? "" : got ? "a file made" : "no file";
    const std::size_t at =
        std::mismatch(got->begin(), got->begin() + std::min(got->size(), expected->size()),
                      expected->begin())
            .first -
        got->begin();
    return std::to_string(got->size()) + " bytes, not " + std::to_string(expected->size()) +
           "; from byte " + std::to_string(at) + ": '" + got->substr(at, 40) + "', not '" +
           expected->substr(at, 40) + "'";
}

std::string shown(const Call &c) {
    std::string text = "op " + std::to_string(int(c.op)) + " [" + c.section + "] '" +
                       c.key.substr(0, 40) + "' = '" + c.value.substr(0, 40) + "' (" +
                       std::to_string(c.value.size()) + " bytes), mode " + std::to_string(c.mode) +
                       ", len " + std::to_string(c.len);
    for (const Call &one : c.batch)
        text += "; " + shown(one);
    return text;
}

class Model : public FileTest {
  protected:
    Model() { in_memory = true; }
    void lay(const model::File &file) const {
        std::filesystem::remove(path);
        if (file)
            put(*file);
    }
    // Makes `call` on the file, which holds `file`, and on the model;
    // returns what it writes into the caller's buffer.
    std::string check(const Call &call, model::File &file) const {
        std::string got(1024, '#'), expected = got;
        const model::File before = file;
        EXPECT_EQ(model::run(call, path.c_str(), got), model::expect(call, file, expected))
            << shown(call);
        EXPECT_EQ(got, expected) << shown(call);
        if (const model::File now = bytes_of(path); now != file) {
            ADD_FAILURE() << shown(call) << ": " << difference(now, file) << "; before: '"
                          << before.value_or("(none)").substr(0, 200) << "'";
            lay(file);
        }
        return got;
    }
};

// Each generated file meets a few calls in turn, each on the file the one
// before left.
TEST_F(Model, EveryCallAsTheModelHasIt) {
    Generator generate{std::mt19937(20261208)};
    for (int round = 0; round < 400; ++round) {
        model::File file = generate.file();
        lay(file);
        for (int step = 0; step < 8; ++step)
            check(generate.call(file), file);
    }
}

// The scanners from any point of a generated file, with line buffers of
// any size, on a stream whose error flag a failed read set before: their
// result, the stream's position and state, and the buffer.
TEST_F(Model, ScannersAsTheModelHasThem) {
    Generator generate{std::mt19937(20261210)};
    for (int round = 0; round < 400; ++round) {
        const std::string bytes = generate.file().value_or("");
        const auto [section, key] = generate.held(bytes, true);
        const std::size_t at = generate.below(bytes.size() + 1),
                          size = generate.below(2) == 0 ? INI_LINE_SIZE : 3 + generate.below(40);
        const bool rewind = generate.below(2) == 0;
        put(bytes);
        for (const std::string *wanted : {&key, static_cast<const std::string *>(nullptr)}) {
            FILE *stream = open_stream("rb");
            std::fseek(stream, static_cast<long>(at), SEEK_SET);
            Marked<INI_LINE_SIZE> buffer(0xAA);
            const int result =
                wanted != nullptr
                    ? parse(stream, section.c_str(), key.c_str(), buffer.bytes, int(size))
                    : parse_section(stream, section.c_str(), buffer.bytes, int(size), rewind);
            const bool untouched = buffer.all().find_first_not_of('\xAA') == size - 1;
            const model::Scanned got{result, static_cast<std::size_t>(std::ftell(stream)),
                                     untouched ? "" : buffer.bytes};
            EXPECT_FALSE(std::feof(stream) || std::ferror(stream));
            std::fclose(stream);
            EXPECT_TRUE(got == model::scan(bytes, at, section, wanted, size, rewind))
                << "[" << section << "] " << (wanted ? key : "(entries)") << " from " << at
                << ", size " << size << ", rewind " << rewind << ": " << got.result << " at "
                << got.at << ", '" << got.buffer << "'";
        }
    }
}

// Every writer with a section, key, entry or value of a length that makes
// its text (a line, or a header with its line) 998 bytes, and a few either
// side: in a section, a new file, a new section after a line without a line
// feed. A number written reads back as itself.
TEST_F(Model, WritersAroundTheLongestText) {
    const std::pair<Op, Op> writers[] = {
        {Op::set, Op::get},           {Op::set_string, Op::get_string},
        {Op::set_long, Op::get_long}, {Op::set_ulong, Op::get_ulong},
        {Op::set_hex, Op::get_ulong}, {Op::set_bin, Op::get_bin},
        {Op::add, Op::get_entry},     {Op::set_keys, Op::get},
    };
    for (const auto &[op, get] : writers)
        for (std::size_t length = 955; length < 1000; ++length)
            for (auto part : {&Call::section, &Call::key, &Call::value}) {
                Call call{op, "s", "k", "v", 0, 1000, LONG_MIN + 5};
                call.*part = std::string(length, 'x');
                call.batch = {{Op::set, call.section, call.key, call.value}};
                // The binary writer writes the low 32 bits.
                const unsigned long bits =
                    op == Op::set_bin ? static_cast<std::uint32_t>(call.number) : 0UL + call.number;
                for (model::File file : {model::File("[s]\n"), model::File(), model::File("[t]")}) {
                    lay(file);
                    model::File made = file;
                    std::string ignored(1024, '#');
                    const bool written = model::expect(call, made, ignored) == 0;
                    check(call, file);
                    Call read = call;
                    read.op = get;
                    const std::string got = check(read, file);
                    if (written && op >= Op::set_long && op <= Op::set_bin)
                        EXPECT_EQ(got, op == Op::set_long ? std::to_string(call.number)
                                                          : std::to_string(bits));
                }
            }
}

// What the numeric getters read, and how a value a person gives (the tool
// reads it so) is read, at the edges of the ranges.
TEST_F(Model, NumbersAtTheEdgesOfTheirRange) {
    std::string bytes = "[s]\n";
    for (std::size_t i = 0; i < numbers.size(); ++i)
        bytes += "k" + std::to_string(i) + "=" + numbers[i] + "\n";
    put(bytes);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        for (const Op op : {Op::get_long, Op::get_ulong, Op::get_bin}) {
            const Call call{op, "s", "k" + std::to_string(i)};
            std::string got, expected;
            model::File file = bytes;
            EXPECT_EQ(model::run(call, path.c_str(), got), model::expect(call, file, expected))
                << numbers[i];
            EXPECT_EQ(got, expected) << numbers[i];
        }
        long given = 0;
        unsigned long given_bits = 0;
        for (const bool binary : {false, true}) {
            const auto radix = binary ? iniplace::Radix::binary : iniplace::Radix::decimal_then_hex;
            const auto as_long = model::typed<long>(numbers[i], binary, true);
            const auto as_ulong = model::typed<unsigned long>(numbers[i], binary, true);
            EXPECT_EQ(iniplace::parse_given_number(numbers[i].c_str(), radix, false, given),
                      as_long.has_value())
                << numbers[i];
            EXPECT_EQ(given, as_long.value_or(given)) << numbers[i];
            EXPECT_EQ(iniplace::parse_given_number(numbers[i].c_str(), radix, false, given_bits),
                      as_ulong.has_value())
                << numbers[i];
            EXPECT_EQ(given_bits, as_ulong.value_or(given_bits)) << numbers[i];
        }
    }
}

// Edits under a file-size limit of the size they reach less one, exactly,
// and one more (a process keeps SIGXFSZ's default, which would end it past
// the limit): one byte over is refused, the file as it was; a file already
// over the limit is not edited, even to shrink it. The edits are near the
// end of a larger file, so that a journal is small.
TEST_F(Model, EditsAtTheFileSizeLimit) {
    Generator generate{std::mt19937(20261209)};
    int checked = 0;
    for (int round = 0; checked < 60 && round < 1000; ++round) {
        model::File file = generate.file();
        if (file)
            file->insert(0, std::string(4000, ';') + "\n");
        Call call = generate.call(file);
        model::File after = file;
        std::string ignored(1024, '#');
        // A batch on a file larger than the read block reserves the most
        // it may grow by, which is more.
        if (call.op == Op::set_keys || model::expect(call, after, ignored) != 0 || after == file)
            continue;
        // The durable build's journal keeps the bytes from the first change
        // on, under the same limit: an edit near the start cannot be made.
        const std::string &old = file.value_or("");
        const auto first = std::mismatch(old.begin(), old.end(), after->begin(), after->end());
        if (durable_build && old.end() - first.first > 1024)
            continue;
        const std::size_t reached = std::max(file.value_or("").size(), after->size());
        for (const std::size_t limit : {reached - 1, reached, reached + 1}) {
            lay(file);
            const bool made = limit >= reached;
            const int status = in_child([&] {
                const rlimit most{limit, RLIM_INFINITY};
                setrlimit(RLIMIT_FSIZE, &most);
                return model::run(call, path.c_str(), ignored) & 0xFF;
            });
            EXPECT_EQ(status, (made   ? INI_OK
                               : file ? edit_failed
                                      : INI_EOPEN) &
                                  0xFF)
                << shown(call) << ", limit " << limit << " of " << reached;
            EXPECT_EQ(difference(bytes_of(path), made ? after : file), "")
                << shown(call) << ", limit " << limit;
            EXPECT_FALSE(exists(path + "-journal"));
            ++checked;
        }
    }
}

} // namespace
