// Every argument the library refuses, for all 23 functions: the status,
// the file byte for byte as it was, and no file created.
#include "helpers.h"

namespace {

class Arguments : public FileTest {};

TEST_F(Arguments, AreRefusedBeforeTheFileIsTouched) {
    const std::string sample = "p=1\n[s]\nk=1\n[hosts]\nalpha\n";
    char out[16], buf[INI_LINE_SIZE];
    long number = 0;
    unsigned long bits = 0;
    using P = const char *;
    const ini_setting unnamed = {nullptr, "k", "v"};
    const std::vector<ini_setting> many(INI_SETKEYS_MAX + 1, ini_setting{"s", "k", "v"});
    const auto get = [&](P s, P ref, int mode, char *dst, int len) -> Call {
        return [=](P p) { return ini_getsection(p, s, ref, mode, dst, len); };
    };
    // A scanner on the file opened for update, if there is one: the stream
    // must not move.
    const auto scan = [](const std::function<int(FILE *)> &step) -> Call {
        return [=](P p) {
            FILE *stream = std::fopen(p, "r+b");
            const int result = step(stream);
            if (stream != nullptr && (std::ftell(stream) != 0 || std::fclose(stream) != 0))
                return 99;
            return result;
        };
    };
    const struct {
        const char *name;
        Call call;
        int status;
    } cases[] = {
        {"getkey key", [&](P p) { return ini_getkey(p, "s", nullptr, out, 16); }, INI_EINVAL},
        {"getkey dst", [](P p) { return ini_getkey(p, "s", "k", nullptr, 8); }, INI_EINVAL},
        {"getkey len 0", [&](P p) { return ini_getkey(p, "s", "k", out, 0); }, INI_EINVAL},
        {"setkey value", set("s", "k", nullptr), INI_EINVAL},
        {"empty key", set("s", "", "v"), INI_EINVAL},
        {"wildcard key", set("s", "*", "v"), INI_EINVAL},
        {"key with =", set("s", "k=x", "v"), INI_EINVAL},
        {"key with line feed", set("s", "k\nx", "v"), INI_EINVAL},
        {"key starting with [", set("s", "[k", "v"), INI_EINVAL},
        {"key starting with a space", set("s", " k", "v"), INI_EINVAL},
        {"key starting with a tab", set("s", "\tk", "v"), INI_EINVAL},
        {"section with line feed", set("s\nt", "k", "v"), INI_EINVAL},
        {"value with line feed", set("s", "k", "v\nw"), INI_EINVAL},
        {"delkey key", [](P p) { return ini_delkey(p, "s", nullptr); }, INI_EINVAL},
        {"delsect section", [](P p) { return ini_delsect(p, nullptr); }, INI_EINVAL},
        {"setkey_string null", [](P p) { return ini_setkey_string(p, "s", "k", nullptr); },
         INI_EINVAL},
        {"setkey_string quoted over a text",
         [&](P p) { return ini_setkey_string(p, "s", "k", std::string(997, 'v').c_str()); },
         INI_EINVAL},
        {"setkey_long key", [](P p) { return ini_setkey_long(p, "s", nullptr, 1); }, INI_EINVAL},
        {"setkey_ulong key", [](P p) { return ini_setkey_ulong(p, "s", "", 1); }, INI_EINVAL},
        {"setkey_hex section", [](P p) { return ini_setkey_hex(p, nullptr, "k", 1); }, INI_EINVAL},
        {"setkey_bin path", [](P) { return ini_setkey_bin(nullptr, "s", "k", 1); }, INI_EINVAL},
        {"getkey_string dst", [](P p) { return ini_getkey_string(p, "s", "k", nullptr, 8, "d"); },
         INI_EINVAL},
        {"getkey_string len", [&](P p) { return ini_getkey_string(p, "s", "k", out, 0, "d"); },
         INI_EINVAL},
        {"getkey_long out", [](P p) { return ini_getkey_long(p, "s", "k", nullptr, 1); },
         INI_EINVAL},
        {"getkey_ulong key, default stored",
         [&](P p) {
             const int status = ini_getkey_ulong(p, "s", nullptr, &bits, 9);
             EXPECT_EQ(bits, 9u);
             return status;
         },
         INI_EINVAL},
        {"getkey_bin path", [&](P) { return ini_getkey_bin(nullptr, "s", "k", &bits, 1); },
         INI_EINVAL},
        {"getkey_long section, default stored",
         [&](P p) {
             const int status = ini_getkey_long(p, nullptr, "k", &number, -7);
             EXPECT_EQ(number, -7);
             return status;
         },
         INI_EINVAL},
        {"getsection section", get(nullptr, nullptr, INI_ENTRY_FIRST, out, 16), INI_ESECTION},
        {"getsection wildcard", get("*", nullptr, INI_ENTRY_FIRST, out, 16), INI_ESECTION},
        {"getsection dst", get("hosts", nullptr, INI_ENTRY_FIRST, nullptr, 16), INI_EDEST},
        {"getsection len 0", get("hosts", nullptr, INI_ENTRY_FIRST, out, 0), INI_EDEST},
        {"getsection ref", get("hosts", nullptr, INI_ENTRY_PREV, out, 16), INI_EINVAL},
        {"getsection path",
         [&](P) { return ini_getsection(nullptr, "hosts", "a", INI_ENTRY_MATCH, out, 16); },
         INI_EINVAL},
        {"getsection_string dst",
         [](P p) { return ini_getsection_string(p, "hosts", nullptr, 0, nullptr, 8, "d"); },
         INI_EINVAL},
        {"add section", add(nullptr, "e"), INI_EINVAL},
        {"add entry", add("hosts", nullptr), INI_EINVAL},
        {"add section with line feed", add("a\nb", "e"), INI_EINVAL},
        {"add blank entry", add("hosts", " \t "), INI_EINVAL},
        {"add header-like entry", add("hosts", " \t[x]"), INI_EINVAL},
        {"add entry with line feed", add("hosts", "a\nb"), INI_EINVAL},
        {"remove section", [](P p) { return ini_delsection_string(p, nullptr, "a"); }, INI_EINVAL},
        {"remove entry", [](P p) { return ini_delsection_string(p, "hosts", nullptr); },
         INI_EINVAL},
        {"parse size 2", scan([&](FILE *s) { return parse(s, "s", "k", buf, 2); }), INI_SCAN_NONE},
        {"parse buffer", scan([](FILE *s) { return parse(s, "s", "k", nullptr, 9); }),
         INI_SCAN_NONE},
        {"parse key", scan([&](FILE *s) { return parse(s, "s", nullptr, buf, 9); }), INI_SCAN_NONE},
        {"parse stream", [&](P) { return parse(nullptr, "s", "k", buf, 9); }, INI_SCAN_NONE},
        {"parse_section size 2", scan([&](FILE *s) { return parse_section(s, "s", buf, 2, 0); }),
         INI_SCAN_NONE},
        {"parse_section section",
         scan([&](FILE *s) { return parse_section(s, nullptr, buf, 9, 0); }), INI_SCAN_NONE},
        {"getkeys handler", [](P p) { return ini_getkeys(p, "s", nullptr, nullptr); }, INI_EINVAL},
        {"setkeys section", [&](P p) { return ini_setkeys(p, &unnamed, 1); }, INI_EINVAL},
        {"setkeys count -1", [&](P p) { return ini_setkeys(p, many.data(), -1); }, INI_EINVAL},
        {"setkeys settings", [](P p) { return ini_setkeys(p, nullptr, 1); }, INI_EINVAL},
        {"setkeys none", [](P p) { return ini_setkeys(p, nullptr, 0); }, INI_OK},
        {"setkeys one too many",
         [&](P p) { return ini_setkeys(p, many.data(), INI_SETKEYS_MAX + 1); }, INI_EINVAL},
        {"file_ins stream", [](P) { return file_ins(nullptr, 1, "x"); }, -1},
        {"file_cut stream", [](P) { return file_cut(nullptr, 1); }, -1},
    };
    for (const auto &c : cases) {
        put(sample);
        EXPECT_EQ(c.call(path.c_str()), c.status) << c.name;
        EXPECT_EQ(contents(), sample) << c.name;
        std::filesystem::remove(path);
        EXPECT_EQ(c.call(path.c_str()), c.status) << c.name << " (no file)";
        EXPECT_FALSE(exists(path)) << c.name << " (no file)";
    }
    // The interface's version, whatever the release, into any out-parameters.
    int version[3] = {};
    EXPECT_EQ(
        ini_version(version, version + 1, version + 2) + ini_version(nullptr, nullptr, nullptr), 2);
    EXPECT_EQ(std::vector<int>(version, version + 3), (std::vector<int>{1, 0, 0}));
}

} // namespace
