// The libraries users would otherwise pick, each in its closest idiom to a
// self-contained call: read the file, operate, write it back, free.
// (A separate program: minIni exports names that iniplace exports too.)
#include "corpus.h"

#include <SimpleIni.h>
#include <algorithm>
#include <cstring>
#include <glib.h>
#include <ini.h>
#include <iniparser/iniparser.h>
#include <map>
#include <minIni.h>

namespace {

using bench::Op;
using bench::Target;

bool is_get(Op op) {
    return op == Op::get_start || op == Op::get_middle || op == Op::get_end || op == Op::get_typed;
}
bool is_set(Op op) {
    return op == Op::set_same || op == Op::set_longer || op == Op::set_shorter ||
           op == Op::set_new || op == Op::set_start || op == Op::set_end;
}
bool is_startup(Op op) {
    return op == Op::startup_20 || op == Op::startup_200;
}
// Entry lists are a notion of iniplace's, and so are batches of settings;
// none of the peers has them.
bool keys_only(Op op) {
    return op < Op::entry_has || is_startup(op);
}

bool run_minini(Op op, const Target &t, const char *path, const std::string &) {
    const char *section = t.section.c_str(), *key = t.key.c_str();
    char value[256];
    if (is_startup(op)) {
        for (const auto &[s, k] : t.keys)
            if (ini_gets(s.c_str(), k.c_str(), "", value, sizeof value, path) <= 0)
                return false;
        return true;
    }
    if (op == Op::get_typed)
        return ini_getl(section, key, -1, path) != -1;
    if (is_get(op))
        return ini_gets(section, key, "", value, sizeof value, path) > 0;
    if (is_set(op))
        return ini_puts(section, key, t.value.c_str(), path) == 1;
    if (op == Op::del_key)
        return ini_puts(section, key, nullptr, path) == 1;
    return ini_puts(section, nullptr, nullptr, path) == 1;
}

struct InihQuery {
    const Target *target;
    std::string value;
    bool found;
    bench::KeyMap all; // at start-up
};

int inih_handler(void *user, const char *section, const char *name, const char *value) {
    auto *query = static_cast<InihQuery *>(user);
    if (!query->target->keys.empty())
        bench::keep_key(query->all, section, name, value);
    else if (!query->found && query->target->section == section && query->target->key == name) {
        query->value = value;
        query->found = true;
    }
    return 1;
}

// Parsed once; at start-up every key kept in a map and looked up there.
bool run_inih(Op op, const Target &t, const char *path, const std::string &) {
    InihQuery query{&t, {}, false, {}};
    if (ini_parse(path, inih_handler, &query) != 0)
        return false;
    if (is_startup(op))
        return std::all_of(t.keys.begin(), t.keys.end(),
                           [&](const auto &key) { return query.all.count(key) != 0; });
    return query.found &&
           (op != Op::get_typed || std::strtol(query.value.c_str(), nullptr, 10) > 0);
}

bool run_iniparser(Op op, const Target &t, const char *path, const std::string &) {
    dictionary *dict = iniparser_load(path);
    if (dict == nullptr)
        return false;
    const std::string entry = t.section + ":" + t.key;
    bool done = true;
    if (is_startup(op)) {
        for (const auto &[s, k] : t.keys)
            done = done && iniparser_getstring(dict, (s + ":" + k).c_str(), nullptr) != nullptr;
    } else if (op == Op::get_typed) {
        done = iniparser_getlongint(dict, entry.c_str(), -1) != -1;
    } else if (is_get(op)) {
        done = iniparser_getstring(dict, entry.c_str(), nullptr) != nullptr;
    } else {
        if (is_set(op)) {
            done = iniparser_set(dict, entry.c_str(), t.value.c_str()) == 0;
        } else if (op == Op::del_key) {
            iniparser_unset(dict, entry.c_str());
        } else {
            const int count = iniparser_getsecnkeys(dict, t.section.c_str());
            std::vector<const char *> keys(static_cast<std::size_t>(count));
            iniparser_getseckeys(dict, t.section.c_str(), keys.data());
            std::vector<std::string> names(keys.begin(), keys.end());
            for (const auto &name : names)
                iniparser_unset(dict, name.c_str());
            iniparser_unset(dict, t.section.c_str());
        }
        FILE *out = std::fopen(path, "w");
        iniparser_dump_ini(dict, out);
        done = done && std::fclose(out) == 0;
    }
    iniparser_freedict(dict);
    return done;
}

bool run_simpleini(Op op, const Target &t, const char *path, const std::string &) {
    CSimpleIniA ini;
    if (ini.LoadFile(path) < 0)
        return false;
    const char *section = t.section.c_str(), *key = t.key.c_str();
    if (is_startup(op))
        return std::all_of(t.keys.begin(), t.keys.end(), [&](const auto &k) {
            return ini.GetValue(k.first.c_str(), k.second.c_str()) != nullptr;
        });
    if (op == Op::get_typed)
        return ini.GetLongValue(section, key, -1) != -1;
    if (is_get(op))
        return ini.GetValue(section, key) != nullptr;
    if (is_set(op))
        ini.SetValue(section, key, t.value.c_str());
    else
        ini.Delete(section, op == Op::del_key ? key : nullptr);
    return ini.SaveFile(path) >= 0;
}

bool run_gkeyfile(Op op, const Target &t, const char *path, const std::string &) {
    GKeyFile *file = g_key_file_new();
    bool done = g_key_file_load_from_file(file, path, G_KEY_FILE_KEEP_COMMENTS, nullptr);
    const char *section = t.section.c_str(), *key = t.key.c_str();
    if (done && is_startup(op)) {
        for (const auto &[s, k] : t.keys) {
            gchar *value = g_key_file_get_string(file, s.c_str(), k.c_str(), nullptr);
            done = done && value != nullptr;
            g_free(value);
        }
    } else if (done && op == Op::get_typed) {
        GError *error = nullptr;
        g_key_file_get_integer(file, section, key, &error);
        done = error == nullptr;
        g_clear_error(&error);
    } else if (done && is_get(op)) {
        gchar *value = g_key_file_get_string(file, section, key, nullptr);
        done = value != nullptr;
        g_free(value);
    } else if (done) {
        if (is_set(op))
            g_key_file_set_string(file, section, key, t.value.c_str());
        else if (op == Op::del_key)
            done = g_key_file_remove_key(file, section, key, nullptr);
        else
            done = g_key_file_remove_group(file, section, nullptr);
        done = done && g_key_file_save_to_file(file, path, nullptr);
    }
    g_key_file_free(file);
    return done;
}

} // namespace

int main(int argc, char **argv) {
    bench::register_all("minIni", keys_only, run_minini);
    bench::register_all(
        "inih", [](Op op) { return is_get(op) || is_startup(op); }, run_inih);
    bench::register_all("iniparser", keys_only, run_iniparser);
    bench::register_all("SimpleIni", keys_only, run_simpleini);
    bench::register_all("GKeyFile", keys_only, run_gkeyfile);
    return bench::main(argc, argv);
}
