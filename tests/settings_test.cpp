// Many keys at once: ini_getkeys hands exactly the keys and values the gets
// read; ini_setkeys makes the file the same settings made one by one make,
// or refuses them all.
#include "helpers.h"

#include <map>
#include <set>
#include <tuple>

namespace {

using Keyed = std::map<std::pair<std::string, std::string>, std::string>;

// Files with what a walk must get right: long lines, CRLF, quotes, blank,
// comment and odd lines, repeated sections and keys, no final line feed.
const std::string files[] = {
    "p=1\n=x\n*=2\n[net]\nport = 80\nport=81\nhost x = gw\n#c=1\n\n[b] x\nq=1\n[net]\nl=1\n"
    "[]\ne=1\n[*]\nw=1\n[c]\nz=9",
    "[s]\r\nk = \"v w\" \r\n\r\n ; x=1\r\n\t[t]\r\n  a\t=\tb\r\n",
    "[l]\nk=" + std::string(1200, 'v') + "=w\nafter=1\n" + std::string(997, 'x') + "=1\n[m]\nn=",
    "[a]\nx=1\n[b]\nx=2\n[a]\nx=3\ny=4\n[b]\nz=5\n",
};

struct Walk {
    Keyed keys;
    std::vector<std::string> order;
    int calls = 0, stop_after = 0;
};

int collect(void *user, const char *section, const char *key, const char *value) {
    auto &walk = *static_cast<Walk *>(user);
    walk.keys[{section, key}] = value;
    walk.order.push_back(std::string(section) + "." + key);
    return ++walk.calls == walk.stop_after ? 7 : 0;
}

class Settings : public FileTest {};

TEST_F(Settings, AWalkHandsWhatTheGetsRead) {
    for (const std::string &file : files) {
        put(file);
        Walk all;
        ASSERT_EQ(ini_getkeys(path.c_str(), nullptr, collect, &all), INI_OK) << file;
        // Every pair a get finds, and no other, with the value it reads:
        // the candidates are every header's name and every line's start.
        std::set<std::string> sections = {"*"}, keys;
        for (std::size_t at = 0; at < file.size();) {
            const std::size_t end = std::min(file.find('\n', at), file.size());
            std::string line = file.substr(at, end - at);
            line.erase(0, line.find_first_not_of(" \t"));
            if (!line.empty() && line[0] == '[')
                sections.insert(line.substr(1, line.find_last_of(']') - 1));
            // A line longer than a get reads is read in pieces.
            for (std::size_t piece = 0; piece < line.size() || piece == 0; piece += 998)
                keys.insert(line.substr(piece, line.find_first_of(" \t=", piece) - piece));
            at = end + 1;
        }
        Keyed got;
        for (const std::string &section : sections)
            for (const std::string &key : keys) {
                char value[INI_LINE_SIZE];
                if (ini_getkey(path.c_str(), section.c_str(), key.c_str(), value, sizeof value) ==
                        INI_OK &&
                    key != "*")
                    got[{section, key}] = value;
            }
        EXPECT_EQ(all.keys, got) << file;
        EXPECT_EQ(all.order.size(), got.size()) << file << ": a key handed twice";
        // One section: its keys in file order; a missing one: not found.
        Walk net;
        EXPECT_EQ(ini_getkeys(path.c_str(), "net", collect, &net), file == files[0] ? 0 : 1);
        if (file == files[0])
            EXPECT_EQ(net.order, (std::vector<std::string>{"net.port", "net.host", "net.#c"}));
    }
    Walk stopped;
    stopped.stop_after = 2;
    put(files[3]);
    EXPECT_EQ(ini_getkeys(path.c_str(), "*", collect, &stopped), 7);
    EXPECT_EQ(stopped.order, (std::vector<std::string>{"a.x", "b.x"}));
    EXPECT_EQ(ini_getkeys(path.c_str(), "a", nullptr, nullptr), INI_EINVAL);
    EXPECT_EQ(ini_getkeys((dir + "/none").c_str(), "a", collect, &stopped), INI_EOPEN);
}

// A batch leaves the bytes the same settings made one by one leave, on a
// small file (made in memory, written once), a file larger than the read
// block (made in steps) and a missing one.
TEST_F(Settings, ABatchIsTheSettingsMadeOneByOne) {
    const std::string long_value(990, 'v');
    const std::vector<ini_setting> batches[] = {
        {{"net", "port", "8080"},
         {"new", "a", "1"},
         {"new", "b", "2"},
         {"net", "host", nullptr},
         {"new", "a", "3"},
         {"*", "p", "9"}},
        {{"net", "mask", "255.255.255.0"}, {"net", "gw", "10.0.0.1"}, {"net", "ip", "10.0.0.2"}},
        {{"gone", "k", nullptr}, {"net", "port", nullptr}, {"net", "port", "1"}},
        {{"s", "k", long_value.c_str()}, {"s", "k", nullptr}},
    };
    const std::optional<std::string> befores[] = {
        "p=1\n[net]\nport = 80\nhost=gw\n[log]\nlevel=2",
        "[log]\n" + std::string(20000, ';') + "\n[net]\nport = 80\n",
        std::nullopt,
    };
    for (const auto &before : befores)
        for (const auto &batch : batches) {
            std::filesystem::remove(path);
            std::filesystem::remove(path + ".one");
            if (before) {
                put(*before);
                put(path + ".one", *before);
            }
            int one_by_one = 0;
            for (const ini_setting &s : batch)
                one_by_one |= s.value != nullptr
                                  ? ini_setkey((path + ".one").c_str(), s.section, s.key, s.value)
                                  : ini_delkey((path + ".one").c_str(), s.section, s.key);
            const bool makes = std::any_of(batch.begin(), batch.end(),
                                           [](const ini_setting &s) { return s.value; });
            EXPECT_EQ(ini_setkeys(path.c_str(), batch.data(), int(batch.size())),
                      before || makes ? INI_OK : INI_EOPEN);
            EXPECT_EQ(bytes_of(path), bytes_of(path + ".one"))
                << before.value_or("(missing)").substr(0, 40) << ", " << batch.size();
            EXPECT_EQ(one_by_one & ~INI_EOPEN, 0);
        }
}

// One refused setting refuses them all, the file untouched and not made;
// so do a negative count and one over the most.
TEST_F(Settings, ABatchIsAllOrNothing) {
    const std::string before = "[net]\nport=80\n";
    const std::string too_long(999, 'v'), long_section(995, 's');
    const std::vector<ini_setting> refused[] = {
        {{"net", "port", "1"}, {"net", "bad=key", "2"}},
        {{"net", "port", "1"}, {"net", "k", "two\nlines"}},
        {{"net", "port", "1"}, {"net", "k", too_long.c_str()}},
        {{"net", "port", "1"}, {long_section.c_str(), "k", "v"}},
        {{"net", "port", "1"}, {nullptr, "k", "v"}},
    };
    for (const bool there : {true, false}) {
        for (const auto &batch : refused) {
            std::filesystem::remove(path);
            if (there)
                put(before);
            EXPECT_EQ(ini_setkeys(path.c_str(), batch.data(), int(batch.size())), INI_EINVAL);
            EXPECT_EQ(bytes_of(path), there ? std::optional(before) : std::nullopt);
        }
    }
    const std::vector<ini_setting> many(INI_SETKEYS_MAX + 1, ini_setting{"s", "k", "v"});
    EXPECT_EQ(ini_setkeys(path.c_str(), many.data(), int(many.size())), INI_EINVAL);
    EXPECT_EQ(ini_setkeys(path.c_str(), many.data(), -1), INI_EINVAL);
    EXPECT_EQ(ini_setkeys(path.c_str(), nullptr, 0), INI_OK);
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(ini_setkeys(path.c_str(), many.data(), INI_SETKEYS_MAX), INI_OK);
    EXPECT_EQ(contents(), "[s]\nk=v\n");
}

} // namespace
