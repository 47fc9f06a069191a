// Exit statuses a script relies on: a command that did nothing never exits 0.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "harness.h"

using Strings = std::vector<std::string>;

namespace {

enum class setup { none, lock_held, lock_unopenable, stdout_full };

struct status_case {
    const char *what;
    std::vector<std::string> args;
    setup before;
    std::map<std::string, std::string> env;
    std::string out;
    int status;
    std::string err;
    std::string last_log;  // "" when the run logs nothing
};

const std::string NO_DATA = "Elabel data is NULL\n";
const std::string SET_ERROR = "[elabel_set] error.\r\n";
const std::string NO_LOCK_FILE =
    "elabel: cannot open the lock file /run/elabel_lock_flag: Is a directory\n";
const std::map<std::string, std::string> NO_BUS = {{"QUELLIX_SIM_FAIL_READ", "all"},
                                                   {"QUELLIX_SIM_FAIL_WRITE", "all"}};

std::string refused(const char *id, const char *byte, int at)
{
    return std::string("elabel_set_run|text for item ") + id + " refused: control byte " + byte +
           " at offset " + std::to_string(at) + "\r\n";
}

} // namespace

class StatusE2e : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        capture_err_ = true;
        put_label(original);
    }
    run_result run_case(const status_case &c)
    {
        std::unique_ptr<lock_holder> other;
        if (c.before == setup::lock_held) {
            other = std::make_unique<lock_holder>();
            EXPECT_TRUE(other->held());
        }
        if (c.before == setup::lock_unopenable) {
            (void)unlink(LOCK_FILE);  // a directory in its place: no run can open it
            EXPECT_EQ(0, mkdir(LOCK_FILE, 0700));
        }
        stdout_path_ = c.before == setup::stdout_full ? "/dev/full" : "";
        const run_result r = run(c.args, c.env);
        stdout_path_.clear();
        if (c.before == setup::lock_unopenable) {
            EXPECT_EQ(0, rmdir(LOCK_FILE));
        }
        return r;
    }
    const std::vector<uint8_t> original = make_label({{0x30, "ACME"}, {0x31, "Widget"}});
};

TEST_F(StatusE2e, FailuresAreNeverReportedAsSuccess)
{
    const std::string version = std::string("elabel ") + ELABEL_VERSION + "\n";
    const status_case cases[] = {
        {"five arguments", {"set", "0x30", "a", "b"}, setup::none, {}, USAGE, 255, "", ""},
        {"set without text", {"set", "0x30"}, setup::none, {}, USAGE, 255, "", ""},
        {"get without id", {"get"}, setup::none, {}, USAGE, 255, "", ""},
        {"unknown word", {"GETALL"}, setup::none, {}, USAGE, 255, "", ""},
        {"getall extra", {"getall", "extra"}, setup::none, {}, USAGE, 255, "", ""},
        {"help with more", {"--help", "x"}, setup::none, {}, USAGE, 255, "", ""},
        {"no arguments", {}, setup::none, {}, USAGE, 0, "", ""},
        {"--help", {"--help"}, setup::none, NO_BUS, USAGE, 0, "", ""},
        {"-h", {"-h"}, setup::none, NO_BUS, USAGE, 0, "", ""},
        {"--version", {"--version"}, setup::none, NO_BUS, version, 0, "", ""},
        {"getall unreadable", {"getall"}, setup::none, NO_BUS, NO_DATA, 255, "",
         "elabel_main|driver_elabel_init failed.\n"},
        {"getall busy", {"getall"}, setup::lock_held, {}, NO_DATA, 248, "",
         "elabel_main|driver_elabel_init failed.\n"},
        {"getall no lock file", {"getall"}, setup::lock_unopenable, {}, NO_DATA, 248, NO_LOCK_FILE,
         "elabel_main|driver_elabel_init failed.\n"},
        {"set no lock file", {"set", "0x31", "x"}, setup::lock_unopenable, {},
         "[elabel_set] elabel init error.\r\n", 248, NO_LOCK_FILE,
         "elabel_set_run|driver_elabel_init error. ret=-8\r\n"},
        {"getall to a full disk", {"getall"}, setup::stdout_full, {}, "", 255,
         "elabel: cannot write standard output: No space left on device\n", ""},
        {"tab and escape", {"set", "0x30", "a\tb\033[31mRED"}, setup::none, {}, SET_ERROR, 250, "",
         refused("0x30", "0x09", 1)},
        {"newline", {"set", "0x50", "one\ntwo"}, setup::none, {}, SET_ERROR, 250, "",
         refused("0x50", "0x0a", 3)},
        {"unit separator", {"set", "0x31", "ab\x1f"}, setup::none, {}, SET_ERROR, 250, "",
         refused("0x31", "0x1f", 2)},
        {"delete", {"set", "0x64", "\x7f"}, setup::none, {}, SET_ERROR, 250, "",
         refused("0x64", "0x7f", 0)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const run_result r = run_case(c);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ(c.last_log, r.log.empty() ? "" : r.messages().back());
        EXPECT_EQ(original, label());
    }
}

TEST_F(StatusE2e, SetToAFullDiskSaysTheLabelWasWritten)
{
    stdout_path_ = "/dev/full";
    const run_result r = run({"set", "0x30", "NEW"});
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("elabel: cannot write standard output: No space left on device; the label was "
              "written\n",
              r.err);
    EXPECT_EQ(make_label({{0x30, "NEW"}, {0x31, "Widget"}}), label());

    // A failure keeps its own status.
    const run_result refused = run({"set", "0x37", "x"});
    EXPECT_EQ(250, refused.status);
    EXPECT_EQ("elabel: cannot write standard output: No space left on device\n", refused.err);
}
