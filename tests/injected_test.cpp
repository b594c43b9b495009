// Faults injected at the library's own system calls through its io hook:
// a disk that fills up at each write of an edit in turn.
#include "helpers.h"
#include "io_hook.h"

namespace {

const std::string sample = "p=1\n[net]\nport=80\nhost=gw\n[hosts]\nalpha\nbeta\n[log]\nlevel=2\n";

class Injected : public FileTest {};

// The disk fills up at each write in turn: that write takes half its
// bytes, every later one none. The call returns and closes the file, and a
// file not grown to its new size has every byte it had. In the durable
// build a write that fails alone is undone from the journal at once.
TEST_F(Injected, AFailingWriteNeverLeavesAHalfGrownFile) {
    const std::string before = sample + std::string(300, ';') + "\n";
    const std::string value(200, 'v');
    const struct {
        const char *name;
        Call edit;
        std::string after;
    } cases[] = {
        {"set", set("net", "port", value.c_str()), std::string(before).replace(15, 2, value)},
        {"file_ins", insert_at(15, value), std::string(before).insert(15, value)},
    };
    for (const auto act : {hook::Act::fill_disk, hook::Act::fail}) {
        for (const auto &c : cases) {
            for (int failing = 1, failed = 1; failed; ++failing) {
                put(before);
                const int descriptors = open_descriptors();
                hook::arm({{hook::Op::write}, failing}, act);
                const int status = c.edit(path.c_str());
                hook::disarm();
                failed = hook::reached();
                const std::string now = contents(), where = std::string(c.name) + ", write " +
                                                            std::to_string(failing);
                EXPECT_EQ(open_descriptors(), descriptors) << where;
                EXPECT_TRUE(failed || (status == INI_OK && now == c.after)) << where;
                EXPECT_TRUE(!failed || c.name[0] != 's' || status == edit_failed) << where;
                if (act == hook::Act::fail && durable_build && c.name[0] == 's')
                    EXPECT_TRUE(!failed || (now == before && !exists(path + "-journal"))) << where;
                else if (act == hook::Act::fill_disk)
                    EXPECT_TRUE(now == c.after || now == before ||
                                (now.size() == c.after.size() && failed))
                        << where;
            }
        }
    }
}

} // namespace
