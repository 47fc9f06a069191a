// Exit statuses a script relies on: a command that did nothing never exits 0.
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "harness.h"

class StatusE2e : public E2eTest {};

TEST_F(StatusE2e, FailuresAreNeverReportedAsSuccess)
{
    capture_err_ = true;
    const auto original = make_label({{0x30, "ACME"}});
    put_label(original);
    const std::string no_data = "Elabel data is NULL\n", set_error = "[elabel_set] error.\r\n";
    const std::string no_lock_file = "elabel: cannot open the lock file " + std::string(LOCK_FILE) +
                                     ": Is a directory\n";
    const std::map<std::string, std::string> no_bus = {{"QUELLIX_SIM_FAIL_READ", "all"}};
    const struct {
        std::vector<std::string> args;
        char setup;  // 'b' lock busy, 'd' lock file unopenable, 'f' standard output full
        std::map<std::string, std::string> env;
        std::string out, err, last_log;  // last_log checked when given
        int status;
    } cases[] = {
        {{"set", "0x30", "a", "b"}, 0, {}, USAGE, "", "", 255},
        {{"set", "0x30"}, 0, {}, USAGE, "", "", 255},
        {{"GETALL"}, 0, {}, USAGE, "", "", 255},
        {{"getall"}, 0, no_bus, no_data, "", "", 255},
        {{"getall"}, 'b', {}, no_data, "", "", 248},
        {{"getall"}, 'd', {}, no_data, no_lock_file, "", 248},
        {{"set", "0x31", "x"}, 'd', {}, "[elabel_set] elabel init error.\r\n", no_lock_file, "",
         248},
        {{"getall"}, 'f', {}, "", "elabel: cannot write standard output: No space left on device\n",
         "", 255},
        {{"set", "0x30", "a\tb\033[31mRED"}, 0, {}, set_error, "",
         "elabel_set_run|text for item 0x30 refused: control byte 0x09 at offset 1\r\n", 250},
        {{"set", "0x64", "~\x7f"}, 0, {}, set_error, "",
         "elabel_set_run|text for item 0x64 refused: control byte 0x7f at offset 1\r\n", 250},
        {{"set", "0x50", "\x1f"}, 0, {}, set_error, "",
         "elabel_set_run|text for item 0x50 refused: control byte 0x1f at offset 0\r\n", 250},
        {{"--version"}, 0, no_bus, std::string("elabel ") + ELABEL_VERSION + "\n", "", "", 0},
        {{"-h"}, 0, no_bus, USAGE, "", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        (void)unlink(LOCK_FILE);
        ASSERT_TRUE(c.setup != 'd' || mkdir(LOCK_FILE, 0700) == 0);
        std::optional<lock_holder> other;
        if (c.setup == 'b') {
            ASSERT_TRUE(other.emplace().held());
        }
        stdout_path_ = c.setup == 'f' ? "/dev/full" : "";
        const run_result r = run(c.args, c.env);
        (void)rmdir(LOCK_FILE);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ(c.status, r.status);
        EXPECT_TRUE(c.last_log.empty() || c.last_log == r.messages().back());
        if (c.env == no_bus) {
            EXPECT_EQ(c.status == 0, r.log.empty());  // only a run that touches the bus logs
        }
        EXPECT_EQ(original, label());
    }
    // A set that wrote the label says so when its output is lost.
    stdout_path_ = "/dev/full";
    const run_result r = run({"set", "0x30", "NEW"});
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("elabel: cannot write standard output: No space left on device; the label was "
              "written\n",
              r.err);
    EXPECT_EQ(make_label({{0x30, "NEW"}}), label());
}
